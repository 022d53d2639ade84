// Cleanup when the display goes away under the player.
//
// When the connection to the display breaks (the X server or the Wayland
// compositor ends, a forwarded connection drops), GTK ends the process at
// once with _exit(1): on X11 from Xlib's I/O error handler, on Wayland right
// after logging why. Neither runs a destructor or an exit hook, so the
// player's own cleanup never would. Both are watched here, and the
// last-resort removal (platform/last_resort.h) runs before GTK ends the
// process, which keeps its exit status (1). Work that still writes into
// what the removal removes is stopped first, by `stop` (on the thread that
// runs the display's connection).
#ifndef MORVA_APP_DISPLAY_LOSS_GTK_H_
#define MORVA_APP_DISPLAY_LOSS_GTK_H_

namespace morva {

// REQUIRES: after gtk_init; once per process (later calls do nothing).
void RemoveRememberedOnDisplayLoss(void (*stop)());

}  // namespace morva

#endif  // MORVA_APP_DISPLAY_LOSS_GTK_H_
