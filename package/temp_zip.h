// Getting the tour out of the executable: the package is the executable's
// bytes, then a ZIP archive of N bytes, then N as 4 bytes little-endian.
#ifndef MORVA_PACKAGE_TEMP_ZIP_H_
#define MORVA_PACKAGE_TEMP_ZIP_H_

#include <cstddef>
#include <string>

namespace morva {

constexpr char kTempPrefix[] = "QZ";
constexpr size_t kCopyChunk = 65536;

// Creates a new empty, uniquely named "QZ....tmp" file in the temporary
// folder and returns its path; empty text when none could be created.
std::string MakeTempFileName();

// Copies the archive appended to the running executable into a new temporary
// file. Returns 1 and sets *temp_zip_path to that file on success. Returns 0
// on any file error, a trailer that names no region of the executable, or a
// short read; then no temporary file is left behind and *temp_zip_path is
// unchanged, and *error (when not null) says which call failed on which path,
// or what is wrong with the trailer. Streams through one 64 KiB buffer.
int CreateTempZip(std::string* temp_zip_path, std::string* error = nullptr);

}  // namespace morva

#endif  // MORVA_PACKAGE_TEMP_ZIP_H_
