// A private temporary folder for a stretch of code: while it lives, the
// temporary folder variable (TMPDIR; TMP and TEMP on Windows) points at it, so
// everything the player's code puts in the temporary folder lands in it and
// nothing else is touched. The packer checks a tour in one; tests work in one.
#ifndef MORVA_PACKAGE_TEMP_FOLDER_H_
#define MORVA_PACKAGE_TEMP_FOLDER_H_

#include <optional>
#include <string>
#include <vector>

namespace morva {

// Makes the folder on construction. On destruction restores the variable and
// the current folder (the player's cleanup moves the latter), then removes the
// folder with everything in it, read-only files and folders included. The
// folder is made and removed on the real file system, whatever file system
// is installed for the code that runs in it.
class ScopedTempFolder {
 public:
  // Makes "<parent>/<prefix><hex digits>" with mode 0700.
  ScopedTempFolder(const std::string& parent, const std::string& prefix);
  ~ScopedTempFolder();
  ScopedTempFolder(const ScopedTempFolder&) = delete;
  ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

  // False when the folder could not be made; error() says why, and the
  // variable is left as it was.
  bool ok() const { return !path_.empty(); }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const;
  // Names in the folder (not below it), sorted.
  std::vector<std::string> List() const;
  // Puts the current folder back where it was when this was made.
  void RestoreCurrentFolder() const;

 private:
  std::string path_;
  std::string error_;
  std::optional<std::string> old_tmpdir_;
  std::string old_current_folder_;
};

}  // namespace morva

#endif  // MORVA_PACKAGE_TEMP_FOLDER_H_
