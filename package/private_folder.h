// The player's own folder in the temporary folder, and the proof of what the
// player owns there.
//
// A player that is killed (SIGKILL, a crash) cannot clean up, so the next
// player removes what it left (package/stale.h). It must remove nothing
// else: not a running player's files, not another user's, not a folder that
// merely looks like one of ours, not what a link points to. The proof is the
// owner file in the player's private folder:
// - the private folder "QZP<8 hex digits>.tmp" is made first, exclusively,
//   mode 0700. No other object the player makes has a name like that, and
//   nothing a tour holds lands at its top (a work folder's content comes
//   from an untrusted archive, so a marker there could be forged);
// - the owner file in it stays locked (flock) for the player's whole life;
//   a lock that can be taken means the player has ended;
// - the owner file lists every object the player creates directly in the
//   temporary folder (the temporary archive, the work folder) with its
//   device and inode number, so that only objects that are still the ones
//   made are ever removed.
// The libraries beneath the web view keep their state in subfolders of the
// private folder (browser/private_cache.h), so it goes with the rest.
#ifndef MORVA_PACKAGE_PRIVATE_FOLDER_H_
#define MORVA_PACKAGE_PRIVATE_FOLDER_H_

#include <functional>
#include <string>

#include "platform/files.h"

namespace morva {

constexpr char kPrivatePrefix[] = "QZP";
constexpr char kOwnerFileName[] = "owner";
// The owner file's first line; then one line "NAME DEVICE INODE" per object.
constexpr char kOwnerHeader[] = "morva player folders 1\n";

class PrivateFolder {
 public:
  // Makes the private folder in temp_folder (an absolute path) with its
  // locked owner file, through the file system installed now. Everything it
  // makes is remembered for the last-resort removal (platform/last_resort.h).
  // On failure ok() is false, error() says why and nothing is left.
  explicit PrivateFolder(const std::string& temp_folder);
  // Remove().
  ~PrivateFolder();
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;

  bool ok() const { return owner_fd_ >= 0; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  const std::string& temp_folder() const { return temp_folder_; }

  // Lists `name`, an object just made directly in the temporary folder that
  // info describes, in the owner file. False when it could not be written.
  bool Claim(const std::string& name, const FileInfo& info);

  // Removes the folder, the owner file last, and releases the lock. When
  // anything else in it cannot be removed, the folder and its owner file
  // stay, for a later player to remove. Only the first call does anything.
  void Remove();

 private:
  void Fail(const char* call, const std::string& path);

  FileSystem* fs_;
  std::string temp_folder_;
  std::string path_;
  std::string error_;
  FileHandle owner_fd_ = kNoFile;
};

// The file system the player's launch runs on, over another one:
// - every file or folder the launch creates directly in the temporary folder
//   is claimed in the private folder's owner file and remembered for the
//   last-resort removal (and forgotten again when the launch removes it);
// - once `ending` returns true, nothing is created or written any more, so
//   that a long copy or unpack stops at once (the call fails with
//   ECANCELED) and the player closes without waiting for it.
class ClaimingFiles : public FileSystemWrapper {
 public:
  // REQUIRES: owner outlives this.
  ClaimingFiles(FileSystem* target, PrivateFolder* owner,
                std::function<bool()> ending);

  FileHandle OpenAt(FileHandle folder, const std::string& path, uint32_t flags,
                    uint32_t permissions) override;
  int64_t Write(FileHandle file, const void* buffer, size_t count) override;
  int MakeFolderAt(FileHandle folder, const std::string& path,
                   uint32_t permissions) override;
  int RemoveAt(FileHandle folder, const std::string& path,
               RemoveKind kind) override;

 private:
  // The name of path when it lies directly in the temporary folder, else "".
  std::string TopLevelName(FileHandle folder, const std::string& path) const;
  bool Refused();
  void ClaimNew(const std::string& path, const FileInfo& info);

  PrivateFolder* owner_;
  std::function<bool()> ending_;
};

}  // namespace morva

#endif  // MORVA_PACKAGE_PRIVATE_FOLDER_H_
