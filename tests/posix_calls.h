// The POSIX calls the tests use to set up their cases, on every platform.
//
// On POSIX these are the system's own. On Windows the ones it has an
// equivalent for (mkdir with a mode, pipe, lstat, setenv, gmtime_r) map to
// it; the ones it lacks (symbolic links, FIFOs, owners) fail with ENOSYS, and
// the tests that need them skip themselves there first (SKIP_ON_WINDOWS).
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
constexpr bool kPlatformGmtimeNeedsEpoch = false;
#endif

#endif  // MORVA_TESTS_POSIX_CALLS_H_
