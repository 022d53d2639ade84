// The checks that keep a crafted package from filling the disk: run on the
// open archive before its first entry is written.
//
// A package is a file anyone can make, and a ZIP archive of a few kilobytes
// can declare terabytes. The archive reader never writes more of an entry
// than its record declares, so the declared sizes bound what unpacking can
// write; these checks make sure that bound fits the disk and that no two
// records share data, which no archive writer produces and which is how an
// archive gets its declared sizes far beyond its own length.
#ifndef MORVA_PACKAGE_BOUNDS_H_
#define MORVA_PACKAGE_BOUNDS_H_

#include <cstdint>
#include <string>

#include "package/archive/archive.h"
#include "package/unpack.h"

namespace morva {

// The bytes the file system holding path still gives to an unprivileged
// user (f_bavail * f_frsize, saturated), or -1 when it cannot be asked.
int64_t FreeSpaceAt(const std::string& path);

// The sum of the uncompressed sizes that the records of the file entries
// declare, in 64 bits. Directory entries write no data and do not count.
// False, with *report set to kBadRecord for that entry, when a record
// cannot be read.
bool DeclaredSize(ArchiveHandle* archive, uint64_t* total,
                  UnpackReport* report);

// Whether the open archive may be unpacked into folder. Checks, reading
// only the archive's records and headers:
//  - every record and local header can be read (else kBadRecord);
//  - no two entries share bytes: each entry's local header, name, extra
//    field and stored data lie before the next entry's local header in
//    offset order, and no two records name the same local header (else
//    kOverlapping, with *report naming an entry whose local header lies
//    within another entry's bytes);
//  - the declared sizes of the file entries add up to no more than the free
//    space of folder's file system (else kTooLarge). When that space cannot
//    be learned this rule is skipped: a disk that fills up while unpacking
//    fails the unpack like any other write error.
// Returns true when the archive passes; otherwise false with *report set.
// Writes nothing.
bool MayUnpack(ArchiveHandle* archive, const std::string& folder,
               UnpackReport* report);

}  // namespace morva

#endif  // MORVA_PACKAGE_BOUNDS_H_
