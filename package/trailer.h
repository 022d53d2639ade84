// The package trailer: the last bytes of a tour executable give the length
// of the ZIP archive right in front of them, as a 32-bit little-endian
// number. Everything that writes or reads a trailer uses these.
#ifndef MORVA_PACKAGE_TRAILER_H_
#define MORVA_PACKAGE_TRAILER_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace morva {

constexpr size_t kTrailerSize = 4;

// The kTrailerSize bytes that say an archive is archive_size bytes long.
inline std::string EncodeTrailer(uint32_t archive_size) {
  std::string bytes(kTrailerSize, '\0');
  for (size_t i = 0; i < kTrailerSize; ++i) {
    bytes[i] = static_cast<char>(archive_size >> (8 * i));
  }
  return bytes;
}

// The archive length that the kTrailerSize bytes at `bytes` give.
inline uint32_t DecodeTrailer(const unsigned char* bytes) {
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
         uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

}  // namespace morva

#endif  // MORVA_PACKAGE_TRAILER_H_
