#include "package/paths.h"

#include <string_view>
#include <vector>

#include "platform/ansi_text.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/windows_names.h"

namespace morva {
namespace {

// Windows opens a device or another file's stream for some names; elsewhere
// they are names like any other.
#ifdef _WIN32
constexpr bool kSystemReservesNames = true;
#else
constexpr bool kSystemReservesNames = false;
#endif

}  // namespace

std::string GetDirPart(const std::string& path) {
  const size_t k = LastSeparator(path);
  return k == std::string::npos ? std::string() : path.substr(0, k);
}

std::string GetFileNamePart(const std::string& path) {
  const size_t k = LastSeparator(path);
  return k == std::string::npos ? path : path.substr(k + 1);
}

int CreateDirPath(const std::string& path) {
  if (PathExists(path)) return 1;
  std::vector<std::string> folders;
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] == kPathSeparator || path[i] == '/')
      folders.push_back(path.substr(0, i));
  }
  folders.push_back(path);
  int result = 0;
  for (const std::string& folder : folders) {
    // The root has no name to create ("/x" starts with an empty prefix).
    if (folder.empty() || PathExists(folder)) continue;
    result = MakeFolder(folder) ? 1 : 0;
  }
  return result;
}

bool NormalizeEntryName(const std::string& name, std::string* relative) {
  // Never adds a separator or a dot: only bytes from 0x80 up change.
  std::string out = AnsiToUtf8(name);
  for (char& c : out) {
    if (c == '\\' || c == '/') c = kPathSeparator;
  }
  if (!out.empty() && out[0] == kPathSeparator) return false;
  if (out.size() >= 2 && out[1] == ':' &&
      ((out[0] >= 'A' && out[0] <= 'Z') || (out[0] >= 'a' && out[0] <= 'z'))) {
    return false;
  }
  size_t start = 0;
  while (start <= out.size()) {
    size_t end = out.find(kPathSeparator, start);
    if (end == std::string::npos) end = out.size();
    const std::string_view part =
        std::string_view(out).substr(start, end - start);
    if (part == ".." || (kSystemReservesNames && WindowsReservesName(part)))
      return false;
    start = end + 1;
  }
  *relative = std::move(out);
  return true;
}

}  // namespace morva
