// Finding the package in a file: the ZIP archive right in front of the
// 4-byte trailer (package/trailer.h) at the file's end.
#ifndef MORVA_PACKAGE_PACKAGE_REGION_H_
#define MORVA_PACKAGE_PACKAGE_REGION_H_

#include <cstdint>
#include <string>

namespace morva {

struct PackageRegion {
  int64_t offset = 0;
  int64_t length = 0;
};

// True, with *region set, when the file open as `fd` carries a package: the
// file is not a ZIP archive itself, and its trailer names a region right in
// front of it that ends with a ZIP end-of-central-directory record (whose
// comment runs up to the trailer). False for any other file (a program
// without a package, whose last bytes name nothing or something that is no
// archive), and when the file cannot be read; *region is then unchanged.
bool FindPackageRegion(int fd, PackageRegion* region);

// The same for the file at `path`, opened through the file-system seam
// (platform/files.h); false when it cannot be opened.
bool CarriesPackage(const std::string& path);

}  // namespace morva

#endif  // MORVA_PACKAGE_PACKAGE_REGION_H_
