#include "browser/html_ctrl.h"

#include <stdlib.h>
#include <strings.h>

#include "browser/compat.h"
#include "platform/ansi_text.h"
#include "platform/trace.h"
#include "platform/windows_names.h"
#include "startpage/start_page.h"

namespace morva {
namespace {

constexpr char kControlIdKey[] = "morva-control-id";
// Set on a view whose window was opened without a size.
constexpr char kUnsizedKey[] = "morva-unsized";

// The page keeps its own overflow rules for everything but the document
// scroll bars, which the player never shows. Set with "important" so that
// a page style cannot bring them back; the scroll attribute that older
// engines offered on the body has no WebKit counterpart.
constexpr char kHideScrollBars[] =
    "(function() {"
    "  for (const e of [document.documentElement, document.body])"
    "    if (e) e.style.setProperty('overflow', 'hidden', 'important');"
    "})();";

// The name a window shows while its page has no title: the page's file
// name up to its first ".", as the player names its own window.
std::string PageName(const char* uri) {
  if (!uri) return "";
  std::string path(uri, strcspn(uri, "?#"));
  gchar* name =
      g_uri_unescape_string(path.substr(path.rfind('/') + 1).c_str(), nullptr);
  std::string result = name ? name : "";
  g_free(name);
  result = result.substr(0, result.find('.'));
  gchar* valid = g_utf8_make_valid(result.c_str(), -1);
  result = valid;
  g_free(valid);
  return result;
}

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
  // A query or fragment after the file's name goes to the page, as a
  // browser reads a local address.
  const size_t file_part = FilePartOfAddress(address);
  // The path's bytes are escaped one by one, whatever their encoding. The
  // confinement matches the work folder's real path.
  gchar* path =
      g_canonicalize_filename(address.substr(0, file_part).c_str(), nullptr);
  char* real = realpath(path, nullptr);
  gchar* uri = g_filename_to_uri(real ? real : path, nullptr, nullptr);
  std::string result = uri ? uri : "";
  g_free(uri);
  free(real);
  g_free(path);
  if (!result.empty()) result += AnsiToUtf8(address.substr(file_part));
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

  context_ = TourSandbox::NewContext();
  view_ = TourSandbox::NewView(context_);
  g_object_ref_sink(view_);
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
  pending_uri_ = AddressToUri(address);
  if (sandbox_.root_uri().empty() || confining_) return;  // not yet
  LoadWhenConfined(true);
}

void CHtmlCtrl::ConfineTo(const std::string& folder,
                          const std::string& private_folder) {
  if (!view_ || confining_ || !sandbox_.root_uri().empty()) return;
  confining_ = true;
  const int64_t start = g_get_monotonic_time();
  sandbox_.ConfineTo(
      folder, private_folder, webkit_web_view_get_user_content_manager(view_),
      [this, start](bool confined) {
        confining_ = false;
        // The startup benchmark reads this line.
        Trace("confinement %s after %.1f ms", confined ? "in place" : "failed",
              (g_get_monotonic_time() - start) / 1000.0);
        LoadWhenConfined(confined);
      });
}

void CHtmlCtrl::LoadWhenConfined(bool confined) {
  if (!confined || pending_uri_.empty()) return;
  const std::string uri = std::move(pending_uri_);
  pending_uri_.clear();
  if (sandbox_.Allows(uri.c_str())) {
    webkit_web_view_load_uri(view_, uri.c_str());
  } else {
    Trace("refused to load %s: outside %s", uri.c_str(),
          sandbox_.root_uri().c_str());
  }
}

void CHtmlCtrl::OnAppLink(const std::string& /*command*/) {}

void CHtmlCtrl::Attach(WebKitWebView* view) {
  g_signal_connect(view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), this);
  g_signal_connect(view, "close", G_CALLBACK(OnClose), this);
  g_signal_connect(view, "create", G_CALLBACK(OnCreate), this);
}

void CHtmlCtrl::Detach(WebKitWebView* view) {
  g_signal_handlers_disconnect_by_data(view, this);
}

gboolean CHtmlCtrl::OnDecidePolicy(WebKitWebView* view,
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
  if (static_cast<CHtmlCtrl*>(self)->Follow(
          view, uri, webkit_navigation_action_is_user_gesture(action))) {
    return FALSE;  // the view's own handling
  }
  webkit_policy_decision_ignore(decision);
  return TRUE;
}

