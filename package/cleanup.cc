#include "package/cleanup.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/files.h"

namespace morva {
namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;

struct Walk {
  FileSystem* fs;
  // Move the current folder up one level for every subfolder, as the
  // player's cleanup does; a walk on another thread must not.
  bool climb;
  // Asked before each entry; once it returns true the walk ends.
  const std::function<bool()>* stop;
};

const std::function<bool()> kNever;

// Empties the folder open as dir_fd. Everything is reached relative to a
// descriptor opened without following links, so a folder replaced by a link
// while we walk cannot send the removal elsewhere. Returns true when only
// `keep` (if anything) is left.
bool DeleteContents(const Walk& walk, int dir_fd, const std::string& keep) {
  FileSystem* fs = walk.fs;
  // Entries of a folder without write permission cannot be removed, even
  // when the files themselves are read-only by intent: open it up first.
  struct stat st;
  if (fs->Fstat(dir_fd, &st) == 0 && (st.st_mode & 0700) != 0700) {
    fs->Fchmod(dir_fd, (st.st_mode | 0700) & 07777);
  }
  std::vector<DirEntry> entries;
  if (fs->ListFolder(dir_fd, &entries) != 0) return false;
  // In inode order rather than the folder's own (hashed) order: ext4 keeps
  // inodes in tables on disk, and removing them in their order updates each
  // block of the table once instead of going back and forth between them.
  std::sort(
      entries.begin(), entries.end(),
      [](const DirEntry& a, const DirEntry& b) { return a.inode < b.inode; });
  bool empty = true;
  for (const DirEntry& entry : entries) {
    if (entry.name == keep) continue;
    if (*walk.stop && (*walk.stop)()) return false;
    int rc;
    if (entry.is_dir) {
      int sub = fs->OpenAt(dir_fd, entry.name, kOpenFolder, 0);
      if (sub >= 0) {
        DeleteContents(walk, sub, "");
        fs->Close(sub);
      }
      if (walk.climb) fs->Chdir("..");
      rc = fs->UnlinkAt(dir_fd, entry.name, AT_REMOVEDIR);
    } else {
      rc = fs->UnlinkAt(dir_fd, entry.name, 0);
    }
    if (rc != 0 && errno != ENOENT) empty = false;
  }
  return empty;
}

}  // namespace

bool DeleteDirTree(const std::string& folder) {
  FileSystem* fs = Files();
  int fd = fs->OpenAt(AT_FDCWD, folder, kOpenFolder, 0);
  if (fd >= 0) {
    DeleteContents({fs, true, &kNever}, fd, "");
    fs->Close(fd);
  }
  fs->Chdir("..");
  return fs->UnlinkAt(AT_FDCWD, folder, AT_REMOVEDIR) == 0;
}

bool RemoveTree(const std::string& path, FileSystem* fs) {
  struct stat st;
  if (fs->StatAt(AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  if (!S_ISDIR(st.st_mode)) return fs->UnlinkAt(AT_FDCWD, path, 0) == 0;
  const int fd = fs->OpenAt(AT_FDCWD, path, kOpenFolder, 0);
  if (fd >= 0) {
    DeleteContents({fs, false, &kNever}, fd, "");
    fs->Close(fd);
  }
  return fs->UnlinkAt(AT_FDCWD, path, AT_REMOVEDIR) == 0;
}

bool EmptyFolderAt(FileSystem* fs, int dir_fd, const std::string& keep,
                   const std::function<bool()>& stop) {
  return DeleteContents({fs, false, &stop}, dir_fd, keep);
}

void RemoveLaunchFiles(const std::string& work_folder,
                       const std::string& temp_zip_path) {
  if (!work_folder.empty()) DeleteDirTree(work_folder);
  if (!temp_zip_path.empty()) RemoveFile(temp_zip_path);
}

}  // namespace morva
