#include "package/package_region.h"

#include <unistd.h>

#include "package/archive/zip_end.h"
#include "package/trailer.h"
#include "platform/files.h"

namespace morva {

bool FindPackageRegion(int fd, PackageRegion* region) {
  const int64_t size = FileLength(fd);
  const int64_t archive_end = size - static_cast<int64_t>(kTrailerSize);
  if (archive_end < 0 || ZipEndsAt(fd, 0, size)) return false;
  unsigned char trailer[kTrailerSize];
  if (pread(fd, trailer, kTrailerSize, archive_end) !=
      static_cast<ssize_t>(kTrailerSize)) {
    return false;
  }
  const int64_t length = DecodeTrailer(trailer);
  if (length > archive_end ||
      !ZipEndsAt(fd, archive_end - length, archive_end)) {
    return false;
  }
  *region = {archive_end - length, length};
  return true;
}

bool CarriesPackage(const std::string& path) {
  const int fd = Files()->OpenAt(AT_FDCWD, path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  PackageRegion region;
  const bool found = FindPackageRegion(fd, &region);
  Files()->Close(fd);
  return found;
}

}  // namespace morva
