// CHtmlCtrl: the web view that fills the player window and shows the tour.
//
// On top of a plain WebKitGTK view it adds the player's own rules:
// - addresses with the "app:" scheme go to OnAppLink and are never loaded;
// - pages never show scroll bars;
// - a page that closes itself closes the player window (through the
//   window's normal close path, so the cleanup runs);
// - windows the page opens become windows of the player, under the same
//   rules, and never outlive the control; one opened without a size gets
//   the size of the player's view, and its page's title with the player's
//   title suffix;
// - the tour stays inside its work folder, downloads nothing, gets no
//   permissions and opens web links in the user's own browser (sandbox.h).
#ifndef MORVA_BROWSER_HTML_CTRL_H_
#define MORVA_BROWSER_HTML_CTRL_H_

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>
#include <string_view>
#include <vector>

#include "browser/sandbox.h"

namespace morva {

// Control ids of child widgets, the way dialog templates number them.
void SetControlId(GtkWidget* widget, int control_id);
// Returns the direct child of `parent` with that id, or nullptr.
GtkWidget* FindControl(GtkContainer* parent, int control_id);

// Asks `window` to close as if the user had pressed its close button, once
// the main loop is idle (never from inside the caller's signal emission).
void PostCloseRequest(GtkWidget* window);

// True when the first four bytes of `address` are "app:" in any letter case.
bool IsAppLink(std::string_view address);

// Turns a start address into a URI: an absolute or relative file path
// becomes a file: URI built from the path's bytes (so "%" or "#" in a file
// name stay part of the name), with its symbolic links resolved when it
// exists, followed by the query or fragment that comes after the file's
// name, if any (FilePartOfAddress); anything with a scheme passes unchanged.
// Returns "" when the path cannot be expressed as a URI.
std::string AddressToUri(const std::string& address);

class CHtmlCtrl {
 public:
  CHtmlCtrl();
  virtual ~CHtmlCtrl();
  CHtmlCtrl(const CHtmlCtrl&) = delete;
  CHtmlCtrl& operator=(const CHtmlCtrl&) = delete;

  // Puts the web view in place of the child of `parent` with `control_id`:
  // the placeholder is destroyed and the view takes its place, its id and
  // its allocation (the whole content area when `parent` is a window).
  // Returns false, changing nothing, when there is no such child or the
  // control exists already.
  bool ReplacePlaceholder(int control_id, GtkContainer* parent);

  // Confines the view and every window it opens to the files inside
  // `folder` (see TourSandbox::ConfineTo, which compiles its filter in
  // `private_folder`). Until the confinement is in place Navigate only
  // notes its address; without it nothing loads. Does nothing before
  // ReplacePlaceholder, or when called a second time.
  void ConfineTo(const std::string& folder, const std::string& private_folder);

  // Loads `address` (see AddressToUri) into the view, once the view is
  // confined and if the address lies inside the folder. The player always
  // targets "_self" and sends no flags, headers or post data; other targets
  // also load here. Does nothing before ReplacePlaceholder.
  void Navigate(const std::string& address, unsigned flags,
                const std::string& target_frame, const std::string& headers,
                const std::string& post_data);

  // The view, or nullptr before ReplacePlaceholder. Owned by the control.
  GtkWidget* widget() const { return GTK_WIDGET(view_); }

  // Windows the page has opened and that are still open.
  const std::vector<GtkWidget*>& popups() const { return popups_; }

  // Called with the text after "app:" of an address the page asked for.
  // The address itself is never loaded.
  virtual void OnAppLink(const std::string& command);

 private:
  WebKitWebView* NewRelatedView(WebKitWebView* related);
  void Attach(WebKitWebView* view);
  void Detach(WebKitWebView* view);
  void ShowPopup(WebKitWebView* view);
  void LoadWhenConfined(bool confined);
  // A navigation or window the page asked for: true when it may go on in
  // the player; otherwise it was handed on or dropped.
  bool Follow(WebKitWebView* view, const char* uri, bool user_gesture);

  static gboolean OnDecidePolicy(WebKitWebView* view,
                                 WebKitPolicyDecision* decision,
                                 WebKitPolicyDecisionType type, gpointer self);
  static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event,
                            gpointer self);
  static void OnClose(WebKitWebView* view, gpointer self);
  static GtkWidget* OnCreate(WebKitWebView* view,
                             WebKitNavigationAction* action, gpointer self);
  static void OnReadyToShow(WebKitWebView* view, gpointer self);
  static void OnPopupDestroyed(GtkWidget* window, gpointer self);
  // Also a "notify" handler, whose second argument (the property that
  // changed) it does not need.
  static void OnPopupTitle(WebKitWebView* view, gpointer property,
                           gpointer window);

  TourSandbox sandbox_;
  bool confining_ = false;
  std::string pending_uri_;  // what Navigate asked for before confinement
  WebKitWebContext* context_ = nullptr;
  WebKitWebView* view_ = nullptr;   // strong reference
  std::vector<GtkWidget*> popups_;  // their toplevel windows
};

}  // namespace morva

#endif  // MORVA_BROWSER_HTML_CTRL_H_
