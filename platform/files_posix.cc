// The real file system on POSIX.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/attributes.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

int OpenFlagsFor(uint32_t flags) {
  int result = O_CLOEXEC;
  switch (flags & kOpenAccessMask) {
    case kOpenWrite:
      result |= O_WRONLY;
      break;
    case kOpenReadWrite:
      result |= O_RDWR;
      break;
    default:
      result |= O_RDONLY;
  }
  if (flags & kOpenCreate) result |= O_CREAT;
  if (flags & kOpenExclusive) result |= O_EXCL;
  if (flags & kOpenTruncate) result |= O_TRUNC;
  if (flags & kOpenAppend) result |= O_APPEND;
  if (flags & kOpenFolder) result |= O_DIRECTORY;
  if (flags & kOpenNoFollow) result |= O_NOFOLLOW;
  if (flags & kOpenNonBlocking) result |= O_NONBLOCK;
  if (flags & kOpenNoTerminal) result |= O_NOCTTY;
  return result;
}

int FolderFd(FileHandle folder) {
  return folder == kCurrentFolder ? AT_FDCWD : static_cast<int>(folder);
}

FileInfo InfoFromStat(const struct stat& st) {
  FileInfo info;
  if (S_ISREG(st.st_mode)) {
    info.kind = FileKind::kFile;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = FileKind::kFolder;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = FileKind::kLink;
  }
  info.size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  info.allocated = static_cast<uint64_t>(st.st_blocks) * 512;
  info.attributes = AttributesForMode(st.st_mode);
  info.access_time = UnixTimeToFileTime(st.st_atim);
  info.write_time = UnixTimeToFileTime(st.st_mtim);
  info.volume = st.st_dev;
  info.file_id = st.st_ino;
  info.links = static_cast<uint32_t>(st.st_nlink);
  info.mine = st.st_uid == geteuid();
  info.shut_to_others = (st.st_mode & 077) == 0;
  info.permissions = st.st_mode & 07777;
  return info;
}

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
  FileHandle OpenAt(FileHandle folder, const std::string& path, uint32_t flags,
                    uint32_t permissions) override {
    int fd;
    do {
      fd = openat(FolderFd(folder), path.c_str(), OpenFlagsFor(flags),
                  static_cast<mode_t>(permissions));
    } while (fd < 0 && errno == EINTR);
    return fd;
  }
  int64_t Read(FileHandle file, void* buffer, size_t count) override {
    return read(static_cast<int>(file), buffer, count);
  }
  int64_t Write(FileHandle file, const void* buffer, size_t count) override {
    return write(static_cast<int>(file), buffer, count);
  }
  int64_t Seek(FileHandle file, int64_t offset, SeekFrom from) override {
    const int whence = from == SeekFrom::kStart     ? SEEK_SET
                       : from == SeekFrom::kCurrent ? SEEK_CUR
                                                    : SEEK_END;
    return lseek(static_cast<int>(file), static_cast<off_t>(offset), whence);
  }
  int Stat(FileHandle file, FileInfo* info) override {
    struct stat st;
    if (fstat(static_cast<int>(file), &st) != 0) return -1;
    *info = InfoFromStat(st);
    return 0;
  }
  int StatAt(FileHandle folder, const std::string& path, FileInfo* info,
             bool follow_links) override {
    struct stat st;
    if (fstatat(FolderFd(folder), path.c_str(), &st,
                follow_links ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
      return -1;
    }
    *info = InfoFromStat(st);
    return 0;
  }
  int Close(FileHandle file) override { return close(static_cast<int>(file)); }
  FileHandle Dup(FileHandle file) override {
    return fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0);
  }
  int RemoveAt(FileHandle folder, const std::string& path,
               RemoveKind kind) override {
    return unlinkat(FolderFd(folder), path.c_str(),
                    kind == RemoveKind::kFolder ? AT_REMOVEDIR : 0);
  }
  int MakeFolderAt(FileHandle folder, const std::string& path,
                   uint32_t permissions) override {
    return mkdirat(FolderFd(folder), path.c_str(),
                   static_cast<mode_t>(permissions));
  }
  int Truncate(FileHandle file, int64_t length) override {
    return ftruncate(static_cast<int>(file), static_cast<off_t>(length));
  }
  int SetPermissions(FileHandle file, uint32_t permissions) override {
    return fchmod(static_cast<int>(file), static_cast<mode_t>(permissions));
  }
  int SetPermissionsAt(FileHandle folder, const std::string& path,
                       uint32_t permissions) override {
    return fchmodat(FolderFd(folder), path.c_str(),
                    static_cast<mode_t>(permissions), 0);
  }
  int SetAttributes(FileHandle, uint32_t) override { return 0; }
  int SetTimes(FileHandle file, const FileTime*, const FileTime* access,
               const FileTime* write) override {
    UnixTime times[2];
    times[0] = access != nullptr ? FileTimeToUnixTime(*access)
                                 : UnixTime{0, UTIME_OMIT};
    times[1] =
        write != nullptr ? FileTimeToUnixTime(*write) : UnixTime{0, UTIME_OMIT};
    return futimens(static_cast<int>(file), times);
  }
  int SetCurrentFolder(const std::string& path) override {
    return chdir(path.c_str());
  }
  int FreeSpace(const std::string& path, uint64_t* available) override {
    struct statvfs st;
    if (statvfs(path.c_str(), &st) != 0) return -1;
    // Saturates rather than wraps: a huge volume is simply large enough.
    const uint64_t unit = st.f_frsize != 0 ? st.f_frsize : st.f_bsize;
    uint64_t bytes = 0;
    if (__builtin_mul_overflow(uint64_t{st.f_bavail}, unit, &bytes)) {
      bytes = std::numeric_limits<uint64_t>::max();
    }
    *available = bytes;
    return 0;
  }
  int Lock(FileHandle file, LockKind kind, bool wait) override {
    const int operation =
        (kind == LockKind::kShared ? LOCK_SH : LOCK_EX) | (wait ? 0 : LOCK_NB);
    int rc;
    do {
      rc = flock(static_cast<int>(file), operation);
    } while (rc != 0 && errno == EINTR);
    return rc;
  }
  int ListFolder(FileHandle folder, std::vector<DirEntry>* entries) override {
    const int dir_fd = static_cast<int>(folder);
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

}  // namespace

