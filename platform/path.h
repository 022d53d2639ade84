// Path conventions of the native platform.
#ifndef MORVA_PLATFORM_PATH_H_
#define MORVA_PLATFORM_PATH_H_

#include <string>
#include <string_view>

namespace morva {

// The one folder separator of this platform. Paths never end with it (except
// the root), and a folder is joined to a name with it.
constexpr char kPathSeparator = '/';

inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  path += kPathSeparator;
  path += name;
  return path;
}

}  // namespace morva

#endif  // MORVA_PLATFORM_PATH_H_
