// A PlayerWindow that shows nothing and does nothing: the launch runs
// without a display (the packer's check, the benchmarks). Derive from it to
// keep what the launch sets.
#ifndef MORVA_APP_NULL_WINDOW_H_
#define MORVA_APP_NULL_WINDOW_H_

#include <string>

#include "app/window.h"

namespace morva {

class NullWindow : public PlayerWindow {
 public:
  // Initialises and destroys at once, as a window closed right after it
  // appeared.
  int RunModal(DialogHandler* handler) override {
    handler->OnInitDialog();
    handler->OnDestroy();
    return 2;
  }
  std::string LoadText(int) override { return {}; }
  int LoadIconResource(int) override { return 0; }
  bool HasSystemMenu() override { return false; }
  void AppendMenuSeparator() override {}
  void AppendMenuItem(int, const std::string&) override {}
  void SetIcon(int, bool) override {}
  bool ReplacePlaceholder(int) override { return true; }
  int GetSystemMetrics(int) override { return 0; }
  void CenterWindow() override {}
  void SetTitle(const std::string&) override {}
  Rect GetClientRect() override { return {}; }
  void MoveChild(int, const Rect&, bool) override {}
  void ShowWindow(int) override {}
  void SetWindowPos(ZOrder, int, int, int, int, unsigned) override {}
  void ConfineBrowser(const std::string&) override {}
  void Navigate(const std::string&, unsigned, const std::string&,
                const std::string&, const std::string&) override {}
  void ShowNoTourPage() override {}
};

}  // namespace morva

#endif  // MORVA_APP_NULL_WINDOW_H_
