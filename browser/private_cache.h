// The state of the libraries beneath the web view, kept in the player's
// private folder.
//
// The web engine's helper libraries keep caches in the user's cache folder
// ($XDG_CACHE_HOME, by default ~/.cache): Mesa its compiled shaders,
// GStreamer its plugin registry (on the first page with sound), fontconfig
// its font cache when the system one is stale. The player must leave
// nothing behind, and none of these offers a switch that keeps it working
// without writing (GStreamer without a registry finds no plugins at all).
// They all follow the XDG variables, though, and the web processes inherit
// the player's environment when they start, so the player points them at
// subfolders of its private folder (package/private_folder.h), which goes
// when the run ends, and which the next player removes should this one be
// killed. The price is a cold cache on every run (GStreamer rescans its
// plugins on the first sound).
//
// Other library state goes there too: the sound client writes its cookie
// and runtime link below XDG_CONFIG_HOME (and, without XDG_RUNTIME_DIR, a
// runtime folder in the temporary folder, so PULSE_RUNTIME_PATH points
// into the private folder then), and other libraries keep data or state
// below XDG_DATA_HOME and XDG_STATE_HOME. Where no variable moves a
// library's state (the JACK client's database in /dev/shm), the library is
// kept out: the media framework's automatic audio output skips JACK. Mesa's
// shader cache on disk is off: no later run could use it. The
// player's own process keeps the user's configuration and data folders
// (GLib reads them once, before they change), so that it still finds the
// user's default browser; programs it starts for the user get the user's
// folders and settings back (RestoreUserFolders).
// GLib's temporary folder in the player's own process is the private folder
// too (the web engine writes temporary files through it); the launch's
// stays $TMPDIR.
#ifndef MORVA_BROWSER_PRIVATE_CACHE_H_
#define MORVA_BROWSER_PRIVATE_CACHE_H_

#include <gio/gio.h>

#include <string>

namespace morva {

class ScopedPrivateCache {
 public:
  // Makes a subfolder of private_folder (mode 0700) for each variable below
  // and sets the variable to it, for this process and every process it
  // starts later. A variable whose folder cannot be made keeps its value.
  // Does nothing when private_folder is empty. REQUIRES: no other thread
  // reads the environment meanwhile, and no web process has started yet.
  explicit ScopedPrivateCache(const std::string& private_folder);
  ScopedPrivateCache(const ScopedPrivateCache&) = delete;
  ScopedPrivateCache& operator=(const ScopedPrivateCache&) = delete;
  // The folders go with the private folder.
};

// Sets, in `context`, the variables as they were before a ScopedPrivateCache
// changed them, for a program started on the user's behalf. Does nothing
// when none was made.
void RestoreUserFolders(GAppLaunchContext* context);

// This process's environment with those variables as they were, for a
// program started on the user's behalf with g_spawn*. Free with g_strfreev.
gchar** UserEnvironment();

}  // namespace morva

#endif  // MORVA_BROWSER_PRIVATE_CACHE_H_
