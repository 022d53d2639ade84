// Finding files by the names a Windows package gives, as Windows finds them.
//
// Packages were made on file systems that ignore letter case, with names in
// a Windows code page, and their pages name files the way a Windows browser
// reads a local address. The launch looks up autorun.inf, the launcher and
// the tour page through these, so that a package plays here as it did there.
#ifndef MORVA_PLATFORM_WINDOWS_NAMES_H_
#define MORVA_PLATFORM_WINDOWS_NAMES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace morva {

// The path below `folder` of what the package name `name` ("\" and "/" both
// separate folders) names, trying in this order and taking the first that
// exists:
//  1. the name as written (on Windows only when it is UTF-8: there the
//     system reads any other name in the package code page, so step 2
//     finds the same file and gives back the UTF-8 spelling);
//  2. its UTF-8 form (AnsiToUtf8), under which the unpack wrote a name that
//     is not UTF-8;
//  3. that form folder by folder without regard to ASCII letter case: in
//     each folder, an entry whose name is the wanted one but for the case of
//     A-Z. An entry of exactly the wanted name wins; among several others,
//     the one whose name sorts first by byte value. No folder is entered
//     through a symbolic link or "..", and there is no going back to try
//     another candidate when a later component is not found.
// Returns empty text when none of these exists. Only reads folders.
// REQUIRES: folder does not end with a separator.
std::string FindPackageFile(const std::string& folder, std::string_view name);

// The length of the part of `address` that names a file, where the rest is
// the query ("?...") or fragment ("#...") a browser would hand the page. It
// is all of address when something exists under that name (so a "#" that is
// part of a file name stays part of it); otherwise the part before the first
// "?" or "#" under which something exists; otherwise all of address.
size_t FilePartOfAddress(const std::string& address);

// True when Windows would not give a file of this name (one path component)
// its own place in a folder: a device name (CON, PRN, AUX, NUL, COM0-COM9,
// LPT0-LPT9, COM and LPT with a superscript 1 to 3, CONIN$, CONOUT$), in any
// letter case, with any extension and with spaces before it ("nul .txt"),
// which names the device wherever the folder is; or a name holding ":",
// which names a stream inside another file.
bool WindowsReservesName(std::string_view component);

}  // namespace morva

#endif  // MORVA_PLATFORM_WINDOWS_NAMES_H_
