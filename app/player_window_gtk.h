// The player window on GTK 3: the real PlayerWindow behind CPreviewDlg.
//
// Mapping of the dialog model onto GTK:
// - The template is built in code: a resizable toplevel titled "Morva",
//   600 x 470 pixels, whose only child is the placeholder control 1000.
// - There is no system menu; the About item goes into the web view's
//   context menu and F1 opens the About box too.
// - GTK sizes the content area, not the frame, and reports no frame
//   metrics, so GetSystemMetrics returns 0 and the outer size that the
//   launch computes is the content size.
// - Until the window is first shown (that is, while OnInitDialog runs),
//   ShowWindow and the hide flag of SetWindowPos only decide what the first
//   show does; RunModal shows the window once OnInitDialog has returned, as
//   a dialog's modal loop would, already at its final place and size.
// - SetWindowPos limits the window to the work area of the screen it is on.
// - RunWhileShown's work starts on its thread as RunModal shows the window;
//   its Done runs from the window's loop. The window's destruction, however
//   it comes, stops the work and waits for it first; so does the display
//   going away, before the last-resort removal.
// - A request to end (platform/signals.h) closes the window as the close
//   button does, at any moment: what the window opened is closed first (a
//   dialog's own loop, such as the About box's or the print dialog's, ends
//   with a response; an open menu is cancelled; the page's windows go), and
//   the player window once its own loop runs again.
#ifndef MORVA_APP_PLAYER_WINDOW_GTK_H_
#define MORVA_APP_PLAYER_WINDOW_GTK_H_

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/no_tour_page_gtk.h"
#include "app/window.h"
#include "browser/html_ctrl.h"
#include "browser/private_cache.h"

namespace morva {

class PlayerWindowGtk : public PlayerWindow {
 public:
  // private_folder: where the libraries beneath the web view keep their
  // state (browser/private_cache.h); empty leaves them where they are.
  explicit PlayerWindowGtk(std::string private_folder = "");
  ~PlayerWindowGtk() override;
  PlayerWindowGtk(const PlayerWindowGtk&) = delete;
  PlayerWindowGtk& operator=(const PlayerWindowGtk&) = delete;

  // Returns -1 without calling the handler when there is no display.
  int RunModal(DialogHandler* handler) override;

  std::string LoadText(int string_id) override;
  int LoadIconResource(int icon_id) override;

  bool HasSystemMenu() override;
  void AppendMenuSeparator() override;
  void AppendMenuItem(int command_id, const std::string& text) override;
  void SetIcon(int icon, bool big) override;
  bool ReplacePlaceholder(int control_id) override;
  int GetSystemMetrics(int index) override;
  void CenterWindow() override;
  void SetTitle(const std::string& title) override;
  Rect GetClientRect() override;
  void MoveChild(int control_id, const Rect& rect, bool repaint) override;
  void ShowWindow(int show_command) override;
  void SetWindowPos(ZOrder insert_after, int x, int y, int cx, int cy,
                    unsigned flags) override;
  void ConfineBrowser(const std::string& folder) override;
  void Navigate(const std::string& address, unsigned flags,
                const std::string& target_frame, const std::string& headers,
                const std::string& post_data) override;
  void ShowNoTourPage() override;
  bool CanRunWhileShown() override { return true; }
  void RunWhileShown(BackgroundWork* work) override;

  // The window while RunModal runs, else nullptr.
  GtkWindow* gtk_window() const { return GTK_WINDOW(window_); }

 private:
  struct MenuEntry {
    int command_id;     // 0 for a separator
    std::string label;  // GTK mnemonic form
  };

  void BuildWindow();
  void OnCommand(int command_id);
  void ApplyIcons();

  static gboolean OnMapped(GtkWidget* widget, GdkEvent* event, gpointer unused);
  static void OnDestroyWindow(GtkWidget* widget, gpointer self);
  static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event,
                             gpointer self);
  static gboolean OnContextMenu(WebKitWebView* view, WebKitContextMenu* menu,
                                GdkEvent* event, WebKitHitTestResult* hit,
                                gpointer self);
  static void OnMenuAction(GSimpleAction* action, GVariant* parameter,
                           gpointer self);
  static gboolean OnEndRequest(gint fd, GIOCondition condition, gpointer self);
  static gboolean CloseStep(gpointer self);
  void StartBackground();
  // Stops the background work and waits for it; nothing when none runs.
  void StopBackground();
  static gboolean OnBackgroundDone(gpointer self);
  static void StopRunningBackground();

  GtkWidget* window_ = nullptr;
  DialogHandler* handler_ = nullptr;
  GMainLoop* loop_ = nullptr;
  bool shown_ = false;  // true once RunModal has shown the window
  std::string private_folder_;
  // Declared before the browser so that it goes after it.
  std::unique_ptr<ScopedPrivateCache> cache_;
  CHtmlCtrl browser_;
  std::unique_ptr<NoTourPage> no_tour_;  // goes with the window
  std::vector<MenuEntry> menu_;
  GSimpleAction* menu_action_ = nullptr;
  // Icon handles are indexes + 1 into this list; each icon is kept at the
  // sizes a window icon list wants.
  std::vector<std::vector<GdkPixbuf*>> icons_;
  int big_icon_ = 0;
  int small_icon_ = 0;
  guint end_source_ = 0;
  guint close_timer_ = 0;
  gint64 close_started_ = 0;  // monotonic microseconds; 0 while not closing
  BackgroundWork* background_ = nullptr;  // until Done or stopped
  std::thread background_thread_;
  // The idle source that calls Done; set by the thread as it ends.
  guint background_done_ = 0;
};

}  // namespace morva

#endif  // MORVA_APP_PLAYER_WINDOW_GTK_H_
