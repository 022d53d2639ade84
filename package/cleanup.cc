#include "package/cleanup.h"

#include <cerrno>
#include <vector>

#include "platform/files.h"

namespace morva {
namespace {

constexpr int kOpenFolder = O_RDONLY | O_DIRECTORY | O_NOFOLLOW;

// Empties the folder open as dir_fd. Everything is reached relative to a
// descriptor opened without following links, so a folder replaced by a link
// while we walk cannot send the removal elsewhere. `climb`: move the current
// folder up one level for every subfolder, as the player's cleanup does.
void DeleteContents(FileSystem* fs, int dir_fd, bool climb) {
  // Entries of a folder without write permission cannot be removed, even
  // when the files themselves are read-only by intent: open it up first.
  struct stat st;
  if (fs->Fstat(dir_fd, &st) == 0 && (st.st_mode & 0700) != 0700) {
    fs->Fchmod(dir_fd, (st.st_mode | 0700) & 07777);
  }
  std::vector<DirEntry> entries;
  if (fs->ListFolder(dir_fd, &entries) != 0) return;
  for (const DirEntry& entry : entries) {
    if (entry.is_dir) {
      int sub = fs->OpenAt(dir_fd, entry.name, kOpenFolder, 0);
      if (sub >= 0) {
        DeleteContents(fs, sub, climb);
        fs->Close(sub);
      }
      if (climb) fs->Chdir("..");
      fs->UnlinkAt(dir_fd, entry.name, AT_REMOVEDIR);
    } else {
      fs->UnlinkAt(dir_fd, entry.name, 0);
    }
  }
}

}  // namespace

bool DeleteDirTree(const std::string& folder) {
  FileSystem* fs = Files();
  int fd = fs->OpenAt(AT_FDCWD, folder, kOpenFolder, 0);
  if (fd >= 0) {
    DeleteContents(fs, fd, true);
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
    DeleteContents(fs, fd, false);
    fs->Close(fd);
  }
  return fs->UnlinkAt(AT_FDCWD, path, AT_REMOVEDIR) == 0;
}

void RemoveLaunchFiles(const std::string& work_folder,
                       const std::string& temp_zip_path) {
  if (!work_folder.empty()) DeleteDirTree(work_folder);
  if (!temp_zip_path.empty()) RemoveFile(temp_zip_path);
}

}  // namespace morva
