// What killed players left in the temporary folder, found and removed.
//
// A player's private folder proves what the player made (see
// package/private_folder.h). It is stale when its owner file can be locked:
// the player that held the lock has ended without cleaning up. Only such
// folders count, only of this user, and only the objects their owner file
// lists that are still the objects made (same device and inode, same
// owner); nothing is followed through a link. A link found under a listed
// name is removed as a link.
#ifndef MORVA_PACKAGE_STALE_H_
#define MORVA_PACKAGE_STALE_H_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/files.h"

namespace morva {

struct StaleReport {
  int players = 0;     // stale private folders
  int folders = 0;     // folders they left, the private folders included
  int files = 0;       // files they left (temporary archives)
  uint64_t bytes = 0;  // disk space all of it takes
};

// Looks at the temporary folder and changes nothing (the owner files are
// locked shared for a moment, which only makes a sweep running at that
// moment leave them for later).
StaleReport FindStale(const std::string& temp_folder, FileSystem* fs);

// Removes what FindStale would report: each listed object, then the private
// folder with its owner file last. Gives up once `stop` is set or the
// deadline has passed, leaving the rest, owner files included, for a later
// sweep. Returns what it removed completely.
StaleReport SweepStale(const std::string& temp_folder, FileSystem* fs,
                       const std::atomic<bool>& stop,
                       std::chrono::steady_clock::time_point deadline);

// SweepStale on a thread of its own, so that no window waits for it.
class StaleSweeper {
 public:
  // REQUIRES: fs is safe to use from another thread and outlives this.
  StaleSweeper(std::string temp_folder, FileSystem* fs,
               std::chrono::milliseconds budget);
  // Stops the sweep at the next entry and waits for the thread.
  ~StaleSweeper();
  StaleSweeper(const StaleSweeper&) = delete;
  StaleSweeper& operator=(const StaleSweeper&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace morva

#endif  // MORVA_PACKAGE_STALE_H_
