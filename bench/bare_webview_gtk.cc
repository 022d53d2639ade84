// The reference for the startup benchmark: the least a WebKitGTK program
// does to show a page (one window, one ephemeral web view, one load), with
// the same settings as the player. Prints "window mapped" to stderr when
// its window is on screen and "load finished <uri>" when the page has
// loaded, then keeps showing it until it is killed.
//
//   bare_webview_gtk PATH WIDTH HEIGHT
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstdlib>

namespace {

void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
  if (event != WEBKIT_LOAD_FINISHED) return;
  std::fprintf(stderr, "load finished %s\n", webkit_web_view_get_uri(view));
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer) {
  std::fprintf(stderr, "window mapped\n");
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s PATH WIDTH HEIGHT\n", argv[0]);
    return 2;
  }
  gtk_init(nullptr, nullptr);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), std::atoi(argv[2]),
                              std::atoi(argv[3]));
  WebKitWebContext* context = webkit_web_context_new_ephemeral();
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
  GtkWidget* view =
      GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                              "settings", settings, nullptr));
  g_signal_connect(view, "load-changed", G_CALLBACK(OnLoadChanged), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), nullptr);
  gtk_container_add(GTK_CONTAINER(window), view);
  gchar* uri = g_filename_to_uri(argv[1], nullptr, nullptr);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), uri);
  g_free(uri);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