bool CHtmlCtrl::Follow(WebKitWebView* view, const char* uri,
                       bool user_gesture) {
  if (uri && IsAppLink(uri)) {
    OnAppLink(uri + 4);
    return false;
  }
  switch (sandbox_.Judge(uri, user_gesture)) {
    case NavigationVerdict::kLoad:
      return true;
    case NavigationVerdict::kOpenOutside:
      sandbox_.OpenOutside(GTK_WIDGET(view), uri);
      return false;
    case NavigationVerdict::kDrop:
      break;
  }
  Trace("navigation refused %s", uri ? uri : "");
  return false;
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
  if (!ctrl->Follow(view, uri,
                    webkit_navigation_action_is_user_gesture(action))) {
    return nullptr;
  }
  WebKitWebView* popup = ctrl->NewRelatedView(view);
  // A link or a form names a window but cannot give it a size; the engine
  // then reports its smallest size, as it does for a call that asks for it.
  switch (webkit_navigation_action_get_navigation_type(action)) {
    case WEBKIT_NAVIGATION_TYPE_LINK_CLICKED:
    case WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED:
    case WEBKIT_NAVIGATION_TYPE_FORM_RESUBMITTED:
      g_object_set_data(G_OBJECT(popup), kUnsizedKey, GINT_TO_POINTER(1));
      break;
    default:
      break;
  }
  return GTK_WIDGET(popup);
}

WebKitWebView* CHtmlCtrl::NewRelatedView(WebKitWebView* related) {
  WebKitWebView* view = TourSandbox::NewRelatedView(related);
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
  const bool sized = geometry.width > 0 && geometry.height > 0 &&
                     !g_object_get_data(G_OBJECT(view), kUnsizedKey);
  GtkWidget* player =
      view_ ? gtk_widget_get_toplevel(GTK_WIDGET(view_)) : nullptr;
  if (player && !gtk_widget_is_toplevel(player)) player = nullptr;
  int width = geometry.width;
  int height = geometry.height;
  if (!sized && view_) {
    // As large as the tour's own view.
    width = gtk_widget_get_allocated_width(GTK_WIDGET(view_));
    height = gtk_widget_get_allocated_height(GTK_WIDGET(view_));
  }
  LimitToWorkArea(gtk_widget_get_display(window), sized ? geometry.x : 0,
                  sized ? geometry.y : 0, &width, &height);
  if (width > 0 && height > 0) {
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
  }
  if (sized) gtk_window_move(GTK_WINDOW(window), geometry.x, geometry.y);
  gtk_window_set_resizable(GTK_WINDOW(window),
                           webkit_window_properties_get_resizable(props));
  if (player) {
    GList* icons = gtk_window_get_icon_list(GTK_WINDOW(player));
    gtk_window_set_icon_list(GTK_WINDOW(window), icons);
    g_list_free(icons);
  }
  OnPopupTitle(view, nullptr, window);
  g_signal_connect_object(view, "notify::title", G_CALLBACK(OnPopupTitle),
                          window, G_CONNECT_DEFAULT);
  g_signal_connect_object(view, "notify::uri", G_CALLBACK(OnPopupTitle), window,
                          G_CONNECT_DEFAULT);
  gtk_container_add(GTK_CONTAINER(window), GTK_WIDGET(view));
  g_signal_connect(window, "destroy", G_CALLBACK(OnPopupDestroyed), this);
  popups_.push_back(window);
  gtk_widget_show_all(window);
}

void CHtmlCtrl::OnPopupTitle(WebKitWebView* view, gpointer /*property*/,
                             gpointer window) {
  const char* title = webkit_web_view_get_title(view);
  const std::string name = title && *title
                               ? std::string(title)
                               : PageName(webkit_web_view_get_uri(view));
  gtk_window_set_title(GTK_WINDOW(window), (name + kTitleSuffix).c_str());
}

void CHtmlCtrl::OnPopupDestroyed(GtkWidget* window, gpointer self) {
  auto* ctrl = static_cast<CHtmlCtrl*>(self);
  GtkWidget* child = gtk_bin_get_child(GTK_BIN(window));
  if (child && WEBKIT_IS_WEB_VIEW(child)) ctrl->Detach(WEBKIT_WEB_VIEW(child));
  std::erase(ctrl->popups_, window);
}

}  // namespace morva
