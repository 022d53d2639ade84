// Remembering and forgetting for the last-resort removal; the removal itself
// is the platform's (last_resort_posix.cc, last_resort_win32.cc).
#include "platform/last_resort.h"

#include <cstring>

#include "platform/last_resort_places.h"

namespace morva {

namespace last_resort {
Place g_places[kPlaces];
}  // namespace last_resort

using last_resort::Place;

bool RememberForLastResort(const std::string& path, const FileInfo& info,
                           const char* last) {
  if (last == nullptr) last = "";
  if (path.size() >= kMaxPathLength || std::strlen(last) > kMaxNameLength)
    return false;
  for (Place& place : last_resort::g_places) {
    if (place.used.load()) continue;
    std::memcpy(place.path, path.c_str(), path.size() + 1);
    std::strcpy(place.last, last);
    place.volume = info.volume;
    place.file_id = info.file_id;
    place.used.store(true);
    return true;
  }
  return false;
}

void ForgetForLastResort(const std::string& path) {
  for (Place& place : last_resort::g_places) {
    if (place.used.load() && path == place.path) place.used.store(false);
  }
}

}  // namespace morva
