#include "app/player_window_gtk.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>

#include "app/about_dlg_gtk.h"
#include "app/display_loss_gtk.h"
#include "app/resources_gtk.h"
#include "platform/ansi_text.h"
#include "platform/last_resort.h"
#include "platform/signals.h"
#include "platform/trace.h"

namespace morva {
namespace {

constexpr char kStringTable[] = "strings.txt";
constexpr char kIconFile[] = "morva.svg";
// The name of the desktop entry and icon that installing the player adds.
constexpr char kApplicationId[] = "org.morva.Morva";

// The player template: 400 x 289 dialog units of the classic dialog font.
constexpr char kTemplateTitle[] = "Morva";
constexpr int kTemplateWidth = 600;
constexpr int kTemplateHeight = 470;
constexpr int kMinWidth = 300;
constexpr int kMinHeight = 200;

// Window icon sizes; the first three serve as the small icon.
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128};
constexpr size_t kSmallIconCount = 3;

// While a nested loop runs, the close is retried this often until the loop
// has ended; one that will not end within the deadline ends the process,
// after the last-resort removal.
constexpr guint kCloseRetryMs = 20;
constexpr gint64 kCloseDeadlineUs = 3 * G_USEC_PER_SEC;

// "&About" -> "_About": the toolkit marks mnemonics with "_", so literal
// underscores double and "&&" is a literal "&".
std::string ToMnemonicLabel(const std::string& text) {
  std::string label;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&') {
      if (i + 1 < text.size() && text[i + 1] == '&') {
        label += '&';
        ++i;
      } else {
        label += '_';
      }
    } else if (text[i] == '_') {
      label += "__";
    } else {
      label += text[i];
    }
  }
  return label;
}

const char* WindowTitle(GtkWidget* window) {
  const char* title = gtk_window_get_title(GTK_WINDOW(window));
  return title ? title : "";
}

// Closes every window but `player`: a menu is cancelled (it holds a grab, no
// loop), a dialog gets the response of its close button (which ends the
// loop of gtk_dialog_run). Other windows, and dialogs that are still there,
// are destroyed only when `destroy` is set: a window with a nested loop
// running must not go under that loop's feet.
void CloseOtherWindows(GtkWidget* player, bool destroy) {
  GList* windows = gtk_window_list_toplevels();
  // Closing one window may destroy another: hold them all meanwhile.
  for (GList* l = windows; l; l = l->next) g_object_ref(l->data);
  for (GList* l = windows; l; l = l->next) {
    GtkWidget* window = GTK_WIDGET(l->data);
    if (window == player || !gtk_widget_get_visible(window)) continue;
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
    if (child && GTK_IS_MENU_SHELL(child)) {
      Trace("closing a menu");
      gtk_menu_shell_cancel(GTK_MENU_SHELL(child));
    } else if (GTK_IS_DIALOG(window)) {
      Trace("closing the dialog \"%s\"", WindowTitle(window));
      gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_DELETE_EVENT);
    }
    // Pop-up windows (tooltips, lists) belong to widgets and go with them.
    if (destroy && gtk_widget_get_visible(window) &&
        gtk_window_get_window_type(GTK_WINDOW(window)) == GTK_WINDOW_TOPLEVEL &&
        !gtk_widget_in_destruction(window)) {
      Trace("closing the window \"%s\"", WindowTitle(window));
      gtk_widget_destroy(window);
    }
  }
  g_list_free_full(windows, g_object_unref);
}

}  // namespace

PlayerWindowGtk::PlayerWindowGtk(std::string private_folder)
    : private_folder_(std::move(private_folder)) {}

// The window whose background work the display's loss stops.
static PlayerWindowGtk* g_running = nullptr;

PlayerWindowGtk::~PlayerWindowGtk() {
  StopBackground();
  if (close_timer_) g_source_remove(close_timer_);
  if (end_source_) g_source_remove(end_source_);
  if (window_) gtk_widget_destroy(window_);
  if (menu_action_) g_object_unref(menu_action_);
  for (auto& sizes : icons_) {
    for (GdkPixbuf* pixbuf : sizes) g_object_unref(pixbuf);
  }
}

