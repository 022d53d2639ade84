#include "browser/private_cache.h"

#include <ftw.h>
#include <glib.h>
#include <stdio.h>

#include <optional>

namespace morva {
namespace {

// The variables the private folder takes over, and the subfolder of it each
// points at ("" for the folder itself). Without a runtime folder the sound
// client makes one in the temporary folder and links it from its
// configuration folder: it gets one in the private folder instead, unless
// the user chose one.
constexpr struct {
  const char* name;
  const char* subfolder;
  const char* unless_set;  // keep the variable when this one is set
} kFolderVariables[] = {{"XDG_CACHE_HOME", "", nullptr},
                        {"XDG_CONFIG_HOME", "/config", nullptr},
                        {"XDG_DATA_HOME", "/data", nullptr},
                        {"XDG_STATE_HOME", "/state", nullptr},
                        {"PULSE_RUNTIME_PATH", "/pulse", "XDG_RUNTIME_DIR"}};

// Their values before the first change; nullopt for an unset one.
std::optional<std::string> user_values[std::size(kFolderVariables)];
bool changed = false;

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
  // GLib keeps what it read first: this process goes on finding the user's
  // default applications and settings.
  g_get_user_config_dir();
  g_get_user_data_dir();
  for (size_t i = 0; i < std::size(kFolderVariables); ++i) {
    const auto& variable = kFolderVariables[i];
    const char* value = g_getenv(variable.name);
    if (!changed && value) user_values[i] = value;
    if (variable.unless_set && (value || g_getenv(variable.unless_set))) {
      continue;
    }
    g_setenv(variable.name, (path_ + variable.subfolder).c_str(), TRUE);
  }
  changed = true;
}

ScopedPrivateCache::~ScopedPrivateCache() {
  if (!path_.empty()) RemovePrivateFolder(path_);
}

void RestoreUserFolders(GAppLaunchContext* context) {
  if (!changed) return;
  for (size_t i = 0; i < std::size(kFolderVariables); ++i) {
    if (user_values[i]) {
      g_app_launch_context_setenv(context, kFolderVariables[i].name,
                                  user_values[i]->c_str());
    } else {
      g_app_launch_context_unsetenv(context, kFolderVariables[i].name);
    }
  }
}

void RemovePrivateFolder(const std::string& folder) {
  nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace morva
