// Path conventions of the native platform.
#ifndef MORVA_PLATFORM_PATH_H_
#define MORVA_PLATFORM_PATH_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace morva {

// The one folder separator of this platform. Paths never end with it (except
// the root), and a folder is joined to a name with it. Windows takes '/' as
// well.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The length of path's root: "/" on POSIX; on Windows "C:\" or
// "\\server\share\" (either separator). 0 for a relative path.
inline size_t RootLength(std::string_view path) {
#ifdef _WIN32
  auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (path.size() >= 3 && path[1] == ':' && separator(path[2])) return 3;
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
    // The server and the share are part of the root.
    size_t end = 2;
    for (int part = 0; part < 2 && end < path.size(); ++part) {
      while (end < path.size() && !separator(path[end])) ++end;
      if (end < path.size()) ++end;
    }
    return end;
  }
  return 0;
#else
  return !path.empty() && path[0] == '/' ? 1 : 0;
#endif
}

// The longest name of one file or folder, and of a whole path.
constexpr size_t kMaxNameLength = 255;
#ifdef _WIN32
constexpr size_t kMaxPathLength = 32767;
#else
constexpr size_t kMaxPathLength = 4096;
#endif

// What the names of programs end with.
#ifdef _WIN32
constexpr char kExecutableSuffix[] = ".exe";
#else
constexpr char kExecutableSuffix[] = "";
#endif

// Where the last separator of path is, or npos; Windows takes '/' as one too.
inline size_t LastSeparator(std::string_view path) {
#ifdef _WIN32
  return path.find_last_of("\\/");
#else
  return path.rfind('/');
#endif
}

// Makes every "/" and "\" of path from `from` on this platform's separator:
// a package may write its names with either.
inline void MakeSeparatorsNative(std::string* path, size_t from = 0) {
  for (size_t i = from; i < path->size(); ++i) {
    char& c = (*path)[i];
    if (c == '/' || c == '\\') c = kPathSeparator;
  }
}

inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += kPathSeparator;
  path += name;
  return path;
}

}  // namespace morva

#endif  // MORVA_PLATFORM_PATH_H_
