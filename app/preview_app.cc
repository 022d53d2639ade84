#include "app/preview_app.h"

#include <utility>

#include "app/preview_dlg.h"

namespace morva {

CPreviewApp::CPreviewApp(WindowFactory make_window)
    : make_window_(std::move(make_window)) {}

bool CPreviewApp::InitInstance() {
  std::unique_ptr<PlayerWindow> window = make_window_();
  if (window == nullptr) return false;
  CPreviewDlg dlg(window.get());
  dlg.DoModal();
  // No application loop after the window: returning false ends the program.
  return false;
}

}  // namespace morva
