#include "browser/private_cache.h"

#include <ftw.h>
#include <glib.h>
#include <stdio.h>

namespace morva {
namespace {

int RemoveEntry(const char* path, const struct stat* /*st*/, int /*flag*/,
                struct FTW* /*ftw*/) {
  remove(path);
  return 0;  // keep going: remove as much as possible
}

}  // namespace

ScopedPrivateCache::ScopedPrivateCache() {
  gchar* path = g_dir_make_tmp("QZXXXXXX.tmp", nullptr);
  if (!path) return;
  path_ = path;
  g_free(path);
  g_setenv("XDG_CACHE_HOME", path_.c_str(), TRUE);
}

ScopedPrivateCache::~ScopedPrivateCache() {
  if (path_.empty()) return;
  nftw(path_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace morva
