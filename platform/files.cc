#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/path.h"

namespace morva {

namespace {

// Makes "<folder>/<prefix><8 hex digits><suffix>" with `create`, which
// returns false with errno set when it cannot. Random names make a clash
// unlikely; creating exclusively makes one harmless. Gives up after a
// bounded number of tries so a full or hostile folder cannot hang us.
template <typename Create>
std::string CreateUnique(const std::string& folder, const std::string& prefix,
                         const char* suffix, Create create) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint32_t value = RandomNumber();
    char name[32];
    std::snprintf(name, sizeof name, "%08X%s", value, suffix);
    std::string path = JoinPath(folder, prefix + name);
    if (create(path)) return path;
    if (errno != EEXIST) return std::string();
  }
  return std::string();
}

void ListBelow(FileSystem* fs, FileHandle dir_fd, const std::string& relative,
               std::vector<std::string>* out) {
  std::vector<DirEntry> entries;
  if (fs->ListFolder(dir_fd, &entries) != 0) return;
  for (const DirEntry& entry : entries) {
    const std::string child =
        relative.empty() ? entry.name : relative + '/' + entry.name;
    if (!entry.is_dir) {
      out->push_back(child);
      continue;
    }
    out->push_back(child + '/');
    const FileHandle sub = fs->OpenAt(
        dir_fd, entry.name, kOpenRead | kOpenFolder | kOpenNoFollow, 0);
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
    const FileHandle fd = Files()->OpenAt(
        kCurrentFolder, path,
        kOpenWrite | kOpenCreate | kOpenExclusive | kOpenNoFollow, 0600);
    if (fd < 0) return false;
    Files()->Close(fd);
    return true;
  });
}

std::string CreateUniqueFolder(const std::string& folder,
                               const std::string& prefix,
                               uint32_t permissions) {
  return CreateUnique(
      folder, prefix, "", [permissions](const std::string& path) {
        return Files()->MakeFolderAt(kCurrentFolder, path, permissions) == 0;
      });
}

bool PathExists(const std::string& path) {
  FileInfo info;
  return Files()->StatAt(kCurrentFolder, path, &info, false) == 0;
}

bool MakeFolder(const std::string& path, uint32_t permissions) {
  return Files()->MakeFolderAt(kCurrentFolder, path, permissions) == 0;
}

bool RemoveFile(const std::string& path, bool* gone) {
  if (gone != nullptr) *gone = false;
  if (Files()->RemoveAt(kCurrentFolder, path, RemoveKind::kFile) == 0)
    return true;
  if (gone != nullptr && errno == ENOENT) *gone = true;
  return false;
}

int64_t FileLength(FileHandle file) {
  FileInfo info;
  if (Files()->Stat(file, &info) != 0) return -1;
  return static_cast<int64_t>(info.size);
}

std::vector<std::string> ListTree(const std::string& folder, FileSystem* fs) {
  std::vector<std::string> paths;
  const FileHandle fd =
      fs->OpenAt(kCurrentFolder, folder, kOpenRead | kOpenFolder, 0);
  if (fd < 0) return paths;
  ListBelow(fs, fd, "", &paths);
  fs->Close(fd);
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool SortedFolderNames(const std::string& folder,
                       std::vector<std::string>* names, FileSystem* fs) {
  names->clear();
  const FileHandle fd =
      fs->OpenAt(kCurrentFolder, folder, kOpenRead | kOpenFolder, 0);
  if (fd < 0) return false;
  std::vector<DirEntry> entries;
  const bool listed = fs->ListFolder(fd, &entries) == 0;
  const int saved = errno;
  fs->Close(fd);
  errno = saved;
  if (!listed) return false;
  for (DirEntry& entry : entries) names->push_back(std::move(entry.name));
  std::sort(names->begin(), names->end());
  return true;
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
  const FileHandle fd = fs->OpenAt(kCurrentFolder, path, kOpenRead, 0);
  if (fd < 0) {
    if (err != nullptr) *err = ErrnoMessage("open", path);
    return false;
  }
  FileInfo info;
  if (fs->Stat(fd, &info) == 0 && info.kind == FileKind::kFile &&
      info.size > 0) {
    bytes->reserve(static_cast<size_t>(info.size));
  }
  char buffer[65536];
  for (;;) {
    const int64_t n = ReadFully(fd, buffer, sizeof buffer);
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

int64_t ReadFully(FileHandle fd, void* buffer, size_t count) {
  size_t done = 0;
  char* out = static_cast<char*>(buffer);
  while (done < count) {
    const int64_t n = Files()->Read(fd, out + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

int64_t ReadFullyAt(FileHandle file, void* buffer, size_t count,
                    uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      Files()->Seek(file, static_cast<int64_t>(offset), SeekFrom::kStart) < 0)
    return -1;
  return ReadFully(file, buffer, count);
}

bool WriteFully(FileHandle fd, const void* buffer, size_t count) {
  size_t done = 0;
  const char* in = static_cast<const char*>(buffer);
  while (done < count) {
    const int64_t n = Files()->Write(fd, in + done, count - done);
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

namespace {

FileSystem*& Installed() {
  static FileSystem* installed = nullptr;
  return installed;
}

}  // namespace

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
