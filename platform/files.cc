#include "platform/files.h"

#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/path.h"

namespace morva {

std::string TempFolder() {
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr && env[0] != '\0') {
    std::string folder(env);
    while (folder.size() > 1 && folder.back() == kPathSeparator)
      folder.pop_back();
    struct stat st;
    if (Files()->StatAt(AT_FDCWD, folder, &st, 0) == 0 && S_ISDIR(st.st_mode)) {
      folder = AbsolutePath(folder);
      if (folder[0] == kPathSeparator) return folder;
    }
  }
  return "/tmp";
}

namespace {

// Makes "<folder>/<prefix><8 hex digits><suffix>" with `create`, which
// returns false with errno set when it cannot. Random names make a clash
// unlikely; creating exclusively makes one harmless. Gives up after a
// bounded number of tries so a full or hostile folder cannot hang us.
template <typename Create>
std::string CreateUnique(const std::string& folder, const std::string& prefix,
                         const char* suffix, Create create) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint32_t value = 0;
    if (getrandom(&value, sizeof value, 0) != sizeof value) {
      value = static_cast<uint32_t>(getpid()) * 2654435761u + attempt;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%08X%s", value, suffix);
    std::string path = JoinPath(folder, prefix + name);
    if (create(path)) return path;
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

void ListBelow(FileSystem* fs, int dir_fd, const std::string& relative,
               std::vector<std::string>* out) {
  std::vector<DirEntry> entries;
  if (fs->ListFolder(dir_fd, &entries) != 0) return;
  for (const DirEntry& entry : entries) {
    const std::string child =
        relative.empty() ? entry.name : JoinPath(relative, entry.name);
    if (!entry.is_dir) {
      out->push_back(child);
      continue;
    }
    out->push_back(child + kPathSeparator);
    const int sub =
        fs->OpenAt(dir_fd, entry.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
    if (sub >= 0) {
      ListBelow(fs, sub, child, out);
      fs->Close(sub);
    }
  }
}

}  // namespace

std::string CreateUniqueTempFile(const std::string& folder,
                                 const std::string& prefix) {
  return CreateUnique(folder, prefix, ".tmp", [](const std::string& path) {
    const int fd = Files()->OpenAt(
        AT_FDCWD, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    Files()->Close(fd);
    return true;
  });
}

std::string CreateUniqueFolder(const std::string& folder,
                               const std::string& prefix, mode_t mode) {
  return CreateUnique(folder, prefix, "", [mode](const std::string& path) {
    return Files()->MkdirAt(AT_FDCWD, path, mode) == 0;
  });
}

bool PathExists(const std::string& path) {
  struct stat st;
  return Files()->StatAt(AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool MakeFolder(const std::string& path, mode_t mode) {
  return Files()->MkdirAt(AT_FDCWD, path, mode) == 0;
}

bool RemoveFile(const std::string& path, bool* gone) {
  if (gone != nullptr) *gone = false;
  if (Files()->UnlinkAt(AT_FDCWD, path, 0) == 0) return true;
  if (gone != nullptr && errno == ENOENT) *gone = true;
  return false;
}

int64_t FileLength(int fd) {
  struct stat st;
  if (Files()->Fstat(fd, &st) != 0) return -1;
  return st.st_size;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == kPathSeparator) return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string result = JoinPath(cwd, path);
  std::free(cwd);
  return result;
}

std::vector<std::string> ListTree(const std::string& folder, FileSystem* fs) {
  std::vector<std::string> paths;
  const int fd = fs->OpenAt(AT_FDCWD, folder, O_RDONLY | O_DIRECTORY, 0);
  if (fd < 0) return paths;
  ListBelow(fs, fd, "", &paths);
  fs->Close(fd);
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::string ErrnoMessage(const char* call, const std::string& path) {
  std::string message(call);
  message += "(" + path + "): ";
  message += std::strerror(errno);
  return message;
}

bool ReadWholeFile(const std::string& path, std::string* bytes,
                   std::string* err) {
  bytes->clear();
  FileSystem* fs = Files();
  const int fd = fs->OpenAt(AT_FDCWD, path, O_RDONLY, 0);
  if (fd < 0) {
    if (err != nullptr) *err = ErrnoMessage("open", path);
    return false;
  }
  struct stat st;
  if (fs->Fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    bytes->reserve(static_cast<size_t>(st.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ReadFully(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (err != nullptr) *err = ErrnoMessage("read", path);
      fs->Close(fd);
      bytes->clear();
      return false;
    }
    bytes->append(buffer, static_cast<size_t>(n));
    if (static_cast<size_t>(n) < sizeof buffer) break;
  }
  fs->Close(fd);
  return true;
}

ssize_t ReadFully(int fd, void* buffer, size_t count) {
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t n = Files()->Read(fd, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool WriteFully(int fd, const void* buffer, size_t count) {
  size_t done = 0;
  const char* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = Files()->Write(fd, in + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace morva
