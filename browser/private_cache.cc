#include "browser/private_cache.h"

#include <glib.h>

#include <iterator>
#include <optional>

#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

struct PrivateVariable {
  const char* variable;
  const char* folder;  // in the private folder
  // The variable keeps its value when this one is set (nullptr: never).
  const char* unless_set;
};

// Without a runtime folder the sound client makes one in the temporary
// folder and links it from its configuration folder; it gets one in the
// private folder instead, unless the user chose one.
constexpr PrivateVariable kPrivateVariables[] = {
    {"XDG_CACHE_HOME", "cache", nullptr},
    {"XDG_CONFIG_HOME", "config", nullptr},
    {"XDG_DATA_HOME", "data", nullptr},
    {"XDG_STATE_HOME", "state", nullptr},
    {"PULSE_RUNTIME_PATH", "pulse", "XDG_RUNTIME_DIR"},
};

// Settings for libraries that keep state where no folder variable above
// moves it, or keep a cache no run can use. The web processes get them;
// programs started for the user get the user's own values back.
struct LibrarySetting {
  const char* variable;
  const char* value;
  bool append;  // after the user's own value, comma-separated
};

constexpr LibrarySetting kLibrarySettings[] = {
    // Mesa keeps compiled shaders on disk for the next run, which never
    // finds them (the private folder goes with this run); and a web process
    // still compiling when the run ends would write them while the folder
    // is being removed.
    {"MESA_SHADER_CACHE_DISABLE", "true", false},
    // The JACK client library, which the media framework's automatic audio
    // output tries when no sound server answers, makes a database in
    // /dev/shm/jack_db-UID that no variable moves: the automatic output
    // skips it (after the user's ranks, so this one wins). Sound still
    // reaches a JACK server through a sound server's bridge.
    {"GST_PLUGIN_FEATURE_RANK", "jackaudiosink:NONE", true},
};

// Their values before the first change; nullopt for an unset one.
std::optional<std::string> user_values[std::size(kPrivateVariables)];
std::optional<std::string> user_settings[std::size(kLibrarySettings)];
bool changed = false;

void Restore(GAppLaunchContext* context, const char* variable,
             const std::optional<std::string>& value) {
  if (value) {
    g_app_launch_context_setenv(context, variable, value->c_str());
  } else {
    g_app_launch_context_unsetenv(context, variable);
  }
}

}  // namespace

ScopedPrivateCache::ScopedPrivateCache(const std::string& private_folder) {
  if (private_folder.empty()) return;
  // GLib keeps what it read first: this process goes on finding the user's
  // default applications and settings.
  g_get_user_config_dir();
  g_get_user_data_dir();
  // And its temporary folder is the private folder: the web engine compiles
  // the content filter through a temporary file there, which a run that
  // ends at that moment would leave behind. The launch's own temporary
  // folder stays $TMPDIR.
  const char* tmpdir = g_getenv("TMPDIR");
  const std::optional<std::string> user_tmpdir =
      tmpdir ? std::optional<std::string>(tmpdir) : std::nullopt;
  g_setenv("TMPDIR", private_folder.c_str(), TRUE);
  g_get_tmp_dir();
  if (user_tmpdir) {
    g_setenv("TMPDIR", user_tmpdir->c_str(), TRUE);
  } else {
    g_unsetenv("TMPDIR");
  }
  for (size_t i = 0; i < std::size(kPrivateVariables); ++i) {
    const PrivateVariable& entry = kPrivateVariables[i];
    const char* value = g_getenv(entry.variable);
    if (!changed && value) user_values[i] = value;
    if (entry.unless_set && (value || g_getenv(entry.unless_set))) continue;
    const std::string folder = JoinPath(private_folder, entry.folder);
    if (MakeFolder(folder, 0700))
      g_setenv(entry.variable, folder.c_str(), TRUE);
  }
  for (size_t i = 0; i < std::size(kLibrarySettings); ++i) {
    const LibrarySetting& entry = kLibrarySettings[i];
    const char* value = g_getenv(entry.variable);
    if (!changed && value) user_settings[i] = value;
    const std::string setting = entry.append && user_settings[i]
                                    ? *user_settings[i] + "," + entry.value
                                    : std::string(entry.value);
    g_setenv(entry.variable, setting.c_str(), TRUE);
  }
  changed = true;
}

void RestoreUserFolders(GAppLaunchContext* context) {
  if (!changed) return;
  for (size_t i = 0; i < std::size(kPrivateVariables); ++i) {
    Restore(context, kPrivateVariables[i].variable, user_values[i]);
  }
  for (size_t i = 0; i < std::size(kLibrarySettings); ++i) {
    Restore(context, kLibrarySettings[i].variable, user_settings[i]);
  }
}

gchar** UserEnvironment() {
  gchar** environment = g_get_environ();
  if (!changed) return environment;
  auto restore = [&environment](const char* variable,
                                const std::optional<std::string>& value) {
    environment =
        value ? g_environ_setenv(environment, variable, value->c_str(), TRUE)
              : g_environ_unsetenv(environment, variable);
  };
  for (size_t i = 0; i < std::size(kPrivateVariables); ++i) {
    restore(kPrivateVariables[i].variable, user_values[i]);
  }
  for (size_t i = 0; i < std::size(kLibrarySettings); ++i) {
    restore(kLibrarySettings[i].variable, user_settings[i]);
  }
  return environment;
}

}  // namespace morva
