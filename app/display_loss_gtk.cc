#include "app/display_loss_gtk.h"

#include <gtk/gtk.h>
#include <unistd.h>

#include <cstring>

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

#include "platform/last_resort.h"

namespace morva {
namespace {

// What GDK logs, in domain "Gdk", right before it ends the process for a
// lost display (GTK 3.24). X11's line is logged at debug level and may not
// reach the writer; the I/O error handler covers X11 anyway.
constexpr const char* kDisplayLostMessages[] = {
    "Error flushing display",
    "Error reading events from display",
    "dispatching to Wayland display",
    "Lost connection to Wayland compositor",
    "Fatal IO error",
};

bool IsDisplayLost(const GLogField* fields, gsize count) {
  const char* domain = nullptr;
  const char* message = nullptr;
  for (gsize i = 0; i < count; ++i) {
    // Both are strings: GLib sets length -1 for them.
    if (std::strcmp(fields[i].key, "GLIB_DOMAIN") == 0) {
      domain = static_cast<const char*>(fields[i].value);
    } else if (std::strcmp(fields[i].key, "MESSAGE") == 0) {
      message = static_cast<const char*>(fields[i].value);
    }
  }
  if (domain == nullptr || message == nullptr ||
      std::strcmp(domain, "Gdk") != 0) {
    return false;
  }
  for (const char* lost : kDisplayLostMessages) {
    if (std::strstr(message, lost) != nullptr) return true;
  }
  return false;
}

void (*g_stop)() = nullptr;

void StopAndRemove() {
  if (g_stop != nullptr) g_stop();
  RemoveRememberedNow();
}

GLogWriterOutput OnLog(GLogLevelFlags level, const GLogField* fields,
                       gsize count, gpointer /*data*/) {
  if (IsDisplayLost(fields, count)) StopAndRemove();
  return g_log_writer_default(level, fields, count, nullptr);
}

#ifdef GDK_WINDOWING_X11
XIOErrorHandler g_gdk_io_error_handler = nullptr;

int OnXIoError(Display* display) {
  StopAndRemove();
  if (g_gdk_io_error_handler != nullptr) return g_gdk_io_error_handler(display);
  _exit(1);
}
#endif

}  // namespace

void RemoveRememberedOnDisplayLoss(void (*stop)()) {
  static bool installed = false;
  if (installed) return;
  installed = true;
  g_stop = stop;
  g_log_set_writer_func(OnLog, nullptr, nullptr);
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(gdk_display_get_default())) {
    // GDK's handler ends the process; it runs after ours.
    g_gdk_io_error_handler = XSetIOErrorHandler(OnXIoError);
  }
#endif
}

}  // namespace morva
