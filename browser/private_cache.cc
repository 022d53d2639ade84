#include "browser/private_cache.h"

#include <glib.h>

#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

struct PrivateVariable {
  const char* variable;
  const char* folder;  // in the private folder
};

constexpr PrivateVariable kPrivateVariables[] = {
    {"XDG_CACHE_HOME", "cache"},
};

}  // namespace

ScopedPrivateCache::ScopedPrivateCache(const std::string& private_folder) {
  if (private_folder.empty()) return;
  for (const PrivateVariable& entry : kPrivateVariables) {
    const std::string folder = JoinPath(private_folder, entry.folder);
    if (MakeFolder(folder, 0700))
      g_setenv(entry.variable, folder.c_str(), TRUE);
  }
}

}  // namespace morva
