#include "package/archive/zip_end.h"

#include <algorithm>
#include <cerrno>
#include <string>

namespace morva {

bool ZipEndsAt(FileHandle fd, uint64_t begin, uint64_t end) {
  constexpr uint64_t kRecordSize = 22;
  constexpr uint64_t kMaxComment = 0xFFFF;
  if (end < begin || end - begin < kRecordSize) return false;
  const uint64_t start = end - std::min(end - begin, kRecordSize + kMaxComment);
  std::string tail(end - start, '\0');
  if (ReadFullyAt(fd, tail.data(), tail.size(), start) !=
      static_cast<int64_t>(tail.size())) {
    return false;
  }
  // The record nearest the end whose comment length reaches the end exactly.
  for (size_t p = tail.size() - kRecordSize + 1; p-- > 0;) {
    if (tail.compare(p, 4, "PK\x05\x06") != 0) continue;
    const size_t comment =
        static_cast<unsigned char>(tail[p + 20]) |
        static_cast<size_t>(static_cast<unsigned char>(tail[p + 21])) << 8;
    if (p + kRecordSize + comment == tail.size()) return true;
  }
  return false;
}

}  // namespace morva
