// Path helpers of the unpack step and the cleanup. Paths are bytes with the
// native separator; a folder path never ends with a separator.
#ifndef MORVA_PACKAGE_PATHS_H_
#define MORVA_PACKAGE_PATHS_H_

#include <string>

namespace morva {

// The part of path before its last separator; empty text when it has none.
// "/a/b.txt" -> "/a", "/a/" -> "/a", "b.txt" -> "".
std::string GetDirPart(const std::string& path);

// The part of path after its last separator; all of path when it has none.
// "/a/b.txt" -> "b.txt", "/a/" -> "", "f.txt" -> "f.txt".
std::string GetFileNamePart(const std::string& path);

// Makes sure the folder path exists, creating every missing folder on the
// way, outermost first. Returns 1 when path existed already; otherwise the
// result of the last creation it attempted (1 when that folder was created),
// or 0 when it attempted none.
int CreateDirPath(const std::string& path);

// An entry name as stored in an archive, turned into a path relative to the
// work folder: both "/" and "\" are folder separators, and a name that is
// not valid UTF-8 is read in the package code page and written in UTF-8
// (AnsiToUtf8), as Windows turns such a name into the file's Unicode name:
// the web view reaches no file whose name is not UTF-8. Returns false for a
// name that would lead outside the work folder: an absolute one, one that
// starts with a drive designator ("C:"), or one with a ".." component; on
// Windows also one with a component that the system takes for a device or
// a stream of another file (WindowsReservesName).
bool NormalizeEntryName(const std::string& name, std::string* relative);

}  // namespace morva

#endif  // MORVA_PACKAGE_PATHS_H_