int PlayerWindowGtk::RunModal(DialogHandler* handler) {
  // Before anything can start a thread or a web process.
  cache_ = std::make_unique<ScopedPrivateCache>(private_folder_);
  // The application object reads the command line; none of it goes to GTK.
  // The desktop finds the player's entry (and icon) by this name: the
  // window's class on X11, its application id on Wayland.
  g_set_prgname(kApplicationId);
  if (!gtk_init_check(nullptr, nullptr)) return -1;
  RemoveRememberedOnDisplayLoss(StopRunningBackground);
  handler_ = handler;
  g_running = this;
  // Watched before the launch: a request that arrives while the package
  // unpacks stops the unpack (the launch's file system refuses to write on)
  // and is answered here as soon as the launch returns.
  if (EndRequestFd() >= 0) {
    end_source_ = g_unix_fd_add(EndRequestFd(), G_IO_IN, OnEndRequest, this);
  }
  BuildWindow();
  if (!EndRequested()) handler_->OnInitDialog();
  if (EndRequested()) {
    // Never shown: closed as it is, through the same destroy handling.
    Trace("closing on signal %d", EndRequestSignal());
    gtk_widget_destroy(window_);
  } else {
    shown_ = true;
    gtk_widget_show(window_);
    StartBackground();
    loop_ = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
  }
  if (close_timer_) g_source_remove(close_timer_);
  close_timer_ = 0;
  if (end_source_) g_source_remove(end_source_);
  end_source_ = 0;
  handler_ = nullptr;
  shown_ = false;
  g_running = nullptr;
  return 2;  // closed, as by the close button
}

void PlayerWindowGtk::BuildWindow() {
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_window_set_title(window, kTemplateTitle);
  gtk_window_set_default_size(window, kTemplateWidth, kTemplateHeight);
  // Where it stays when the launch stops early; a full launch moves it.
  gtk_window_set_position(window, GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(window, TRUE);
  // A dialog: window managers offer no minimise or maximise for it.
  gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
  GdkGeometry hints = {};
  hints.min_width = kMinWidth;
  hints.min_height = kMinHeight;
  gtk_window_set_geometry_hints(window, nullptr, &hints, GDK_HINT_MIN_SIZE);

  GtkWidget* placeholder = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(placeholder), GTK_SHADOW_IN);
  SetControlId(placeholder, kIdBrowserPlaceholder);
  gtk_container_add(GTK_CONTAINER(window_), placeholder);
  gtk_widget_show(placeholder);

  g_signal_connect(window_, "destroy", G_CALLBACK(OnDestroyWindow), this);
  g_signal_connect(window_, "map-event", G_CALLBACK(OnMapped), nullptr);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
  ApplyIcons();
}

gboolean PlayerWindowGtk::OnMapped(GtkWidget* /*widget*/, GdkEvent* /*event*/,
                                   gpointer /*unused*/) {
  // The moment the user sees the window; the startup benchmark times it.
  Trace("window mapped");
  return FALSE;
}

void PlayerWindowGtk::OnDestroyWindow(GtkWidget* /*widget*/, gpointer self) {
  auto* player = static_cast<PlayerWindowGtk*>(self);
  // Whatever the work left is the destroy handling's to remove.
  player->StopBackground();
  player->no_tour_.reset();
  // Runs before GTK destroys the children: the web view still exists while
  // the handler cleans up.
  if (player->handler_) player->handler_->OnDestroy();
  player->window_ = nullptr;
  if (player->loop_) g_main_loop_quit(player->loop_);
}