FileSystem* RealFiles() {
  static PosixFileSystem real;
  return &real;
}

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && env[0] != '\0') {
    std::string folder(env);
    while (folder.size() > 1 && folder.back() == kPathSeparator)
      folder.pop_back();
    FileInfo info;
    if (Files()->StatAt(kCurrentFolder, folder, &info, true) == 0 &&
        info.kind == FileKind::kFolder) {
      folder = AbsolutePath(folder);
      if (folder[0] == kPathSeparator) return folder;
    }
  }
  return "/tmp";
}

std::optional<std::string> TempFolderVariable() {
  const char* value = std::getenv("TMPDIR");
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetTempFolderVariable(const std::optional<std::string>& value) {
  if (value) {
    setenv("TMPDIR", value->c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

uint32_t RandomNumber() {
  static uint32_t fallback = static_cast<uint32_t>(getpid()) * 2654435761u;
  uint32_t value = 0;
  if (getrandom(&value, sizeof value, 0) == sizeof value) return value;
  return fallback++;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == kPathSeparator) return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string result = JoinPath(cwd, path);
  std::free(cwd);
  return result;
}

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string result(resolved);
  std::free(resolved);
  return result;
}

int MoveIntoPlace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str());
}

bool CanExecute(const std::string& path) {
  return access(path.c_str(), X_OK) == 0;
}

int SetPermissionsAsNew(FileHandle file, uint32_t permissions) {
  const mode_t mask = umask(0);
  umask(mask);
  return fchmod(static_cast<int>(file), permissions & ~mask & 07777);
}

}  // namespace morva
