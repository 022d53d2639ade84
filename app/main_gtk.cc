// The player: shows the tour packed onto the end of this executable.
#include <memory>

#include "app/player_window_gtk.h"
#include "app/preview_app.h"

int main() {
  morva::CPreviewApp app(
      [] { return std::make_unique<morva::PlayerWindowGtk>(); });
  app.InitInstance();
  return 0;
}
