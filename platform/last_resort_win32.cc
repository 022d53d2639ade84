// The last-resort removal on Windows. Nothing here runs in a signal handler
// (the console's events come on a thread of their own), so it may use the
// file system seam; it still finds room in fixed places only, since it runs
// at exit.
#include <atomic>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/last_resort.h"
#include "platform/last_resort_places.h"

namespace morva {
namespace {

using last_resort::g_places;
using last_resort::Place;

constexpr int kMaxDepth = 64;

constexpr uint32_t kFolderFlags = kOpenRead | kOpenFolder | kOpenNoFollow;

// Empties the open folder but for `keep`; true when nothing else is left.
bool EmptyFolder(FileSystem* fs, FileHandle folder, int depth,
                 const char* keep) {
  std::vector<DirEntry> entries;
  if (fs->ListFolder(folder, &entries) != 0) return false;
  bool empty = true;
  for (const DirEntry& entry : entries) {
    if (entry.name == keep) continue;
    if (entry.is_dir) {
      if (depth < kMaxDepth) {
        const FileHandle sub = fs->OpenAt(folder, entry.name, kFolderFlags, 0);
        if (sub >= 0) {
          EmptyFolder(fs, sub, depth + 1, "");
          fs->Close(sub);
        }
      }
      if (fs->RemoveAt(folder, entry.name, RemoveKind::kFolder) != 0)
        empty = false;
    } else if (fs->RemoveAt(folder, entry.name, RemoveKind::kFile) != 0) {
      empty = false;
    }
  }
  return empty;
}

}  // namespace

void RemoveRememberedNow() {
  FileSystem* fs = RealFiles();
  for (Place& place : g_places) {
    if (!place.used.exchange(false)) continue;
    FileInfo info;
    if (fs->StatAt(kCurrentFolder, place.path, &info, false) != 0 ||
        info.volume != place.volume || info.file_id != place.file_id) {
      continue;
    }
    if (info.kind != FileKind::kFolder) {
      fs->RemoveAt(kCurrentFolder, place.path, RemoveKind::kFile);
      continue;
    }
    const FileHandle folder =
        fs->OpenAt(kCurrentFolder, place.path, kFolderFlags, 0);
    if (folder < 0) continue;
    bool removable = false;
    // The same folder still, now that it is open.
    if (fs->Stat(folder, &info) == 0 && info.volume == place.volume &&
        info.file_id == place.file_id) {
      removable = EmptyFolder(fs, folder, 0, place.last) &&
                  (place.last[0] == '\0' ||
                   fs->RemoveAt(folder, place.last, RemoveKind::kFile) == 0);
    }
    // Windows removes no folder that is held open.
    fs->Close(folder);
    if (removable)
      fs->RemoveAt(kCurrentFolder, place.path, RemoveKind::kFolder);
  }
}

}  // namespace morva
