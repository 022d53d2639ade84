#include "platform/windows_names.h"

#include <algorithm>

#include "platform/ansi_text.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

#ifdef _WIN32
constexpr bool kNamesInTheCodePageReachUtf8 = true;
#else
constexpr bool kNamesInTheCodePageReachUtf8 = false;
#endif

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a')
                                           : c;
           };
           return lower(x) == lower(y);
         });
}

// The entry of `folder` that is `wanted` but for letter case (see the
// header for which one), or empty text. `want_folder`: only real folders.
std::string FindEntryIgnoringCase(const std::string& folder,
                                  const std::string& wanted, bool want_folder) {
  const FileHandle fd =
      Files()->OpenAt(kCurrentFolder, folder.empty() ? "/" : folder,
                      kOpenRead | kOpenFolder, 0);
  if (fd < 0) return "";
  std::vector<DirEntry> entries;
  const bool listed = Files()->ListFolder(fd, &entries) == 0;
  Files()->Close(fd);
  if (!listed) return "";
  std::string best;
  for (const DirEntry& entry : entries) {
    if ((want_folder && !entry.is_dir) ||
        !EqualIgnoringAsciiCase(entry.name, wanted)) {
      continue;
    }
    if (entry.name == wanted) return entry.name;
    if (best.empty() || entry.name < best) best = entry.name;
  }
  return best;
}

}  // namespace

std::string FindPackageFile(const std::string& folder, std::string_view name) {
  // No longer name can be a file's, and a hostile launcher may hold one.
  if (name.size() > kMaxPathLength) return "";
  std::string written(name);
  MakeSeparatorsNative(&written);
  const std::string exact = JoinPath(folder, written);
  const std::string utf8 = AnsiToUtf8(written);
  // Windows itself reads a name that is not UTF-8 in the package code page,
  // so there the name as written reaches the UTF-8 form's file; the path
  // given back is that form, which the web view can load.
  if ((!kNamesInTheCodePageReachUtf8 || utf8 == written) && PathExists(exact)) {
    return exact;
  }
  if (utf8 != written && PathExists(JoinPath(folder, utf8))) {
    return JoinPath(folder, utf8);
  }

  std::string path = folder;
  size_t start = 0;
  while (start <= utf8.size()) {
    size_t end = utf8.find(kPathSeparator, start);
    const bool last = end == std::string::npos;
    if (last) end = utf8.size();
    const std::string part = utf8.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    // Only the package's own folders are searched without regard to case.
    if (part == ".." || part.size() > kMaxNameLength) return "";
    const std::string found = FindEntryIgnoringCase(path, part, !last);
    if (found.empty()) return "";
    path = JoinPath(path, found);
  }
  return PathExists(path) ? path : "";
}

size_t FilePartOfAddress(const std::string& address) {
  if (PathExists(address)) return address.size();
  for (size_t split = address.find_first_of("?#");
       split != std::string::npos && split <= kMaxPathLength;
       split = address.find_first_of("?#", split + 1)) {
    if (split > 0 && PathExists(address.substr(0, split))) return split;
  }
  return address.size();
}

bool WindowsReservesName(std::string_view component) {
  if (component.find(':') != std::string_view::npos) return true;
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
    if (EqualIgnoringAsciiCase(base, device)) return true;
  }
  if (base.size() < 4) return false;
  const std::string_view stem = base.substr(0, 3);
  if (!EqualIgnoringAsciiCase(stem, "COM") &&
      !EqualIgnoringAsciiCase(stem, "LPT")) {
    return false;
  }
  const std::string_view number = base.substr(3);
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') ||
         number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace morva
