// The player: shows the tour packed onto the end of this executable.
#include <memory>

#include "app/player_process.h"
#include "app/player_window_gtk.h"
#include "app/preview_app.h"
#include "browser/compat.h"

int main() {
  // First of all: nothing is made on disk before a signal can be answered.
  morva::PlayerProcess process(morva::compat::ReserveEngineSignal());
  if (!process.ok()) return 0;
  morva::CPreviewApp app([&process] {
    return std::make_unique<morva::PlayerWindowGtk>(process.private_folder());
  });
  app.InitInstance();
  return 0;
}
