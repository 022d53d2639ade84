// The POSIX calls the tests use to set up their cases, on every platform.
//
// On POSIX these are the system's own. On Windows the ones it has an
// equivalent for (mkdir with a mode, pipe, lstat, setenv, gmtime_r) map to
// it; the ones it lacks (symbolic links, FIFOs, owners) fail with ENOSYS.
// A test leaves out there the steps that plant a link or a FIFO
// (kCanPlantLinks, kCanPlantFifos) and runs the rest; one whose whole point
// is such a step skips itself there first (SKIP_WITHOUT_LINKS,
// SKIP_ON_WINDOWS).
#ifndef MORVA_TESTS_POSIX_CALLS_H_
#define MORVA_TESTS_POSIX_CALLS_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/files.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>

#include "gtest/gtest.h"

// Skips the test on Windows, saying what Windows lacks for it.
#define SKIP_ON_WINDOWS(what) GTEST_SKIP() << "Windows: " << what
// Windows makes symbolic links only with a privilege, and Wine makes none.
constexpr bool kCanPlantLinks = false;
#define SKIP_WITHOUT_LINKS() \
  SKIP_ON_WINDOWS("no symbolic links without privileges, and Wine makes none")
// Windows has no FIFOs in its file system.
constexpr bool kCanPlantFifos = false;
// Windows removes no folder that is a process's current folder.
constexpr bool kCanRemoveCurrentFolder = false;
// Folders' access lists are not read on Windows: every folder of this user
// counts as shut to others, so none can be planted open to them.
constexpr bool kCanOpenFoldersToOthers = false;
// gmtime_s refuses times before 1970.
constexpr bool kPlatformGmtimeNeedsEpoch = true;

namespace morva::testing::posix {

inline int mkdir(const char* path, int) { return ::_mkdir(path); }
inline int pipe(int fds[2]) { return ::_pipe(fds, 65536, _O_BINARY); }
inline int lstat(const char* path, struct stat* st) { return ::stat(path, st); }
inline int setenv(const char* name, const char* value, int) {
  return ::_putenv_s(name, value);
}
inline int unsetenv(const char* name) { return ::_putenv_s(name, ""); }
inline std::tm* gmtime_r(const std::time_t* t, std::tm* out) {
  return ::gmtime_s(out, t) == 0 ? out : nullptr;
}
inline int Missing() {
  errno = ENOSYS;
  return -1;
}
inline int symlink(const char*, const char*) { return Missing(); }
inline int mkfifo(const char*, int) { return Missing(); }
inline int lchown(const char*, int, int) { return Missing(); }
inline int geteuid() { return 1000; }
// The system's handle behind a C library descriptor.
inline morva::FileHandle HandleOf(int fd) {
  return static_cast<morva::FileHandle>(::_get_osfhandle(fd));
}
inline int chown(const char*, int, int) { return Missing(); }

}  // namespace morva::testing::posix

using namespace morva::testing::posix;  // NOLINT: they stand in for ::
#else
#include <unistd.h>

inline morva::FileHandle HandleOf(int fd) { return fd; }

#define SKIP_ON_WINDOWS(what) static_cast<void>(0)
constexpr bool kCanPlantLinks = true;
#define SKIP_WITHOUT_LINKS() static_cast<void>(0)
constexpr bool kCanPlantFifos = true;
constexpr bool kCanRemoveCurrentFolder = true;
constexpr bool kCanOpenFoldersToOthers = true;
constexpr bool kPlatformGmtimeNeedsEpoch = false;
#endif

#endif  // MORVA_TESTS_POSIX_CALLS_H_
