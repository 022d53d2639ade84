#include "package/temp_folder.h"

#include <cstdlib>

#include "package/cleanup.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva {

ScopedTempFolder::ScopedTempFolder(const std::string& parent,
                                   const std::string& prefix)
    : old_current_folder_(AbsolutePath(".")) {
  // Made through the real file system, not through whatever Files() is now.
  ScopedFileSystem real(RealFiles());
  path_ = CreateUniqueFolder(parent, prefix);
  if (path_.empty()) {
    error_ = ErrnoMessage("mkdir", JoinPath(parent, prefix + "..."));
    return;
  }
  old_tmpdir_ = TempFolderVariable();
  SetTempFolderVariable(path_);
}

ScopedTempFolder::~ScopedTempFolder() {
  RestoreCurrentFolder();
  if (path_.empty()) return;
  SetTempFolderVariable(old_tmpdir_);
  RemoveTree(path_, RealFiles());
}

std::string ScopedTempFolder::Join(const std::string& name) const {
  return JoinPath(path_, name);
}

std::vector<std::string> ScopedTempFolder::List() const {
  std::vector<std::string> names;
  SortedFolderNames(path_, &names, RealFiles());
  return names;
}

void ScopedTempFolder::RestoreCurrentFolder() const {
  // When the folder we started in is gone, nothing sensible is left to do.
  RealFiles()->SetCurrentFolder(old_current_folder_);
}

}  // namespace morva
