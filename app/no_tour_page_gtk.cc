#include "app/no_tour_page_gtk.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/resources_gtk.h"
#include "browser/compat.h"
#include "browser/html_ctrl.h"
#include "browser/private_cache.h"
#include "package/package_region.h"
#include "platform/files.h"
#include "platform/trace.h"

namespace morva {
namespace {

constexpr char kPageResource[] = "no_tour.html";
constexpr char kIconResource[] = "morva.svg";
constexpr char kIconPlaceholder[] = "<!--ICON-->";
constexpr char kOpenMessage[] = "openTour";
constexpr char kChooserTitle[] = "Open Tour";
constexpr char kChooserPresetVariable[] = "MORVA_TEST_CHOOSER_FILE";

// What tours are: programs, ours (ELF) or made for Windows, by the names
// the desktop's MIME database gives them, old and new.
constexpr const char* kTourTypes[] = {
    "application/x-ms-dos-executable",
    "application/x-msdownload",
    "application/vnd.microsoft.portable-executable",
    "application/x-executable",
    "application/x-pie-executable",
    "application/x-sharedlib",
};

// The page with the player's icon drawn inside it: the page reaches
// nothing but itself.
std::string PageHtml() {
  std::string html = ResourceText(kPageResource);
  std::string icon = ResourceText(kIconResource);
  icon.erase(0, icon.find("<svg"));  // the XML declaration and comment
  const size_t at = html.find(kIconPlaceholder);
  if (at != std::string::npos) html.replace(at, strlen(kIconPlaceholder), icon);
  return html;
}

// A JavaScript string literal holding `utf8`.
std::string ScriptString(const std::string& utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// The file's name as the user knows it, in quotes.
std::string Quoted(const std::string& path) {
  gchar* name = g_filename_display_basename(path.c_str());
  std::string quoted = std::string("\u201c") + name + "\u201d";
  g_free(name);
  return quoted;
}

// Why the file at `path` cannot be played, or "" when it can be.
std::string ProblemWith(const std::string& path) {
  struct stat st;
  if (Files()->StatAt(AT_FDCWD, path, &st, 0) != 0) {
    return Quoted(path) + " cannot be opened: " + std::strerror(errno) + ".";
  }
  if (!S_ISREG(st.st_mode)) return Quoted(path) + " is not a file.";
  const int fd = Files()->OpenAt(AT_FDCWD, path, O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) {
    return Quoted(path) + " cannot be opened: " + std::strerror(errno) + ".";
  }
  PackageRegion region;
  const bool tour = FindPackageRegion(fd, &region);
  Files()->Close(fd);
  if (!tour) return Quoted(path) + " holds no tour.";
  return "";
}

}  // namespace

NoTourPage::NoTourPage(GtkWindow* window, WebKitWebView* view)
    : window_(window), view_(view) {
  WebKitUserContentManager* manager =
      webkit_web_view_get_user_content_manager(view_);
  g_signal_connect(
      manager,
      (std::string("script-message-received::") + kOpenMessage).c_str(),
      G_CALLBACK(OnOpenMessage), this);
  webkit_user_content_manager_register_script_message_handler(manager,
                                                              kOpenMessage);
  webkit_web_view_load_html(view_, PageHtml().c_str(), nullptr);

  // The web view takes no drops (browser/sandbox.h), so a file dropped
  // anywhere on the page comes to the window. Never a move: the file stays
  // where the user keeps it.
  gtk_drag_dest_set(
      GTK_WIDGET(window_), GTK_DEST_DEFAULT_ALL, nullptr, 0,
      static_cast<GdkDragAction>(GDK_ACTION_COPY | GDK_ACTION_LINK));
  gtk_drag_dest_add_uri_targets(GTK_WIDGET(window_));
  g_signal_connect(window_, "drag-data-received", G_CALLBACK(OnDropReceived),
                   this);
}

NoTourPage::~NoTourPage() {
  g_signal_handlers_disconnect_by_data(window_, this);
  WebKitUserContentManager* manager =
      webkit_web_view_get_user_content_manager(view_);
  g_signal_handlers_disconnect_by_data(manager, this);
  webkit_user_content_manager_unregister_script_message_handler(manager,
                                                                kOpenMessage);
  if (chooser_) {
    g_signal_handlers_disconnect_by_data(chooser_, this);
    gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(chooser_));
    g_object_unref(chooser_);
  }
}

void NoTourPage::Open(const std::string& path) {
  const std::string problem = ProblemWith(path);
  if (!problem.empty()) {
    Trace("not a tour to play: %s", path.c_str());
    ShowProblem(problem);
    return;
  }
  // As `morva TOUR`, with the user's own folders: this player's private
  // ones go with it. The new player is nobody's child here (it outlives
  // this one) and gets none of this one's descriptors.
  const std::string exe = Files()->ModuleFileName();
  const gchar* argv[] = {exe.c_str(), "--", path.c_str(), nullptr};
  gchar** environment = UserEnvironment();
  GError* error = nullptr;
  const gboolean started =
      g_spawn_async(nullptr, const_cast<gchar**>(argv), environment,
                    G_SPAWN_DEFAULT, nullptr, nullptr, nullptr, &error);
  g_strfreev(environment);
  if (!started) {
    Trace("the player for %s did not start: %s", path.c_str(), error->message);
    ShowProblem(std::string("The player could not be started for ") +
                Quoted(path) + ": " + error->message);
    g_error_free(error);
    return;
  }
  Trace("playing %s in a new player", path.c_str());
  PostCloseRequest(GTK_WIDGET(window_));
}

void NoTourPage::ShowChooser() {
  if (chooser_) return;  // modal: already in front
  chooser_ = gtk_file_chooser_native_new(
      kChooserTitle, window_, GTK_FILE_CHOOSER_ACTION_OPEN, "_Open", "_Cancel");
  GtkFileChooser* chooser = GTK_FILE_CHOOSER(chooser_);
  gtk_file_chooser_set_local_only(chooser, TRUE);
  GtkFileFilter* tours = gtk_file_filter_new();
  gtk_file_filter_set_name(tours, "Tours (programs)");
  for (const char* type : kTourTypes)
    gtk_file_filter_add_mime_type(tours, type);
  gtk_file_filter_add_pattern(tours, "*.[Ee][Xx][Ee]");
  gtk_file_chooser_add_filter(chooser, tours);
  GtkFileFilter* all = gtk_file_filter_new();
  gtk_file_filter_set_name(all, "All files");
  gtk_file_filter_add_pattern(all, "*");
  gtk_file_chooser_add_filter(chooser, all);
  gtk_file_chooser_set_filter(chooser, tours);
  // The GUI tests drive the real chooser: it opens with this file chosen.
  if (const char* chosen = g_getenv(kChooserPresetVariable)) {
    gtk_file_chooser_set_filename(chooser, chosen);
  }
  gtk_native_dialog_set_modal(GTK_NATIVE_DIALOG(chooser_), TRUE);
  g_signal_connect(chooser_, "response", G_CALLBACK(OnChooserResponse), this);
  gtk_native_dialog_show(GTK_NATIVE_DIALOG(chooser_));
}

void NoTourPage::ShowProblem(const std::string& text) {
  compat::RunScript(view_,
                    ("showProblem(" + ScriptString(text) + ");").c_str());
}

void NoTourPage::OnOpenMessage(WebKitUserContentManager* /*manager*/,
                               WebKitJavascriptResult* /*message*/,
                               gpointer self) {
  static_cast<NoTourPage*>(self)->ShowChooser();
}

void NoTourPage::OnChooserResponse(GtkNativeDialog* chooser, gint response,
                                   gpointer self) {
  auto* page = static_cast<NoTourPage*>(self);
  std::string path;
  if (response == GTK_RESPONSE_ACCEPT) {
    gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (chosen) path = chosen;
    g_free(chosen);
  }
  g_signal_handlers_disconnect_by_data(chooser, page);
  page->chooser_ = nullptr;
  g_object_unref(chooser);
  if (!path.empty()) page->Open(path);
}

void NoTourPage::OnDropReceived(GtkWidget* /*widget*/,
                                GdkDragContext* /*context*/, gint /*x*/,
                                gint /*y*/, GtkSelectionData* data,
                                guint /*info*/, guint /*time*/, gpointer self) {
  auto* page = static_cast<NoTourPage*>(self);
  gchar** uris = gtk_selection_data_get_uris(data);
  if (!uris || !uris[0]) {
    page->ShowProblem("Only files can be played.");
  } else if (uris[1]) {
    page->ShowProblem("Drop one tour at a time.");
  } else if (gchar* path = g_filename_from_uri(uris[0], nullptr, nullptr)) {
    page->Open(path);
    g_free(path);
  } else {
    page->ShowProblem("Only a file on this computer can be played.");
  }
  g_strfreev(uris);
}

}  // namespace morva
