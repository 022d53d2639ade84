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

// The JACK client library, which the media framework's automatic audio
// output tries when no sound server answers, makes a database in
// /dev/shm/jack_db-UID that no variable moves. The automatic output skips
// it (appended, so it overrides the user's ranks for that one element);
// sound still reaches a JACK server through a sound server's bridge.
constexpr char kRankVariable[] = "GST_PLUGIN_FEATURE_RANK";
constexpr char kSkippedOutputs[] = "jackaudiosink:NONE";

// Their values before the first change; nullopt for an unset one.
std::optional<std::string> user_values[std::size(kPrivateVariables)];
std::optional<std::string> user_ranks;
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
  const char* ranks = g_getenv(kRankVariable);
  if (!changed && ranks) user_ranks = ranks;
  const std::string skipped =
      user_ranks ? *user_ranks + "," + kSkippedOutputs : kSkippedOutputs;
  g_setenv(kRankVariable, skipped.c_str(), TRUE);
  changed = true;
}

void RestoreUserFolders(GAppLaunchContext* context) {
  if (!changed) return;
  for (size_t i = 0; i < std::size(kPrivateVariables); ++i) {
    Restore(context, kPrivateVariables[i].variable, user_values[i]);
  }
  Restore(context, kRankVariable, user_ranks);
}

}  // namespace morva
