#include "package/private_folder.h"

#include <sys/file.h>

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
  struct stat st;
  if (fs_->MkdirAt(AT_FDCWD, path, 0700) != 0) {
    Fail("mkdir", path);
    return;
  }
  if (fs_->StatAt(AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail("stat", path);
    fs_->UnlinkAt(AT_FDCWD, path, AT_REMOVEDIR);
    return;
  }
  path_ = path;
  RememberForLastResort(path_, st, kOwnerFileName);

  const std::string owner = JoinPath(path_, kOwnerFileName);
  const int fd = fs_->OpenAt(
      AT_FDCWD, owner, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND, 0600);
  if (fd < 0) {
    Fail("open", owner);
  } else if (fs_->Flock(fd, LOCK_EX | LOCK_NB) != 0) {
    Fail("flock", owner);
    fs_->Close(fd);
  } else if (fs_->Write(fd, kOwnerHeader, sizeof kOwnerHeader - 1) !=
             static_cast<ssize_t>(sizeof kOwnerHeader - 1)) {
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

bool PrivateFolder::Claim(const std::string& name, const struct stat& st) {
  if (owner_fd_ < 0) return false;
  char line[512];
  const int n = std::snprintf(
      line, sizeof line, "%s %" PRIuMAX " %" PRIuMAX "\n", name.c_str(),
      static_cast<uintmax_t>(st.st_dev), static_cast<uintmax_t>(st.st_ino));
  if (n <= 0 || static_cast<size_t>(n) >= sizeof line) return false;
  // One write per line: O_APPEND keeps lines whole, and a reader ignores a
  // last line without its newline.
  return fs_->Write(owner_fd_, line, static_cast<size_t>(n)) == n;
}

void PrivateFolder::Remove() {
  if (path_.empty()) return;
  const std::string path = std::exchange(path_, "");
  const int fd =
      fs_->OpenAt(AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW, 0);
  if (fd >= 0) {
    // The owner file goes last, and only when everything else went: a
    // folder without it would prove nothing to the next player.
    if (EmptyFolderAt(fs_, fd, kOwnerFileName)) {
      fs_->UnlinkAt(fd, kOwnerFileName, 0);
      fs_->UnlinkAt(AT_FDCWD, path, AT_REMOVEDIR);
    }
    fs_->Close(fd);
  }
  // What is left, if anything, is a later player's sweep to remove, with
  // the owner file that proves it ours: not the last resort's.
  ForgetForLastResort(path);
  // Closing releases the lock: from now on a sweep may take what is left.
  if (owner_fd_ >= 0) fs_->Close(owner_fd_);
  owner_fd_ = -1;
}

ClaimingFiles::ClaimingFiles(FileSystem* target, PrivateFolder* owner,
                             std::function<bool()> ending)
    : FileSystemWrapper(target), owner_(owner), ending_(std::move(ending)) {}

std::string ClaimingFiles::TopLevelName(int dir_fd,
                                        const std::string& path) const {
  const std::string& folder = owner_->temp_folder();
  if (dir_fd != AT_FDCWD || path.size() <= folder.size() + 1 ||
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

void ClaimingFiles::ClaimNew(const std::string& path, const struct stat& st) {
  owner_->Claim(TopLevelName(AT_FDCWD, path), st);
  RememberForLastResort(path, st);
}

int ClaimingFiles::OpenAt(int dir_fd, const std::string& path, int flags,
                          mode_t mode) {
  if ((flags & O_CREAT) && Refused()) return -1;
  const int fd = target()->OpenAt(dir_fd, path, flags, mode);
  struct stat st;
  // Only an exclusive creation proves that the file is ours.
  if (fd >= 0 && (flags & O_CREAT) && (flags & O_EXCL) &&
      !TopLevelName(dir_fd, path).empty() && target()->Fstat(fd, &st) == 0) {
    ClaimNew(path, st);
  }
  return fd;
}

ssize_t ClaimingFiles::Write(int fd, const void* buffer, size_t count) {
  if (Refused()) return -1;
  return target()->Write(fd, buffer, count);
}

int ClaimingFiles::MkdirAt(int dir_fd, const std::string& path, mode_t mode) {
  if (Refused()) return -1;
  const int rc = target()->MkdirAt(dir_fd, path, mode);
  struct stat st;
  if (rc == 0 && !TopLevelName(dir_fd, path).empty() &&
      target()->StatAt(dir_fd, path, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    ClaimNew(path, st);
  }
  return rc;
}

int ClaimingFiles::UnlinkAt(int dir_fd, const std::string& path, int flags) {
  const int rc = target()->UnlinkAt(dir_fd, path, flags);
  if (rc == 0 && !TopLevelName(dir_fd, path).empty()) {
    ForgetForLastResort(path);
  }
  return rc;
}

}  // namespace morva
