// A cache folder of the player's own for the libraries beneath the web view.
//
// The web engine's helper libraries keep caches in the user's cache folder
// ($XDG_CACHE_HOME, by default ~/.cache): Mesa its compiled shaders,
// GStreamer its plugin registry (on the first page with sound), fontconfig
// its font cache when the system one is stale. The player must leave
// nothing behind, and none of these offers a switch that keeps it working
// without writing (GStreamer without a registry finds no plugins at all).
// They all follow XDG_CACHE_HOME, though, and the web processes inherit the
// player's environment when they start, so the player points that variable
// at a fresh folder in the temporary folder and removes the folder when the
// run ends. The price is a cold cache on every run (GStreamer rescans its
// plugins on the first sound).
//
// Other library state goes there too: the sound client writes its cookie
// and runtime link below XDG_CONFIG_HOME (and, without XDG_RUNTIME_DIR, a
// runtime folder in the temporary folder, so PULSE_RUNTIME_PATH points
// into the private folder then), and other libraries keep data or state
// below XDG_DATA_HOME and XDG_STATE_HOME, so those point into the same
// folder. The player's own process keeps the user's configuration and data
// folders (GLib reads them once, before they change), so that it still finds
// the user's default browser; programs it starts for the user get the
// user's folders back (RestoreUserFolders).
#ifndef MORVA_BROWSER_PRIVATE_CACHE_H_
#define MORVA_BROWSER_PRIVATE_CACHE_H_

#include <gio/gio.h>

#include <string>

namespace morva {

class ScopedPrivateCache {
 public:
  // Creates "QZ??????.tmp" (mode 0700) in the temporary folder and points
  // XDG_CACHE_HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_STATE_HOME into
  // it for this process and every process it starts later. REQUIRES: no
  // other thread reads the environment meanwhile, and no web process has
  // started yet. On failure path() is empty and the environment is
  // unchanged.
  ScopedPrivateCache();
  // Removes the folder with everything in it, never following links.
  ~ScopedPrivateCache();
  ScopedPrivateCache(const ScopedPrivateCache&) = delete;
  ScopedPrivateCache& operator=(const ScopedPrivateCache&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Sets, in `context`, the folder variables as they were before a
// ScopedPrivateCache changed them, for a program started on the user's
// behalf. Does nothing when none was made.
void RestoreUserFolders(GAppLaunchContext* context);

// Removes `folder` with everything in it, never following links.
void RemovePrivateFolder(const std::string& folder);

}  // namespace morva

#endif  // MORVA_BROWSER_PRIVATE_CACHE_H_
