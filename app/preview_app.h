// The application object: one per process, created first by main().
#ifndef MORVA_APP_PREVIEW_APP_H_
#define MORVA_APP_PREVIEW_APP_H_

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "app/window.h"

namespace morva {

using WindowFactory = std::function<std::unique_ptr<PlayerWindow>()>;

class CPreviewApp {
 public:
  // The factory makes the window the player object runs in: the GTK window in
  // the player, a recording one in the tests. `set_up` (may be empty) runs
  // once the command line asks for a tour to be played, before anything
  // else; when it returns false the program ends at once with 0.
  explicit CPreviewApp(WindowFactory make_window,
                       std::function<bool()> set_up = nullptr);

  // The whole program: reads the command line
  //   morva [OPTIONS] [TOUR]
  // and plays the package appended to TOUR, or without TOUR the one appended
  // to the running executable. --help and --version answer on `out` without
  // a window. Complaints go to `err` as "morva: ..." lines. Returns the exit
  // code: 0 when the window ran and closed (whatever the tour held), 1 when
  // TOUR cannot be read or no window can be opened (no display), 2 for a
  // command line it does not understand.
  int Run(int argc, const char* const* argv, std::ostream& out,
          std::ostream& err);

  // Constructs the player object, runs it modally and returns false so that
  // the application ends as soon as the window has closed. With a tour from
  // the command line, the launch reads that file in place of the running
  // executable; the launch, the window and the cleanup are the same.
  bool InitInstance();

 private:
  WindowFactory make_window_;
  std::function<bool()> set_up_;
  std::string tour_;      // absolute; empty: the running executable
  int modal_result_ = 0;  // what the window's modal run returned
};

}  // namespace morva

#endif  // MORVA_APP_PREVIEW_APP_H_
