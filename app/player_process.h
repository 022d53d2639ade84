// What the player process sets up before anything else and takes down last.
//
// In this order, so that no moment of the run can leave a file behind:
// 1. the signal dispositions (platform/signals.h): from here on a request to
//    end is noted and answered by closing, never obeyed on the spot;
// 2. the last-resort removal at exit (platform/last_resort.h), for a
//    library that calls exit() itself;
// 3. the private folder with its locked owner file
//    (package/private_folder.h);
// 4. the file system the launch runs on, which claims what the launch makes
//    in the temporary folder and stops writing once the run is ending;
// 5. the sweep of what killed players left (package/stale.h), on a thread
//    of its own.
// Taken down in the opposite order; before the private folder goes, the
// helper processes that keep their state in it have ended
// (platform/processes.h).
#ifndef MORVA_APP_PLAYER_PROCESS_H_
#define MORVA_APP_PLAYER_PROCESS_H_

#include <memory>
#include <string>

#include "package/private_folder.h"
#include "package/stale.h"
#include "platform/files.h"

namespace morva {

class PlayerProcess {
 public:
  // `spare` is a signal another library of the process has claimed, left
  // with its disposition (0 for none). REQUIRES: one per process, made
  // first thing in main(), before any thread exists.
  explicit PlayerProcess(int spare);
  ~PlayerProcess();
  PlayerProcess(const PlayerProcess&) = delete;
  PlayerProcess& operator=(const PlayerProcess&) = delete;

  // False when the run should end at once: an end was asked for before
  // anything was made.
  bool ok() const { return ok_; }

  // The private folder, or empty text when none could be made (the player
  // then plays without one, and what it leaves is not proven its own).
  std::string private_folder() const;

 private:
  bool ok_ = false;
  std::unique_ptr<PrivateFolder> private_;
  std::unique_ptr<ClaimingFiles> files_;
  std::unique_ptr<ScopedFileSystem> files_scope_;
  std::unique_ptr<StaleSweeper> sweeper_;
};

}  // namespace morva

#endif  // MORVA_APP_PLAYER_PROCESS_H_