gboolean PlayerWindowGtk::OnEndRequest(gint fd, GIOCondition /*condition*/,
                                       gpointer self) {
  auto* player = static_cast<PlayerWindowGtk*>(self);
  char bytes[64];
  while (read(fd, bytes, sizeof bytes) > 0) {
  }
  if (player->window_ && player->close_started_ == 0) {
    Trace("closing on signal %d", EndRequestSignal());
    player->close_started_ = g_get_monotonic_time();
    if (CloseStep(player) == G_SOURCE_CONTINUE) {
      player->close_timer_ = g_timeout_add(kCloseRetryMs, CloseStep, player);
    }
  }
  return G_SOURCE_CONTINUE;
}

gboolean PlayerWindowGtk::CloseStep(gpointer self) {
  auto* player = static_cast<PlayerWindowGtk*>(self);
  if (!player->window_) {
    player->close_timer_ = 0;
    return G_SOURCE_REMOVE;
  }
  // Deeper than 1: this runs inside a nested loop (a dialog's, say), and
  // whatever opened it is still on the stack below.
  const bool nested = g_main_depth() > 1;
  CloseOtherWindows(player->window_, !nested);
  if (nested) {
    if (g_get_monotonic_time() - player->close_started_ > kCloseDeadlineUs) {
      Trace("a nested loop did not end; ending the process");
      RemoveRememberedNow();
      _exit(1);
    }
    return G_SOURCE_CONTINUE;
  }
  player->close_timer_ = 0;
  // Straight to destruction, as a close button's delete event would end:
  // the delete event itself is dropped while another window holds a grab.
  gtk_widget_destroy(player->window_);
  return G_SOURCE_REMOVE;
}

void PlayerWindowGtk::RunWhileShown(BackgroundWork* work) {
  background_ = work;
}

void PlayerWindowGtk::StartBackground() {
  if (background_ == nullptr) return;
  try {
    HelperSignalMask mask;
    background_thread_ = std::thread([this] {
      background_->Run();
      background_done_ = g_idle_add(OnBackgroundDone, this);
    });
    return;
  } catch (const std::system_error&) {
  }
  // No thread to be had: the work runs here, before the window's loop.
  background_->Run();
  background_done_ = g_idle_add(OnBackgroundDone, this);
}

gboolean PlayerWindowGtk::OnBackgroundDone(gpointer self) {
  auto* player = static_cast<PlayerWindowGtk*>(self);
  if (player->background_thread_.joinable()) player->background_thread_.join();
  player->background_done_ = 0;
  BackgroundWork* work = player->background_;
  player->background_ = nullptr;
  if (work != nullptr) work->Done();
  return G_SOURCE_REMOVE;
}

void PlayerWindowGtk::StopBackground() {
  if (background_thread_.joinable()) {
    if (background_thread_.get_id() == std::this_thread::get_id()) return;
    Trace("stopping the unpack");
    background_->Stop();
    background_thread_.join();
  }
  if (background_done_ != 0) g_source_remove(background_done_);
  background_done_ = 0;
  background_ = nullptr;
}

void PlayerWindowGtk::StopRunningBackground() {
  if (g_running != nullptr) g_running->StopBackground();
}

gboolean PlayerWindowGtk::OnKeyPress(GtkWidget* /*widget*/, GdkEventKey* event,
                                     gpointer self) {
  if (event->keyval != GDK_KEY_F1) return FALSE;
  static_cast<PlayerWindowGtk*>(self)->OnCommand(kIdmAboutBox);
  return TRUE;
}

gboolean PlayerWindowGtk::OnContextMenu(WebKitWebView* /*view*/,
                                        WebKitContextMenu* menu,
                                        GdkEvent* /*event*/,
                                        WebKitHitTestResult* /*hit*/,
                                        gpointer self) {
  auto* player = static_cast<PlayerWindowGtk*>(self);
  for (const MenuEntry& entry : player->menu_) {
    if (entry.command_id == 0) {
      webkit_context_menu_append(menu,
                                 webkit_context_menu_item_new_separator());
    } else {
      webkit_context_menu_append(
          menu, webkit_context_menu_item_new_from_gaction(
                    G_ACTION(player->menu_action_), entry.label.c_str(),
                    g_variant_new_int32(entry.command_id)));
    }
  }
  return FALSE;  // show the menu
}

