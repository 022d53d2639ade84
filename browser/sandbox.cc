#include "browser/sandbox.h"

#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <cstring>

#include "browser/compat.h"
#include "browser/flash_runtime.h"
#include "browser/private_cache.h"
#include "package/cleanup.h"
#include "platform/path.h"
#include "platform/trace.h"

namespace morva {
namespace {

// Stand-in for the identifier a rule list is stored under; the store is
// private and removed at once, so any name does.
constexpr char kRuleListId[] = "tour";

// Between two programs started for the page.
constexpr int64_t kOutsideIntervalUs = 1000 * 1000;

// Schemes whose addresses hold only what the page made itself.
constexpr const char* kPageMadeSchemes[] = {"about:", "data:", "blob:"};
// Schemes handed to the user's own programs on a user gesture.
constexpr const char* kOutsideSchemes[] = {"http:", "https:", "mailto:"};

// Context-menu items that would save a file or open a window outside the
// page's control.
constexpr WebKitContextMenuAction kUnsafeMenuActions[] = {
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW,
    WEBKIT_CONTEXT_MENU_ACTION_INSPECT_ELEMENT,
};

// A new folder for the compiled rule list: in the player's private folder,
// where a killed player's next run finds it, or else in the temporary
// folder. Empty when none could be made.
std::string MakeStoreFolder(const std::string& private_folder) {
  if (private_folder.empty()) {
    gchar* made = g_dir_make_tmp("QZXXXXXX.tmp", nullptr);
    const std::string folder = made ? made : "";
    g_free(made);
    return folder;
  }
  std::string templ = JoinPath(private_folder, "filter-XXXXXX");
  return mkdtemp(templ.data()) ? templ : "";
}

bool HasSchemePrefix(const char* uri, const char* scheme) {
  return strncasecmp(uri, scheme, strlen(scheme)) == 0;
}

template <size_t N>
bool HasAnyScheme(const char* uri, const char* const (&schemes)[N]) {
  return std::any_of(std::begin(schemes), std::end(schemes),
                     [uri](const char* s) { return HasSchemePrefix(uri, s); });
}

// The path part of a file: address, without query and fragment, holds an
// escaped "/" or NUL, which the file loader would decode into the path.
bool HasEscapedSeparator(const char* uri) {
  const size_t path_end = strcspn(uri, "?#");
  for (size_t i = 0; i + 2 < path_end; ++i) {
    if (uri[i] != '%') continue;
    const char a = uri[i + 1];
    const char b = uri[i + 2];
    if ((a == '2' && (b == 'f' || b == 'F')) || (a == '0' && b == '0')) {
      return true;
    }
  }
  return false;
}

// The content filter's regular expressions know . * + ? ^ $ ( ) [ ] { } |
// and the backslash.
std::string EscapeForRule(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (strchr(".*+?^$()[]{}|\\", c)) out += '\\';
    out += c;
  }
  return out;
}

// For a JSON string literal: the rule list is built by hand.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// The content filter's rule list for a folder whose URI is `root_uri`
// (ending in "/"): block every file: address, let those below the folder
// through (with their letter case), then block any with an escaped "/" or
// NUL in its path: the file loader decodes those, so "..%2F" would lead out
// and "..%00" would list the folder above.
std::string FolderRuleList(const std::string& root_uri) {
  auto rule = [](const std::string& filter, const char* action,
                 bool case_sensitive) {
    return "{\"trigger\":{\"url-filter\":" + JsonString(filter) +
           (case_sensitive ? ",\"url-filter-is-case-sensitive\":true" : "") +
           "},\"action\":{\"type\":\"" + action + "\"}}";
  };
  return "[" + rule("^file:", "block", false) + "," +
         rule("^" + EscapeForRule(root_uri), "ignore-previous-rules", true) +
         "," + rule("^file:[^?#]*%2[Ff]", "block", false) + "," +
         rule("^file:[^?#]*%00", "block", false) + "]";
}

gboolean RefuseDestination(WebKitDownload* download, gchar* /*name*/,
                           gpointer /*data*/) {
  webkit_download_cancel(download);
  return TRUE;  // handled: no destination is ever set
}

void OnDownloadStarted(WebKitWebContext* /*context*/, WebKitDownload* download,
                       gpointer /*data*/) {
  const char* uri =
      webkit_uri_request_get_uri(webkit_download_get_request(download));
  Trace("download refused %s", uri ? uri : "");
  // Should the cancellation come too late, no destination is ever given.
  g_signal_connect(download, "decide-destination",
                   G_CALLBACK(RefuseDestination), nullptr);
  webkit_download_cancel(download);
}

gboolean OnPermissionRequest(WebKitWebView* /*view*/,
                             WebKitPermissionRequest* request,
                             gpointer /*data*/) {
  Trace("permission refused: %s", G_OBJECT_TYPE_NAME(request));
  webkit_permission_request_deny(request);
  return TRUE;
}

gboolean OnRunFileChooser(WebKitWebView* /*view*/,
                          WebKitFileChooserRequest* request,
                          gpointer /*data*/) {
  webkit_file_chooser_request_cancel(request);
  return TRUE;
}

gboolean OnContextMenu(WebKitWebView* /*view*/, WebKitContextMenu* menu,
                       GdkEvent* /*event*/, WebKitHitTestResult* /*hit*/,
                       gpointer /*data*/) {
  GList* items = g_list_copy(webkit_context_menu_get_items(menu));
  for (GList* l = items; l; l = l->next) {
    auto* item = WEBKIT_CONTEXT_MENU_ITEM(l->data);
    const WebKitContextMenuAction action =
        webkit_context_menu_item_get_stock_action(item);
    if (std::find(std::begin(kUnsafeMenuActions), std::end(kUnsafeMenuActions),
                  action) != std::end(kUnsafeMenuActions)) {
      webkit_context_menu_remove(menu, item);
    }
  }
  g_list_free(items);
  return FALSE;  // the rest of the menu shows
}

// Responses the view cannot show would become downloads.
gboolean OnDecideResponse(WebKitWebView* /*view*/,
                          WebKitPolicyDecision* decision,
                          WebKitPolicyDecisionType type, gpointer /*data*/) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_RESPONSE) return FALSE;
  auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
  if (webkit_response_policy_decision_is_mime_type_supported(response)) {
    return FALSE;
  }
  const char* uri = webkit_uri_response_get_uri(
      webkit_response_policy_decision_get_response(response));
  Trace("response refused: %s cannot be shown", uri ? uri : "");
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

}  // namespace

