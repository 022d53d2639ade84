// The rules that keep a tour inside its package.
//
// A tour comes from a disc or a download, so the web view treats it like a
// page from a stranger:
// - it reaches only the files inside the tour's work folder: every file:
//   load elsewhere is refused, whether for the page, a frame, a script, a
//   style sheet, an image, a media element, a worker, an XHR or fetch, or a
//   WebGL texture (they all pass the same content filter);
// - it downloads nothing and saves nothing: downloads are cancelled before
//   a destination exists, responses the view cannot show are ignored, and
//   the context menu offers no download, save or new-window items;
// - it gets no permission (location, notifications, camera, microphone,
//   screen, pointer, files to upload); showing itself full screen is fine;
// - it shows no web page: web and mail links the user clicks open in the
//   user's own programs, those the page follows on its own are dropped;
// - its windows never grow beyond the screen's work area.
// Every web context and view of the player is set up here, so that these
// rules sit in one place, together with what the views add to every tour:
// sound and video that start without a click, and Flash content
// (browser/flash_runtime.h: the runtime's scheme, the document-start scripts of
// every frame, a .swf document shown in a page that plays it). Schemes the
// player serves itself (the Flash runtime's files) are not file: addresses and
// pass the content filter as sub-resources; a navigation to one is let through
// only where Judge() lists it, and the runtime needs none.
#ifndef MORVA_BROWSER_SANDBOX_H_
#define MORVA_BROWSER_SANDBOX_H_

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdint>
#include <functional>
#include <string>

namespace morva {

// What becomes of a navigation or a new window a page asks for.
enum class NavigationVerdict {
  kLoad,         // a page of the tour, or one the page made itself
  kOpenOutside,  // a web or mail link the user followed: the user's program
  kDrop,         // anything else: nothing happens
};

// The per-view part of the rules, and the confinement to one folder.
class TourSandbox {
 public:
  TourSandbox() = default;
  // Forgets a pending confinement: its callback no longer runs.
  ~TourSandbox();
  TourSandbox(const TourSandbox&) = delete;
  TourSandbox& operator=(const TourSandbox&) = delete;

  // A new ephemeral web context (nothing a tour does outlives the run)
  // that cancels every download before it has a destination, serves the
  // Flash runtime's scheme, and gives pages a language when the locale has
  // none.
  static WebKitWebContext* NewContext();
  // A new view of the tour in `context` (floating, as from g_object_new):
  // the tour's settings, sound and video that may start without a click
  // (as tours made for older browsers expect), the document-start scripts
  // of every frame, and the rules of every view (no permission, no file
  // chooser, no download or new-window items in its context menu, no
  // response the view cannot show, a .swf document played in a page).
  static WebKitWebView* NewView(WebKitWebContext* context);
  // A view for a window the page of `related` opens: it shares the web
  // process, context, settings, autoplay policy, scripts and content filter
  // of `related`, and follows the same rules (floating, as the "create"
  // signal hands it on).
  static WebKitWebView* NewRelatedView(WebKitWebView* related);

  // Confines every load of the views that share `manager` to the files
  // inside `folder` (symbolic links resolved). The filter is compiled into
  // a new folder in `private_folder` (the player's, package/private_folder.h;
  // the temporary folder when empty), which is removed as soon as the
  // filter is in place; then `ready` runs with true. It runs with false, and
  // every file: address stays refused, when the folder or the filter cannot
  // be made. Until then Allows() refuses every file: address. Call once.
  void ConfineTo(const std::string& folder, const std::string& private_folder,
                 WebKitUserContentManager* manager,
                 std::function<void(bool)> ready);

  // True when a page may load `uri`: a file: address inside the folder
  // (the folder's real path, matched with its letter case, no escaped "/"
  // or NUL in the path), or an address the page made itself (about:, data:,
  // blob:). Anything else, and every file: address before the confinement
  // is in place, is refused.
  bool Allows(const char* uri) const;

  // What becomes of a navigation to `uri`; `user_gesture` tells whether
  // the user's click or key press started it.
  NavigationVerdict Judge(const char* uri, bool user_gesture) const;

  // Opens `uri` with the user's default program for it, started with the
  // user's own folders (not the player's private ones). At most one a
  // second: a page cannot flood the desktop. Returns whether a program was
  // started.
  bool OpenOutside(GtkWidget* near, const char* uri);

  // The file: URI of the folder, ending in "/"; empty until ConfineTo.
  const std::string& root_uri() const { return root_uri_; }

 private:
  struct Pending;

  // Connects the rules every view of the tour follows (see NewView).
  static void Guard(WebKitWebView* view);

  std::string root_uri_;
  bool confined_ = false;
  Pending* pending_ = nullptr;  // owned by the compile's callback
  int64_t last_outside_us_ = 0;
};

// Limits a window of *width x *height at (x, y) to the work area of the
// monitor there.
void LimitToWorkArea(GdkDisplay* display, int x, int y, int* width,
                     int* height);

}  // namespace morva

#endif  // MORVA_BROWSER_SANDBOX_H_
