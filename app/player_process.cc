#include "app/player_process.h"

#include <chrono>
#include <cstdlib>

#include "platform/last_resort.h"
#include "platform/processes.h"
#include "platform/signals.h"
#include "platform/trace.h"

namespace morva {
namespace {

// However much killed players left, one start spends at most this long on
// it; the rest waits for the next start.
constexpr std::chrono::seconds kSweepBudget{30};

// Killed processes are gone within some 50 ms. On a machine too busy to
// run the engine's lowest-priority threads, or with a process stuck in the
// kernel (a hung file system), the player's end waits no longer than this:
// a killed process runs no more code of its own, and whatever it still
// finishes writing the next player's sweep removes.
constexpr std::chrono::seconds kHelperWait{1};

}  // namespace

PlayerProcess::PlayerProcess(int spare) {
  std::string error;
  if (!InstallSignalDispositions(spare, &error)) Trace("%s", error.c_str());
  if (EndRequested()) return;
  std::atexit(RemoveRememberedNow);

  const std::string temp_folder = TempFolder();
  private_ = std::make_unique<PrivateFolder>(temp_folder);
  if (!private_->ok()) {
    Trace("private folder: %s", private_->error().c_str());
    private_.reset();
  } else {
    files_ = std::make_unique<ClaimingFiles>(RealFiles(), private_.get(),
                                             [] { return EndRequested(); });
    files_scope_ = std::make_unique<ScopedFileSystem>(files_.get());
  }
  // Its own view of the disk: the launch's file system is the main thread's.
  sweeper_ =
      std::make_unique<StaleSweeper>(temp_folder, RealFiles(), kSweepBudget);
  ok_ = true;
}

PlayerProcess::~PlayerProcess() {
  sweeper_.reset();
  files_scope_.reset();
  files_.reset();
  // A helper process still running could write into the private folder
  // while it is removed, and make it again.
  if (private_) {
    EndProcessesUsing(private_->path(), kHelperWait);
  }
  private_.reset();
}

std::string PlayerProcess::private_folder() const {
  return private_ ? private_->path() : std::string();
}

}  // namespace morva
