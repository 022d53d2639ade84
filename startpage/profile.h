// Reading one value from an INI file the way Windows' private-profile calls
// read it, so that packages written for Windows resolve the same here.
#ifndef MORVA_STARTPAGE_PROFILE_H_
#define MORVA_STARTPAGE_PROFILE_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace morva {

// The most bytes a profile value yields: a 260-byte buffer less its NUL.
constexpr size_t kMaxProfileValue = 259;

enum class ProfileStatus {
  kFound,       // The key exists in the section (its value may be empty).
  kNotFound,    // The file was read, but has no such section or key.
  kUnreadable,  // The file could not be opened or read.
};

// Looks up `key` in `section` of the INI file at `ini_path`.
//
// The rules:
//  - A line ends at LF or CR, so LF, CR LF and CR CR LF endings all work.
//  - Section and key names match without regard to ASCII case; blanks (space,
//    tab, CR, vertical tab, form feed, 0x1A) around names and values are
//    dropped. A section header is "[" name "]" with anything after the "]"
//    ignored, so "[autorun] " names section "autorun".
//  - Only the first section with a matching name is searched, and the first
//    matching key in it wins.
//  - A value wrapped in matching quotes (both ' or both ") loses them; then it
//    is cut to kMaxProfileValue bytes. A NUL byte ends the value, as it would
//    end a C string.
//  - Lines starting with ';' are comments; lines without '=' are ignored; key
//    lines before the first section header belong to the section named "".
//  - A UTF-8 byte order mark at the start of the file is skipped.
//  - A file that starts with the UTF-16 LE byte order mark (FF FE, as
//    Notepad saves "Unicode") is converted to UTF-8 first and then read by
//    the same rules; its value is UTF-8, cut to whole characters. UTF-16
//    without a byte order mark, or big-endian, is read as bytes, as Windows
//    does.
//
// On kFound, *value holds the value. On anything else *value is empty, and on
// kUnreadable *err (when err is not null) says which call failed on which path.
ProfileStatus GetProfileValue(const std::string& ini_path,
                              std::string_view section, std::string_view key,
                              std::string* value, std::string* err = nullptr);

// The same rules applied to INI text already in memory.
ProfileStatus FindProfileValue(std::string_view ini_text,
                               std::string_view section, std::string_view key,
                               std::string* value);

}  // namespace morva

#endif  // MORVA_STARTPAGE_PROFILE_H_
