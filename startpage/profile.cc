#include "startpage/profile.h"

#include <algorithm>

#include "platform/ansi_text.h"
#include "platform/files.h"

namespace morva {

namespace {

// Windows counts Ctrl-Z among the blanks of a profile line: editors of the
// DOS era left one at the end of the file.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' ||
         c == '\x1a';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// ASCII only: names are bytes in whatever code page the package was made in,
// and only A-Z have a case that every code page agrees on.
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

bool NamesEqual(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

std::string ValueOf(std::string_view raw) {
  size_t nul = raw.find('\0');
  if (nul != std::string_view::npos) raw = raw.substr(0, nul);
  raw = Trim(raw);
  if (raw.size() >= 2 && (raw.front() == '"' || raw.front() == '\'') &&
      raw.back() == raw.front()) {
    raw = raw.substr(1, raw.size() - 2);
  }
  return std::string(raw.substr(0, kMaxProfileValue));
}

ProfileStatus FindInText(std::string_view ini_text, std::string_view section,
                         std::string_view key, std::string* value) {
  section = Trim(section);
  key = Trim(key);
  // Keys before any header sit in a section without a name.
  bool in_section = section.empty();

  size_t pos = 0;
  while (pos < ini_text.size()) {
    size_t end = ini_text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = ini_text.size();
    std::string_view line = Trim(ini_text.substr(pos, end - pos));
    pos = end + 1;

    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      size_t close = line.find(']');
      if (close != std::string_view::npos) {
        // Only the first matching section counts; a later one of the same
        // name is never searched.
        if (in_section) return ProfileStatus::kNotFound;
        in_section = NamesEqual(Trim(line.substr(1, close - 1)), section);
        continue;
      }
      // Without a closing bracket the line is no header; read it as any
      // other line.
    }

    if (!in_section) continue;
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (NamesEqual(Trim(line.substr(0, eq)), key)) {
      *value = ValueOf(line.substr(eq + 1));
      return ProfileStatus::kFound;
    }
  }
  return ProfileStatus::kNotFound;
}

}  // namespace

ProfileStatus FindProfileValue(std::string_view ini_text,
                               std::string_view section, std::string_view key,
                               std::string* value) {
  value->clear();
  // Notepad saves "Unicode" as UTF-16 LE with a byte order mark. Windows
  // reads such a file as text and then applies the same rules; the ANSI form
  // of its value here is UTF-8.
  constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
  if (ini_text.starts_with(kUtf16LeBom)) {
    const std::string text = Utf16LeToUtf8(ini_text.substr(kUtf16LeBom.size()));
    const ProfileStatus status = FindInText(text, section, key, value);
    // The length cap counts bytes; it must not leave half a character.
    while (!IsValidUtf8(*value)) value->pop_back();
    return status;
  }
  // Notepad starts UTF-8 files with a byte order mark; it is not part of the
  // first line.
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  if (ini_text.starts_with(kUtf8Bom)) ini_text.remove_prefix(kUtf8Bom.size());
  return FindInText(ini_text, section, key, value);
}

ProfileStatus GetProfileValue(const std::string& ini_path,
                              std::string_view section, std::string_view key,
                              std::string* value, std::string* err) {
  value->clear();
  std::string text;
  if (!ReadWholeFile(ini_path, &text, err)) return ProfileStatus::kUnreadable;
  return FindProfileValue(text, section, key, value);
}

}  // namespace morva
