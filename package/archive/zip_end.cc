#include "package/archive/zip_end.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

namespace morva {

bool ZipEndsAt(int fd, uint64_t begin, uint64_t end) {
  constexpr uint64_t kRecordSize = 22;
  constexpr uint64_t kMaxComment = 0xFFFF;
  if (end < begin || end - begin < kRecordSize) return false;
  const uint64_t start = end - std::min(end - begin, kRecordSize + kMaxComment);
  std::string tail(end - start, '\0');
  size_t got = 0;
  while (got < tail.size()) {
    const ssize_t n = pread(fd, tail.data() + got, tail.size() - got,
                            static_cast<off_t>(start + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
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
