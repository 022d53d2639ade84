// The player: shows the tour packed onto the end of this executable, or onto
// the file named on the command line.
#include <iostream>
#include <memory>

#include "app/player_process.h"
#include "app/player_window_gtk.h"
#include "app/preview_app.h"
#include "browser/compat.h"

int main(int argc, char** argv) {
  std::unique_ptr<morva::PlayerProcess> process;
  morva::CPreviewApp app(
      [&process] {
        return std::make_unique<morva::PlayerWindowGtk>(
            process->private_folder());
      },
      // Once the command line is read: nothing is made on disk before a
      // signal can be answered.
      [&process] {
        process = std::make_unique<morva::PlayerProcess>(
            morva::compat::ReserveEngineSignal());
        return process->ok();
      });
  return app.Run(argc, argv, std::cout, std::cerr);
}
