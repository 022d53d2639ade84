// The places the last-resort removal remembers, shared by its platform
// parts (last_resort_posix.cc, last_resort_win32.cc). Static memory only:
// the removal may run from a signal handler or at exit.
#ifndef MORVA_PLATFORM_LAST_RESORT_PLACES_H_
#define MORVA_PLATFORM_LAST_RESORT_PLACES_H_

#include <atomic>
#include <cstdint>

#include "platform/path.h"

namespace morva::last_resort {

struct Place {
  std::atomic<bool> used{false};
  char path[kMaxPathLength];
  char last[kMaxNameLength + 1];
  uint64_t volume;
  uint64_t file_id;
};

constexpr int kPlaces = 8;
extern Place g_places[kPlaces];

}  // namespace morva::last_resort

#endif  // MORVA_PLATFORM_LAST_RESORT_PLACES_H_
