// Telling where a ZIP archive ends, without opening it.
//
// An archive written on its own ends with its end-of-central-directory
// record and that record's comment. A tour executable ends with the 4-byte
// trailer instead, right after its archive's record. The packer tells the
// two apart with this when it is handed a file to pack.
#ifndef MORVA_PACKAGE_ARCHIVE_ZIP_END_H_
#define MORVA_PACKAGE_ARCHIVE_ZIP_END_H_

#include <cstdint>

#include "platform/files.h"

namespace morva {

// True when the bytes [begin, end) of the file open as `fd` end with a ZIP
// end-of-central-directory record whose comment runs exactly up to `end`.
// Reads at most the 65,557 bytes before `end` (the record and the longest
// comment); false when they cannot be read.
bool ZipEndsAt(FileHandle fd, uint64_t begin, uint64_t end);

}  // namespace morva

#endif  // MORVA_PACKAGE_ARCHIVE_ZIP_END_H_
