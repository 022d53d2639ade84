// The code page of texts that come out of a tour package.
//
// A package carries its texts (file names, the launcher's name, hence the
// window title) as bytes in whatever code page the tour author's system
// used. Newer packages are UTF-8; older ones are almost always Windows-1252.
// That pair is this player's "ANSI code page": the toolkit wants UTF-8 and
// complains about anything else, so every package text goes through
// AnsiToUtf8 before it reaches a widget, and the web view reaches only files
// whose names are UTF-8, so names go through it before they reach the disk.
#ifndef MORVA_PLATFORM_ANSI_TEXT_H_
#define MORVA_PLATFORM_ANSI_TEXT_H_

#include <string>
#include <string_view>

namespace morva {

// Returns true when `bytes` is well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Returns `bytes` unchanged when it is valid UTF-8, otherwise the whole text
// read as Windows-1252. The five bytes that code page leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 controls of the same value,
// as Windows itself maps them, so the result is always valid UTF-8 and no
// byte is lost.
std::string AnsiToUtf8(std::string_view bytes);

// UTF-16 little-endian text (no byte order mark) as UTF-8. A surrogate
// without its partner becomes U+FFFD and an odd last byte is dropped, so the
// result is always valid UTF-8.
std::string Utf16LeToUtf8(std::string_view bytes);

}  // namespace morva

#endif  // MORVA_PLATFORM_ANSI_TEXT_H_
