// The player: shows the tour packed onto the end of this executable, or onto
// the file named on the command line.
#include <iostream>
#include <memory>

#include "app/player_window_gtk.h"
#include "app/preview_app.h"

int main(int argc, char** argv) {
  morva::CPreviewApp app(
      [] { return std::make_unique<morva::PlayerWindowGtk>(); });
  return app.Run(argc, argv, std::cout, std::cerr);
}
