// Windows file-attribute bits, as archive records carry them, and what they
// become on POSIX. Only read-only and directory have a counterpart there:
// read-only is a mode without write bits. Hidden, system and archive stay in
// the record and are dropped on disk; Windows keeps them all
// (FileSystem::SetAttributes).
#ifndef MORVA_PLATFORM_ATTRIBUTES_H_
#define MORVA_PLATFORM_ATTRIBUTES_H_

#include <cstdint>

namespace morva {

constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrHidden = 0x02;
constexpr uint32_t kAttrSystem = 0x04;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrArchive = 0x20;
constexpr uint32_t kAttrNormal = 0x80;

// The mode to create a file with for these attributes (before the umask).
inline uint32_t FileModeForAttributes(uint32_t attributes) {
  return (attributes & kAttrReadOnly) ? 0444 : 0666;
}

// The attributes a file with this mode reports: read-only when no write bit
// is set, directory for a folder, else normal.
inline uint32_t AttributesForMode(uint32_t mode) {
  constexpr uint32_t kTypeMask = 0170000, kFolderType = 0040000;
  uint32_t attributes = (mode & kTypeMask) == kFolderType ? kAttrDirectory : 0;
  if ((mode & 0222) == 0) attributes |= kAttrReadOnly;
  return attributes != 0 ? attributes : kAttrNormal;
}

}  // namespace morva

#endif  // MORVA_PLATFORM_ATTRIBUTES_H_
