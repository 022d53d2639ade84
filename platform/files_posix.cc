// The real file system on POSIX.
#include <dirent.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/files.h"

namespace morva {
namespace {

class PosixFileSystem : public FileSystem {
 public:
  std::string ModuleFileName() override {
    // The executable as the kernel knows it; a path may be longer than the
    // 260 characters Windows allots, so read it without a fixed cap.
    std::string path(PATH_MAX, '\0');
    ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0 || static_cast<size_t>(n) >= path.size()) return std::string();
    path.resize(static_cast<size_t>(n));
    return path;
  }
  int OpenAt(int dir_fd, const std::string& path, int flags,
             mode_t mode) override {
    int fd;
    do {
      fd = openat(dir_fd, path.c_str(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
  }
  ssize_t Read(int fd, void* buffer, size_t count) override {
    return read(fd, buffer, count);
  }
  ssize_t Write(int fd, const void* buffer, size_t count) override {
    return write(fd, buffer, count);
  }
  off_t Seek(int fd, off_t offset, int whence) override {
    return lseek(fd, offset, whence);
  }
  int Fstat(int fd, struct stat* st) override { return fstat(fd, st); }
  int StatAt(int dir_fd, const std::string& path, struct stat* st,
             int flags) override {
    return fstatat(dir_fd, path.c_str(), st, flags);
  }
  int Close(int fd) override { return close(fd); }
  int Dup(int fd) override { return fcntl(fd, F_DUPFD_CLOEXEC, 0); }
  int UnlinkAt(int dir_fd, const std::string& path, int flags) override {
    return unlinkat(dir_fd, path.c_str(), flags);
  }
  int MkdirAt(int dir_fd, const std::string& path, mode_t mode) override {
    return mkdirat(dir_fd, path.c_str(), mode);
  }
  int Ftruncate(int fd, off_t length) override { return ftruncate(fd, length); }
  int Fchmod(int fd, mode_t mode) override { return fchmod(fd, mode); }
  int ChmodAt(int dir_fd, const std::string& path, mode_t mode) override {
    return fchmodat(dir_fd, path.c_str(), mode, 0);
  }
  int Futimens(int fd, const struct timespec times[2]) override {
    return futimens(fd, times);
  }
  int Chdir(const std::string& path) override { return chdir(path.c_str()); }
  int StatVfs(const std::string& path, struct statvfs* st) override {
    return statvfs(path.c_str(), st);
  }
  int Flock(int fd, int operation) override {
    int rc;
    do {
      rc = flock(fd, operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
  }
  int ListFolder(int dir_fd, std::vector<DirEntry>* entries) override {
    // fdopendir takes over the descriptor it is given: hand it a copy.
    int copy = fcntl(dir_fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return -1;
    DIR* dir = fdopendir(copy);
    if (dir == nullptr) {
      int saved = errno;
      close(copy);
      errno = saved;
      return -1;
    }
    rewinddir(dir);
    entries->clear();
    errno = 0;
    while (struct dirent* e = readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
        continue;
      DirEntry entry;
      entry.name = e->d_name;
      entry.inode = e->d_ino;
      if (e->d_type == DT_UNKNOWN) {
        // Some file systems leave the type out; ask without following links.
        struct stat st;
        entry.is_dir =
            fstatat(dir_fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode);
      } else {
        entry.is_dir = e->d_type == DT_DIR;
      }
      entries->push_back(std::move(entry));
      errno = 0;
    }
    int saved = errno;
    closedir(dir);
    errno = saved;
    return saved == 0 ? 0 : -1;
  }
};

FileSystem*& Installed() {
  static FileSystem* installed = nullptr;
  return installed;
}

}  // namespace

FileSystem* RealFiles() {
  static PosixFileSystem real;
  return &real;
}

FileSystem* Files() {
  FileSystem* fs = Installed();
  return fs != nullptr ? fs : RealFiles();
}

ModuleOverride::ModuleOverride(std::string module, FileSystem* target)
    : FileSystemWrapper(target != nullptr ? target : RealFiles()),
      module_(std::move(module)) {}

ScopedFileSystem::ScopedFileSystem(FileSystem* fs) : previous_(Installed()) {
  Installed() = fs;
}

ScopedFileSystem::~ScopedFileSystem() { Installed() = previous_; }

}  // namespace morva
