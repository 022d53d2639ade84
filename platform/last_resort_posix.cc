#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/last_resort.h"
#include "platform/last_resort_places.h"

namespace morva {
namespace {

using last_resort::g_places;
using last_resort::Place;

constexpr int kMaxDepth = 64;

// getdents64 fills this; readdir() is not async-signal-safe.
struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

bool EmptyFolder(int fd, int depth, const char* keep);

void RemoveFolderAt(int parent_fd, const char* name, int depth) {
  const int fd =
      openat(parent_fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    EmptyFolder(fd, depth, "");
    close(fd);
  }
  unlinkat(parent_fd, name, AT_REMOVEDIR);
}

// Removes what is in the folder open as fd, except `keep` at its top.
// Returns true when nothing else is left.
bool EmptyFolder(int fd, int depth, const char* keep) {
  struct stat st;
  // Entries of a folder without write permission cannot be removed.
  if (fstat(fd, &st) == 0 && (st.st_mode & 0700) != 0700) {
    fchmod(fd, (st.st_mode | 0700) & 07777);
  }
  // Removing entries while reading the folder may hide some from one read;
  // the next pass finds those, and the last one only counts what is left.
  bool empty = false;
  for (int pass = 0; pass < 3 && !empty; ++pass) {
    if (lseek(fd, 0, SEEK_SET) != 0) return false;
    empty = true;
    alignas(LinuxDirent64) char buffer[2048];
    for (;;) {
      const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
      if (n <= 0) break;
      for (long pos = 0; pos < n;) {
        auto* entry = reinterpret_cast<LinuxDirent64*>(buffer + pos);
        pos += entry->d_reclen;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
            std::strcmp(name, keep) == 0) {
          continue;
        }
        empty = false;
        if (pass == 2) continue;
        // unlinkat without AT_REMOVEDIR removes files and links (never
        // what a link points to) and refuses folders with EISDIR.
        if (unlinkat(fd, name, 0) == 0) continue;
        if (errno == EISDIR && depth < kMaxDepth) {
          RemoveFolderAt(fd, name, depth + 1);
        }
      }
    }
  }
  return empty;
}

}  // namespace

void RemoveRememberedNow() {
  const int saved_errno = errno;
  for (Place& place : g_places) {
    if (!place.used.exchange(false)) continue;
    struct stat st;
    if (fstatat(AT_FDCWD, place.path, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_dev != place.volume || st.st_ino != place.file_id) {
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      unlink(place.path);
      continue;
    }
    const int fd =
        open(place.path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    // The same folder still, now that it is open.
    if (fstat(fd, &st) == 0 && st.st_dev == place.volume &&
        st.st_ino == place.file_id) {
      if (EmptyFolder(fd, 0, place.last) &&
          (place.last[0] == '\0' || unlinkat(fd, place.last, 0) == 0 ||
           errno == ENOENT)) {
        rmdir(place.path);
      }
    }
    close(fd);
  }
  errno = saved_errno;
}

}  // namespace morva
