#include "package/private_folder.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <utility>

#include "package/cleanup.h"
#include "platform/last_resort.h"
#include "platform/path.h"

namespace morva {

PrivateFolder::PrivateFolder(const std::string& temp_folder)
    : fs_(Files()), temp_folder_(temp_folder) {
  // The unique name's file makes way for a folder, as the work folder's
  // does; mkdir is exclusive and never follows a link planted meanwhile.
  const std::string path = CreateUniqueTempFile(temp_folder, kPrivatePrefix);
  if (path.empty()) {
    Fail("open", JoinPath(temp_folder, std::string(kPrivatePrefix) + "*.tmp"));
    return;
  }
  RemoveFile(path);
  FileInfo info;
  if (fs_->MakeFolderAt(kCurrentFolder, path, 0700) != 0) {
    Fail("mkdir", path);
    return;
  }
  if (fs_->StatAt(kCurrentFolder, path, &info, false) != 0) {
    Fail("stat", path);
    fs_->RemoveAt(kCurrentFolder, path, RemoveKind::kFolder);
    return;
  }
  path_ = path;
  RememberForLastResort(path_, info, kOwnerFileName);

  const std::string owner = JoinPath(path_, kOwnerFileName);
  const FileHandle fd =
      fs_->OpenAt(kCurrentFolder, owner,
                  kOpenReadWrite | kOpenCreate | kOpenExclusive |
                      kOpenNoFollow | kOpenAppend,
                  0600);
  if (fd < 0) {
    Fail("open", owner);
  } else if (fs_->Lock(fd, LockKind::kExclusive, false) != 0) {
    Fail("flock", owner);
    fs_->Close(fd);
  } else if (fs_->Write(fd, kOwnerHeader, sizeof kOwnerHeader - 1) !=
             static_cast<int64_t>(sizeof kOwnerHeader - 1)) {
    Fail("write", owner);
    fs_->Close(fd);
  } else {
    owner_fd_ = fd;
    return;
  }
  Remove();
}

PrivateFolder::~PrivateFolder() { Remove(); }

void PrivateFolder::Fail(const char* call, const std::string& path) {
  error_ = ErrnoMessage(call, path);
}

bool PrivateFolder::Claim(const std::string& name, const FileInfo& info) {
  if (owner_fd_ < 0) return false;
  char line[512];
  const int n =
      std::snprintf(line, sizeof line, "%s %" PRIuMAX " %" PRIuMAX "\n",
                    name.c_str(), static_cast<uintmax_t>(info.volume),
                    static_cast<uintmax_t>(info.file_id));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof line) return false;
  // One write per line: O_APPEND keeps lines whole, and a reader ignores a
  // last line without its newline.
  return fs_->Write(owner_fd_, line, static_cast<size_t>(n)) == n;
}

void PrivateFolder::Remove() {
  if (path_.empty()) return;
  const std::string path = std::exchange(path_, "");
  const FileHandle fd = fs_->OpenAt(kCurrentFolder, path,
                                    kOpenRead | kOpenFolder | kOpenNoFollow, 0);
  if (fd >= 0) {
    // The owner file goes last, and only when everything else went: a
    // folder without it would prove nothing to the next player.
    if (EmptyFolderAt(fs_, fd, kOwnerFileName)) {
      if (kOpenFilesKeepTheirNames && owner_fd_ >= 0) {
        fs_->Close(owner_fd_);
        owner_fd_ = kNoFile;
      }
      fs_->RemoveAt(fd, kOwnerFileName, RemoveKind::kFile);
      fs_->RemoveAt(kCurrentFolder, path, RemoveKind::kFolder);
    }
    fs_->Close(fd);
  }
  // What is left, if anything, is a later player's sweep to remove, with
  // the owner file that proves it ours: not the last resort's.
  ForgetForLastResort(path);
  // Closing releases the lock: from now on a sweep may take what is left.
  if (owner_fd_ >= 0) fs_->Close(owner_fd_);
  owner_fd_ = kNoFile;
}

ClaimingFiles::ClaimingFiles(FileSystem* target, PrivateFolder* owner,
                             std::function<bool()> ending)
    : FileSystemWrapper(target), owner_(owner), ending_(std::move(ending)) {}

std::string ClaimingFiles::TopLevelName(FileHandle dir_fd,
                                        const std::string& path) const {
  const std::string& folder = owner_->temp_folder();
  if (dir_fd != kCurrentFolder || path.size() <= folder.size() + 1 ||
      path.compare(0, folder.size(), folder) != 0 ||
      path[folder.size()] != kPathSeparator) {
    return "";
  }
  std::string name = path.substr(folder.size() + 1);
  return name.find(kPathSeparator) == std::string::npos ? name : "";
}

bool ClaimingFiles::Refused() {
  if (!ending_ || !ending_()) return false;
  errno = ECANCELED;
  return true;
}

void ClaimingFiles::ClaimNew(const std::string& path, const FileInfo& info) {
  owner_->Claim(TopLevelName(kCurrentFolder, path), info);
  RememberForLastResort(path, info);
}

FileHandle ClaimingFiles::OpenAt(FileHandle dir_fd, const std::string& path,
                                 uint32_t flags, uint32_t permissions) {
  if ((flags & kOpenCreate) && Refused()) return kNoFile;
  const FileHandle fd = target()->OpenAt(dir_fd, path, flags, permissions);
  FileInfo info;
  // Only an exclusive creation proves that the file is ours.
  if (fd >= 0 && (flags & kOpenCreate) && (flags & kOpenExclusive) &&
      !TopLevelName(dir_fd, path).empty() && target()->Stat(fd, &info) == 0) {
    ClaimNew(path, info);
  }
  return fd;
}

int64_t ClaimingFiles::Write(FileHandle fd, const void* buffer, size_t count) {
  if (Refused()) return -1;
  return target()->Write(fd, buffer, count);
}

int ClaimingFiles::MakeFolderAt(FileHandle dir_fd, const std::string& path,
                                uint32_t permissions) {
  if (Refused()) return -1;
  const int rc = target()->MakeFolderAt(dir_fd, path, permissions);
  FileInfo info;
  if (rc == 0 && !TopLevelName(dir_fd, path).empty() &&
      target()->StatAt(dir_fd, path, &info, false) == 0) {
    ClaimNew(path, info);
  }
  return rc;
}

int ClaimingFiles::RemoveAt(FileHandle dir_fd, const std::string& path,
                            RemoveKind kind) {
  const int rc = target()->RemoveAt(dir_fd, path, kind);
  if (rc == 0 && !TopLevelName(dir_fd, path).empty()) {
    ForgetForLastResort(path);
  }
  return rc;
}

}  // namespace morva