void PlayerWindowGtk::OnMenuAction(GSimpleAction* /*action*/,
                                   GVariant* parameter, gpointer self) {
  static_cast<PlayerWindowGtk*>(self)->OnCommand(
      g_variant_get_int32(parameter));
}

void PlayerWindowGtk::OnCommand(int command_id) {
  // System command ids keep their low four bits for the system's own use.
  if ((command_id & 0xFFF0) != kIdmAboutBox) return;
  GdkPixbuf* icon = nullptr;
  if (big_icon_ > 0) icon = icons_[big_icon_ - 1].back();
  CAboutDlg about(gtk_window(), icon);
  about.DoModal();
}

std::string PlayerWindowGtk::LoadText(int string_id) {
  const std::string table = ResourceText(kStringTable);
  size_t pos = 0;
  while (pos < table.size()) {
    size_t end = table.find('\n', pos);
    if (end == std::string::npos) end = table.size();
    const std::string line = table.substr(pos, end - pos);
    pos = end + 1;
    const size_t tab = line.find('\t');
    if (line.empty() || line[0] == '#' || tab == std::string::npos) continue;
    if (std::atoi(line.substr(0, tab).c_str()) == string_id) {
      return line.substr(tab + 1);
    }
  }
  return "";
}

int PlayerWindowGtk::LoadIconResource(int icon_id) {
  if (icon_id != kIdIcon) return 0;
  GBytes* bytes = LookUpResource(kIconFile);
  if (!bytes) return 0;
  std::vector<GdkPixbuf*> sizes;
  for (int size : kIconSizes) {
    GInputStream* stream = g_memory_input_stream_new_from_bytes(bytes);
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_stream_at_scale(
        stream, size, size, TRUE, nullptr, nullptr);
    g_object_unref(stream);
    // No SVG loader installed: the player runs without an icon.
    if (!pixbuf) break;
    sizes.push_back(pixbuf);
  }
  g_bytes_unref(bytes);
  if (sizes.size() != std::size(kIconSizes)) {
    for (GdkPixbuf* pixbuf : sizes) g_object_unref(pixbuf);
    return 0;
  }
  icons_.push_back(std::move(sizes));
  return static_cast<int>(icons_.size());
}

bool PlayerWindowGtk::HasSystemMenu() {
  // The context menu of the page stands in for it.
  return true;
}

void PlayerWindowGtk::AppendMenuSeparator() { menu_.push_back({0, ""}); }

void PlayerWindowGtk::AppendMenuItem(int command_id, const std::string& text) {
  if (text.empty()) return;
  if (!menu_action_) {
    menu_action_ = g_simple_action_new("player-command", G_VARIANT_TYPE_INT32);
    g_signal_connect(menu_action_, "activate", G_CALLBACK(OnMenuAction), this);
  }
  menu_.push_back({command_id, ToMnemonicLabel(AnsiToUtf8(text))});
}

void PlayerWindowGtk::SetIcon(int icon, bool big) {
  if (icon < 0 || icon > static_cast<int>(icons_.size())) return;
  (big ? big_icon_ : small_icon_) = icon;
  ApplyIcons();
}

void PlayerWindowGtk::ApplyIcons() {
  if (!window_) return;
  GList* list = nullptr;
  if (small_icon_ > 0) {
    const auto& sizes = icons_[small_icon_ - 1];
    for (size_t i = 0; i < kSmallIconCount; ++i) {
      list = g_list_append(list, sizes[i]);
    }
  }
  if (big_icon_ > 0) {
    const auto& sizes = icons_[big_icon_ - 1];
    for (size_t i = kSmallIconCount; i < sizes.size(); ++i) {
      list = g_list_append(list, sizes[i]);
    }
  }
  gtk_window_set_icon_list(GTK_WINDOW(window_), list);
  g_list_free(list);
}

