// Zipping a tour folder into the archive a package carries.
#ifndef MORVA_TOOLS_ZIP_FOLDER_H_
#define MORVA_TOOLS_ZIP_FOLDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace morva::pack {

// A file that the archive holds but the folder does not: written as a
// regular file with mode 0644 and the given modification time.
struct AddedFile {
  std::string name;  // below the folder, "/"-separated, in a folder it has
  std::string bytes;
  int64_t mtime = 0;  // seconds since 1970
};

// Writes a new ZIP archive at archive_path holding everything below the
// folder `source` (not the folder itself): each folder's entries in byte
// order of their names, a folder's directory entry ("name/") before its
// contents, files deflated. Every entry carries the Unix host in its
// version-made-by, its mode in the upper half of the external attributes
// with the DOS directory bit (0x10) for folders and the DOS read-only bit
// (0x01) when no write bit is set, its modification time as a DOS date-time
// in UTC calendar time, and the exact second in a "UT" extra block in both
// headers. The same folder gives the same bytes.
//
// Refuses (false, *error naming the path and the reason, the archive
// removed) a symbolic link or any other entry that is neither a file nor a
// folder, a name holding "\" (the player takes it for a folder separator), an
// entry name of 260 bytes or more, a file of 4 GiB or more, more than 65,535
// entries, and any read or write error. Links are never followed. Sets
// *entries to the number of entries written. Adds a line to *notes for each
// time that does not fit the archive's time fields.
//
// `added` files join the entries of their folder in the same byte order, so
// the archive is as if they lay in the folder; the folder itself is left as
// it is. One whose name the folder has already, or whose folder it lacks,
// is refused.
bool ZipFolder(const std::string& source, const std::string& archive_path,
               int32_t* entries, std::vector<std::string>* notes,
               std::string* error, const std::vector<AddedFile>& added = {});

// The DOS date (high 16 bits) and time (low 16 bits) of the UTC calendar time
// at `seconds`, clamped to 1980-01-01 00:00:00 .. 2107-12-31 23:59:58.
uint32_t DosDateTimeUtc(int64_t seconds);

}  // namespace morva::pack

#endif  // MORVA_TOOLS_ZIP_FOLDER_H_