// The state of one compile; it outlives the sandbox when the sandbox goes
// first (owner is then null).
struct TourSandbox::Pending {
  TourSandbox* owner;
  std::string store_folder;
  WebKitUserContentManager* manager;  // strong reference
  std::function<void(bool)> ready;

  static void OnSaved(GObject* store, GAsyncResult* result, gpointer data) {
    auto* pending = static_cast<Pending*>(data);
    GError* error = nullptr;
    WebKitUserContentFilter* filter =
        webkit_user_content_filter_store_save_finish(
            WEBKIT_USER_CONTENT_FILTER_STORE(store), result, &error);
    if (filter && pending->owner) {
      webkit_user_content_manager_add_filter(pending->manager, filter);
      pending->owner->confined_ = true;
    }
    if (!filter) Trace("content filter: %s", error->message);
    if (filter) webkit_user_content_filter_unref(filter);
    g_clear_error(&error);
    // The compiled list is mapped into memory by now; the folder can go.
    RemoveTree(pending->store_folder);
    g_object_unref(pending->manager);
    if (pending->owner) {
      pending->owner->pending_ = nullptr;
      pending->ready(filter != nullptr);
    }
    delete pending;
  }
};

TourSandbox::~TourSandbox() {
  if (pending_) {
    pending_->owner = nullptr;
    // The main loop may not run again to finish the compile.
    RemoveTree(pending_->store_folder);
  }
}

WebKitWebContext* TourSandbox::NewContext() {
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  g_signal_connect(context, "download-started", G_CALLBACK(OnDownloadStarted),
                   nullptr);
  SetUpFlashContext(context);
  return context;
}

WebKitWebView* TourSandbox::NewView(WebKitWebContext* context) {
  WebKitSettings* settings = webkit_settings_new();
  // Tour pages read their sibling files (scene lists by XHR or fetch,
  // images handed to WebGL); that needs file: pages to read file: URLs.
  // The content filter keeps them inside the work folder.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, FALSE);
  webkit_settings_set_enable_webrtc(settings, FALSE);
  webkit_settings_set_javascript_can_access_clipboard(settings, FALSE);
  webkit_settings_set_enable_fullscreen(settings, TRUE);
  // Tours start their background sound and their movies' sound as soon as
  // they open, as they did in the browsers they were made for; the engine
  // would wait for a click. Views the page opens share this policy.
  WebKitWebsitePolicies* policies = webkit_website_policies_new_with_policies(
      "autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr);
  auto* view = WEBKIT_WEB_VIEW(
      g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "settings",
                   settings, "website-policies", policies, nullptr));
  g_object_unref(policies);
  g_object_unref(settings);
  // Related views share the content manager, so the windows the page opens
  // get the same scripts (and the same content filter, see ConfineTo).
  AddFlashPageScripts(webkit_web_view_get_user_content_manager(view));
  Guard(view);
  return view;
}

