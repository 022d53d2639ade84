// Runs the GTK player window through the launch's window operations without
// a package, so the window can be tested on its own:
//
//   morva_window_driver [--title BYTES] [--size WxH --page PATH]
//                       [--marker FILE]
//
// Without --page the launch "stops early" after the browser is in place.
// --title takes the bytes as given (a package's code page). When the window
// is destroyed the driver removes --marker, standing in for the cleanup, and
// prints "OnDestroy browser=<0|1>" telling whether the web view still
// existed at that point.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/player_process.h"
#include "app/player_window_gtk.h"
#include "browser/compat.h"

namespace {

class Driver : public morva::DialogHandler {
 public:
  explicit Driver(morva::PlayerWindowGtk* window) : window_(window) {
    icon_ = window_->LoadIconResource(morva::kIdIcon);
  }

  bool OnInitDialog() override {
    if (window_->HasSystemMenu()) {
      const std::string about = window_->LoadText(morva::kIdsAboutMorva);
      if (!about.empty()) {
        window_->AppendMenuSeparator();
        window_->AppendMenuItem(morva::kIdmAboutBox, about);
      }
    }
    window_->SetIcon(icon_, true);
    window_->SetIcon(icon_, false);
    window_->ReplacePlaceholder(morva::kIdBrowserPlaceholder);
    const int frame_x = window_->GetSystemMetrics(morva::kSmCxSizeFrame);
    const int frame_y = window_->GetSystemMetrics(morva::kSmCySizeFrame);
    const int caption = window_->GetSystemMetrics(morva::kSmCyCaption);
    if (!title.empty()) window_->SetTitle(title);
    if (page.empty()) return true;
    window_->CenterWindow();
    const morva::Rect client = window_->GetClientRect();
    window_->MoveChild(morva::kIdBrowserPlaceholder, client, true);
    window_->ShowWindow(morva::kSwShowNormal);
    window_->SetWindowPos(morva::ZOrder::kTop, 0, 0, width + 2 * frame_x,
                          height + caption + 2 * frame_y,
                          morva::kSwpHideWindow);
    // The page's folder stands in for the work folder.
    window_->ConfineBrowser(page.substr(0, page.rfind('/') + 1));
    window_->Navigate(page, 0, "_self", "", "");
    return true;
  }

  void OnDestroy() override {
    const bool browser = window_->gtk_window() &&
                         gtk_bin_get_child(GTK_BIN(window_->gtk_window()));
    if (!marker.empty()) unlink(marker.c_str());
    std::printf("OnDestroy browser=%d\n", browser ? 1 : 0);
    std::fflush(stdout);
  }

  std::string title;
  std::string page;
  std::string marker;
  int width = 0;
  int height = 0;

 private:
  morva::PlayerWindowGtk* window_;
  int icon_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  // As the player does: signals, the private folder, the sweep.
  morva::PlayerProcess process(morva::compat::ReserveEngineSignal());
  if (!process.ok()) return 0;
  morva::PlayerWindowGtk window(process.private_folder());
  Driver driver(&window);
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--title") {
      driver.title = value;
    } else if (flag == "--page") {
      driver.page = value;
    } else if (flag == "--marker") {
      driver.marker = value;
    } else if (flag == "--size" && std::sscanf(value, "%dx%d", &driver.width,
                                               &driver.height) == 2) {
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  return window.RunModal(&driver) == -1 ? 1 : 0;
}
