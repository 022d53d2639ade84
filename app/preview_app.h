// The application object: one per process, created first by main().
#ifndef MORVA_APP_PREVIEW_APP_H_
#define MORVA_APP_PREVIEW_APP_H_

#include <functional>
#include <memory>

#include "app/window.h"

namespace morva {

using WindowFactory = std::function<std::unique_ptr<PlayerWindow>()>;

class CPreviewApp {
 public:
  // The factory makes the window the player object runs in: the GTK window in
  // the player, a recording one in the tests.
  explicit CPreviewApp(WindowFactory make_window);

  // Constructs the player object, runs it modally and returns false so that
  // the application ends as soon as the window has closed.
  bool InitInstance();

 private:
  WindowFactory make_window_;
};

}  // namespace morva

#endif  // MORVA_APP_PREVIEW_APP_H_
