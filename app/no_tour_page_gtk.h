// The page of a player that carries no tour and was named none.
//
// Instead of an empty window, the web view shows a page of the player's own
// (res/no_tour.html, from the binary's resources) that says there is no
// tour and offers "Open Tour...": a native file chooser filtered to
// programs. A file dropped onto the window is taken too. A file that
// carries a package plays in a new player process started as `morva TOUR`
// (the same launch, window and cleanup as ever), with the user's own
// environment, and this window closes through its normal path. A file that
// does not is refused on the page, which says why.
//
// The chooser is the desktop's: like any program's, it remembers its own
// settings and adds the file chosen to the user's recently used files.
// Dropping a file records nothing.
//
// MORVA_TEST_CHOOSER_FILE, when set, names a file that the chooser opens
// with already chosen, so that tests can drive the real chooser.
//
// The page is ours, not a tour's: it loads nothing from disk and the web
// view stays unconfined only because nothing is ever navigated to in it.
#ifndef MORVA_APP_NO_TOUR_PAGE_GTK_H_
#define MORVA_APP_NO_TOUR_PAGE_GTK_H_

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <string>

namespace morva {

class NoTourPage {
 public:
  // Loads the page into `view` and takes drops on `window`.
  // REQUIRES: both outlive the page.
  NoTourPage(GtkWindow* window, WebKitWebView* view);
  // Closes a chooser that is still open.
  ~NoTourPage();
  NoTourPage(const NoTourPage&) = delete;
  NoTourPage& operator=(const NoTourPage&) = delete;

  // Plays the tour at `path` in a new player and closes the window; a file
  // that is no tour, or a player that cannot start, is said on the page
  // and the window stays.
  void Open(const std::string& path);

 private:
  void ShowChooser();
  void ShowProblem(const std::string& text);

  static void OnOpenMessage(WebKitUserContentManager* manager,
                            WebKitJavascriptResult* message, gpointer self);
  static void OnChooserResponse(GtkNativeDialog* chooser, gint response,
                                gpointer self);
  static void OnDropReceived(GtkWidget* widget, GdkDragContext* context, gint x,
                             gint y, GtkSelectionData* data, guint info,
                             guint time, gpointer self);

  GtkWindow* window_;
  WebKitWebView* view_;
  GtkFileChooserNative* chooser_ = nullptr;
};

}  // namespace morva

#endif  // MORVA_APP_NO_TOUR_PAGE_GTK_H_
