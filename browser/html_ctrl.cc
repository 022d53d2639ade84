#include "browser/html_ctrl.h"

#include <strings.h>

#include "browser/compat.h"
#include "browser/flash_runtime.h"
#include "platform/trace.h"

namespace morva {
namespace {

constexpr char kControlIdKey[] = "morva-control-id";

// The page keeps its own overflow rules for everything but the document
// scroll bars, which the player never shows. Set with "important" so that
// a page style cannot bring them back; the scroll attribute that older
// engines offered on the body has no WebKit counterpart.
constexpr char kHideScrollBars[] =
    "(function() {"
    "  for (const e of [document.documentElement, document.body])"
    "    if (e) e.style.setProperty('overflow', 'hidden', 'important');"
    "})();";

// Size of a window the page opens without asking for one.
constexpr int kDefaultPopupWidth = 800;
constexpr int kDefaultPopupHeight = 600;

gboolean CloseWindowWhenIdle(gpointer data) {
  GtkWidget* window = GTK_WIDGET(data);
  if (!gtk_widget_in_destruction(window)) {
    // gtk_window_close ignores windows that were never shown.
    if (gtk_widget_get_realized(window)) {
      gtk_window_close(GTK_WINDOW(window));
    } else {
      gtk_widget_destroy(window);
    }
  }
  return G_SOURCE_REMOVE;
}

}  // namespace

void SetControlId(GtkWidget* widget, int control_id) {
  g_object_set_data(G_OBJECT(widget), kControlIdKey,
                    GINT_TO_POINTER(control_id));
}

GtkWidget* FindControl(GtkContainer* parent, int control_id) {
  GList* children = gtk_container_get_children(parent);
  GtkWidget* found = nullptr;
  for (GList* l = children; l && !found; l = l->next) {
    GtkWidget* child = GTK_WIDGET(l->data);
    if (GPOINTER_TO_INT(g_object_get_data(G_OBJECT(child), kControlIdKey)) ==
        control_id) {
      found = child;
    }
  }
  g_list_free(children);
  return found;
}

void PostCloseRequest(GtkWidget* window) {
  g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, CloseWindowWhenIdle,
                  g_object_ref(window), g_object_unref);
}

bool IsAppLink(std::string_view address) {
  return address.size() >= 4 && strncasecmp(address.data(), "app:", 4) == 0;
}

std::string AddressToUri(const std::string& address) {
  if (address.empty()) return "";
  if (!g_path_is_absolute(address.c_str()) &&
      g_uri_peek_scheme(address.c_str()) != nullptr) {
    return address;
  }
  // The path's bytes are escaped one by one, whatever their encoding.
  gchar* path = g_canonicalize_filename(address.c_str(), nullptr);
  gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
  std::string result = uri ? uri : "";
  g_free(uri);
  g_free(path);
  return result;
}

CHtmlCtrl::CHtmlCtrl() = default;

CHtmlCtrl::~CHtmlCtrl() {
  // The windows the page opened go with the control; their views are
  // detached by OnPopupDestroyed.
  while (!popups_.empty()) gtk_widget_destroy(popups_.back());
  if (view_) {
    Detach(view_);
    g_object_unref(view_);
  }
  if (context_) g_object_unref(context_);
}

bool CHtmlCtrl::ReplacePlaceholder(int control_id, GtkContainer* parent) {
  GtkWidget* placeholder = FindControl(parent, control_id);
  if (!placeholder || view_) return false;
  const bool visible = gtk_widget_get_visible(placeholder);

  // Nothing a tour does may outlive the run: no cookies, storage or cache
  // on disk.
  context_ = webkit_web_context_new_ephemeral();
  // Flash content: the runtime's scheme, and languages when the locale
  // has none.
  SetUpFlashContext(context_);
  WebKitSettings* settings = webkit_settings_new();
  // Tour pages read their sibling files (scene lists by XHR or fetch,
  // images handed to WebGL); that needs file: pages to read file: URLs.
  // Other origins stay out of reach.
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  view_ =
      WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context",
                                   context_, "settings", settings, nullptr));
  g_object_ref_sink(view_);
  g_object_unref(settings);
  // Document-start scripts of every frame (file: answers, Flash stub); the
  // windows the page opens share this view's content manager.
  AddFlashPageScripts(webkit_web_view_get_user_content_manager(view_));
  Attach(view_);

  gtk_widget_destroy(placeholder);
  SetControlId(GTK_WIDGET(view_), control_id);
  gtk_container_add(parent, GTK_WIDGET(view_));
  gtk_widget_set_visible(GTK_WIDGET(view_), visible);
  return true;
}

void CHtmlCtrl::Navigate(const std::string& address, unsigned /*flags*/,
                         const std::string& /*target_frame*/,
                         const std::string& /*headers*/,
                         const std::string& /*post_data*/) {
  if (!view_) return;
  const std::string uri = AddressToUri(address);
  if (!uri.empty()) webkit_web_view_load_uri(view_, uri.c_str());
}