WebKitWebView* TourSandbox::NewRelatedView(WebKitWebView* related) {
  auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(related));
  Guard(view);
  return view;
}

void TourSandbox::Guard(WebKitWebView* view) {
  // First: a .swf document becomes a page that plays it before the rule
  // below would refuse it as a response the view cannot show.
  AttachFlashDocumentHandler(view);
  g_signal_connect(view, "permission-request", G_CALLBACK(OnPermissionRequest),
                   nullptr);
  compat::DenyPermissionQueries(view);
  g_signal_connect(view, "run-file-chooser", G_CALLBACK(OnRunFileChooser),
                   nullptr);
  g_signal_connect(view, "context-menu", G_CALLBACK(OnContextMenu), nullptr);
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecideResponse),
                   nullptr);
  // Nothing of the user's is dropped into the tour either.
  gtk_drag_dest_unset(GTK_WIDGET(view));
}

void TourSandbox::ConfineTo(const std::string& folder,
                            const std::string& private_folder,
                            WebKitUserContentManager* manager,
                            std::function<void(bool)> ready) {
  char* real = realpath(folder.c_str(), nullptr);
  gchar* uri = real ? g_filename_to_uri(real, nullptr, nullptr) : nullptr;
  free(real);
  if (uri) root_uri_ = std::string(uri) + "/";
  g_free(uri);
#ifdef MORVA_BENCH_UNCONFINED
  // The startup benchmark's reference player: everything but the filter,
  // ready at the same point of the main loop, to measure what the filter
  // costs. Only that benchmark builds this.
  confined_ = !root_uri_.empty();
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) {
        auto* ready = static_cast<std::function<void(bool)>*>(data);
        (*ready)(true);
        delete ready;
        return G_SOURCE_REMOVE;
      },
      new std::function<void(bool)>(std::move(ready)), nullptr);
  return;
#endif
  const std::string store_folder = MakeStoreFolder(private_folder);
  if (root_uri_.empty() || store_folder.empty()) {
    Trace("the tour cannot be confined to %s", folder.c_str());
    if (!store_folder.empty()) RemoveTree(store_folder);
    ready(false);
    return;
  }
  pending_ = new Pending{this, store_folder,
                         WEBKIT_USER_CONTENT_MANAGER(g_object_ref(manager)),
                         std::move(ready)};
  WebKitUserContentFilterStore* store =
      webkit_user_content_filter_store_new(store_folder.c_str());
  const std::string rules = FolderRuleList(root_uri_);
  GBytes* bytes = g_bytes_new(rules.data(), rules.size());
  webkit_user_content_filter_store_save(store, kRuleListId, bytes, nullptr,
                                        Pending::OnSaved, pending_);
  g_bytes_unref(bytes);
  g_object_unref(store);
}

bool TourSandbox::Allows(const char* uri) const {
  if (!uri) return false;
  if (HasSchemePrefix(uri, "file:")) {
    return confined_ &&
           strncmp(uri, root_uri_.c_str(), root_uri_.size()) == 0 &&
           !HasEscapedSeparator(uri);
  }
  return HasAnyScheme(uri, kPageMadeSchemes);
}

NavigationVerdict TourSandbox::Judge(const char* uri, bool user_gesture) const {
  if (Allows(uri)) return NavigationVerdict::kLoad;
  if (uri && user_gesture && HasAnyScheme(uri, kOutsideSchemes)) {
    return NavigationVerdict::kOpenOutside;
  }
  return NavigationVerdict::kDrop;
}

bool TourSandbox::OpenOutside(GtkWidget* near, const char* uri) {
  const int64_t now = g_get_monotonic_time();
  if (last_outside_us_ != 0 && now - last_outside_us_ < kOutsideIntervalUs) {
    Trace("not opened, too soon after the last: %s", uri);
    return false;
  }
  last_outside_us_ = now;
  GdkDisplay* display =
      near ? gtk_widget_get_display(near) : gdk_display_get_default();
  GdkAppLaunchContext* context = gdk_display_get_app_launch_context(display);
  RestoreUserFolders(G_APP_LAUNCH_CONTEXT(context));
  GError* error = nullptr;
  const bool opened = g_app_info_launch_default_for_uri(
      uri, G_APP_LAUNCH_CONTEXT(context), &error);
  Trace("open outside %s: %s", uri, opened ? "started" : error->message);
  g_clear_error(&error);
  g_object_unref(context);
  return opened;
}

void LimitToWorkArea(GdkDisplay* display, int x, int y, int* width,
                     int* height) {
  GdkMonitor* monitor =
      display ? gdk_display_get_monitor_at_point(display, x, y) : nullptr;
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  if (area.width > 0) *width = std::min(*width, area.width);
  if (area.height > 0) *height = std::min(*height, area.height);
}

}  // namespace morva