bool PlayerWindowGtk::ReplacePlaceholder(int control_id) {
  if (!window_ ||
      !browser_.ReplacePlaceholder(control_id, GTK_CONTAINER(window_))) {
    return false;
  }
  g_signal_connect(browser_.widget(), "context-menu", G_CALLBACK(OnContextMenu),
                   this);
  return true;
}

int PlayerWindowGtk::GetSystemMetrics(int /*index*/) {
  // GTK sizes the content area; the frame and caption belong to the window
  // manager (or to no one, under X without one) and are not ours to add.
  return 0;
}

void PlayerWindowGtk::CenterWindow() {
  if (!window_) return;
  GdkDisplay* display = gtk_widget_get_display(window_);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  int width = 0;
  int height = 0;
  gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
  gtk_window_move(GTK_WINDOW(window_), area.x + (area.width - width) / 2,
                  area.y + (area.height - height) / 2);
}

void PlayerWindowGtk::SetTitle(const std::string& title) {
  if (!window_) return;
  // Titles are C strings on every platform: a NUL ends them.
  const std::string utf8 = AnsiToUtf8(title.substr(0, title.find('\0')));
  gtk_window_set_title(GTK_WINDOW(window_), utf8.c_str());
}

Rect PlayerWindowGtk::GetClientRect() {
  Rect rect;
  if (!window_) return rect;
  int width = 0;
  int height = 0;
  gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
  rect.right = width;
  rect.bottom = height;
  return rect;
}

void PlayerWindowGtk::MoveChild(int control_id, const Rect& /*rect*/,
                                bool repaint) {
  if (!window_) return;
  GtkWidget* child = FindControl(GTK_CONTAINER(window_), control_id);
  // The window's one child always gets the whole content area, before and
  // after every resize, so there is nothing to place; only the repaint
  // request carries over.
  if (child && repaint) gtk_widget_queue_draw(child);
}

void PlayerWindowGtk::ShowWindow(int show_command) {
  // Before the first show the window is not on screen yet; RunModal shows
  // it when the launch has finished.
  if (!window_ || !shown_) return;
  if (show_command == 0) {
    gtk_widget_hide(window_);
  } else {
    gtk_widget_show(window_);
    gtk_window_deiconify(GTK_WINDOW(window_));
  }
}

void PlayerWindowGtk::SetWindowPos(ZOrder /*insert_after*/, int x, int y,
                                   int cx, int cy, unsigned flags) {
  if (!window_) return;
  // As a window system limits a window to the screen: a tour asking for
  // more would only cost memory for what cannot be seen.
  LimitToWorkArea(gtk_widget_get_display(window_), x, y, &cx, &cy);
  gtk_window_resize(GTK_WINDOW(window_), std::max(cx, 1), std::max(cy, 1));
  gtk_window_move(GTK_WINDOW(window_), x, y);
  if (!shown_) return;
  if (flags & kSwpHideWindow) {
    gtk_widget_hide(window_);
  } else if (GdkWindow* gdk_window = gtk_widget_get_window(window_)) {
    gdk_window_raise(gdk_window);
  }
}

void PlayerWindowGtk::ConfineBrowser(const std::string& folder) {
  browser_.ConfineTo(folder, private_folder_);
}

void PlayerWindowGtk::Navigate(const std::string& address, unsigned flags,
                               const std::string& target_frame,
                               const std::string& headers,
                               const std::string& post_data) {
  browser_.Navigate(address, flags, target_frame, headers, post_data);
}

void PlayerWindowGtk::ShowNoTourPage() {
  if (!window_ || !browser_.widget() || no_tour_) return;
  no_tour_ = std::make_unique<NoTourPage>(GTK_WINDOW(window_),
                                          WEBKIT_WEB_VIEW(browser_.widget()));
}

}  // namespace morva