void CHtmlCtrl::OnAppLink(const std::string& /*command*/) {}

void CHtmlCtrl::Attach(WebKitWebView* view) {
  // First, so that a .swf document becomes a page that plays it before
  // the other policy rules look at it.
  AttachFlashDocumentHandler(view);
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view, "close", G_CALLBACK(OnClose), this);
  g_signal_connect(view, "create", G_CALLBACK(OnCreate), this);
}

void CHtmlCtrl::Detach(WebKitWebView* view) {
  g_signal_handlers_disconnect_by_data(view, this);
}

gboolean CHtmlCtrl::OnDecidePolicy(WebKitWebView* /*view*/,
                                   WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type,
                                   gpointer self) {
  if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
      type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
    return FALSE;
  }
  WebKitNavigationAction* action =
      webkit_navigation_policy_decision_get_navigation_action(
          WEBKIT_NAVIGATION_POLICY_DECISION(decision));
  const char* uri =
      webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (!uri || !IsAppLink(uri)) return FALSE;  // the view's own handling
  static_cast<CHtmlCtrl*>(self)->OnAppLink(uri + 4);
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

void CHtmlCtrl::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event,
                              gpointer /*self*/) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  compat::RunScript(view, kHideScrollBars);
  // The startup benchmark waits for this line.
  const char* uri = webkit_web_view_get_uri(view);
  Trace("load finished %s", uri ? uri : "");
}

void CHtmlCtrl::OnClose(WebKitWebView* view, gpointer self) {
  auto* ctrl = static_cast<CHtmlCtrl*>(self);
  GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(view));
  if (!gtk_widget_is_toplevel(toplevel)) return;
  if (view == ctrl->view_) {
    // The tour closed itself: the player window closes the way the user
    // would close it, so its cleanup runs.
    PostCloseRequest(toplevel);
  } else {
    gtk_widget_destroy(toplevel);
  }
}

GtkWidget* CHtmlCtrl::OnCreate(WebKitWebView* view,
                               WebKitNavigationAction* action, gpointer self) {
  auto* ctrl = static_cast<CHtmlCtrl*>(self);
  const char* uri =
      webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  if (uri && IsAppLink(uri)) {
    ctrl->OnAppLink(uri + 4);
    return nullptr;
  }
  return GTK_WIDGET(ctrl->NewRelatedView(view));
}

WebKitWebView* CHtmlCtrl::NewRelatedView(WebKitWebView* related) {
  // A related view shares the web process, the ephemeral context and the
  // settings, so the new window follows the same rules.
  auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new_with_related_view(related));
  Attach(view);
  g_signal_connect(view, "ready-to-show", G_CALLBACK(OnReadyToShow), this);
  return view;
}

void CHtmlCtrl::OnReadyToShow(WebKitWebView* view, gpointer self) {
  static_cast<CHtmlCtrl*>(self)->ShowPopup(view);
}

void CHtmlCtrl::ShowPopup(WebKitWebView* view) {
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  WebKitWindowProperties* props = webkit_web_view_get_window_properties(view);
  GdkRectangle geometry;
  webkit_window_properties_get_geometry(props, &geometry);
  const bool sized = geometry.width > 0 && geometry.height > 0;
  gtk_window_set_default_size(GTK_WINDOW(window),
                              sized ? geometry.width : kDefaultPopupWidth,
                              sized ? geometry.height : kDefaultPopupHeight);
  if (sized) gtk_window_move(GTK_WINDOW(window), geometry.x, geometry.y);
  gtk_window_set_resizable(GTK_WINDOW(window),
                           webkit_window_properties_get_resizable(props));
  if (view_) {
    GtkWidget* player = gtk_widget_get_toplevel(GTK_WIDGET(view_));
    if (gtk_widget_is_toplevel(player)) {
      GList* icons = gtk_window_get_icon_list(GTK_WINDOW(player));
      gtk_window_set_icon_list(GTK_WINDOW(window), icons);
      g_list_free(icons);
    }
  }
  g_object_bind_property(view, "title", window, "title", G_BINDING_DEFAULT);
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  g_signal_connect(window, "destroy", G_CALLBACK(OnPopupDestroyed), this);
  popups_.push_back(window);
  gtk_widget_show_all(window);
}

void CHtmlCtrl::OnPopupDestroyed(GtkWidget* window, gpointer self) {
  auto* ctrl = static_cast<CHtmlCtrl*>(self);
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
  if (child && WEBKIT_IS_WEB_VIEW(child)) ctrl->Detach(WEBKIT_WEB_VIEW(child));
  std::erase(ctrl->popups_, window);
}

}  // namespace morva
