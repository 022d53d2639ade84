// Removing what a launch left on disk.
#ifndef MORVA_PACKAGE_CLEANUP_H_
#define MORVA_PACKAGE_CLEANUP_H_

#include <functional>
#include <string>

#include "platform/files.h"

namespace morva {

// Removes folder with everything below it, depth first. Links are removed as
// links and never followed, also when a folder is swapped for a link during
// the walk; read-only files and folders are removed too. A file that cannot
// be removed stays, with the folders above it, and the walk goes on. Returns
// true when folder itself was removed at the end.
//
// As a side effect that the player's cleanup has always had, the process's
// current folder moves up one level ("..") for every folder the walk removes
// or tries to remove, folder itself included. This is the player's cleanup,
// not a general remover: use RemoveTree for that.
bool DeleteDirTree(const std::string& folder);

// Removes path, a file, a link or a folder with everything below it, the
// same way as DeleteDirTree but without touching the current folder, on the
// file system `fs`. Returns true when nothing is left at path (also when
// nothing was there).
bool RemoveTree(const std::string& path, FileSystem* fs = Files());

// Empties the folder open as dir_fd the way DeleteDirTree does, but leaves
// the current folder where it is, so other threads may run it. Entries named
// `keep` at the top stay. `stop` (when set) is asked before each entry;
// once it returns true the walk ends. Returns true when nothing but `keep`
// is left at the top.
bool EmptyFolderAt(FileSystem* fs, FileHandle dir_fd,
                   const std::string& keep = "",
                   const std::function<bool()>& stop = nullptr);

// The cleanup when the player window is destroyed: removes the work folder
// the launch created (nothing when it created none), then the temporary
// archive if its path is still set.
void RemoveLaunchFiles(const std::string& work_folder,
                       const std::string& temp_zip_path);

}  // namespace morva

#endif  // MORVA_PACKAGE_CLEANUP_H_
