// A PlayerWindow that records every call with its arguments, in order, so
// that tests can run the whole launch sequence without a display.
#ifndef MORVA_TESTS_RECORDING_WINDOW_H_
#define MORVA_TESTS_RECORDING_WINDOW_H_

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/window.h"

namespace morva::testing {

class RecordingWindow : public PlayerWindow {
 public:
  RecordingWindow();

  // What the window answers.
  bool has_system_menu = true;
  std::map<int, std::string> strings;  // string table; 101 set by default
  std::map<int, int> metrics;          // system metrics; missing ones are 0
  Rect client_rect{0, 0, 600, 470};

  // What it was asked, one line a call, e.g. "SetTitle(Tour  -  Morva)".
  std::vector<std::string> calls;
  // Calls whose line starts with prefix.
  std::vector<std::string> CallsStartingWith(const std::string& prefix) const;
  std::string title;  // last title set, "Morva" before
  bool init_result = false;
  // When set, the window shows while part of the launch runs, and this
  // stands in for the window's thread and loop: it gets the work (which it
  // may run, stop or finish as it likes) once the call is recorded.
  std::function<void(BackgroundWork*)> run_while_shown;

  int RunModal(DialogHandler* handler) override;
  std::string LoadText(int string_id) override;
  int LoadIconResource(int icon_id) override;
  bool HasSystemMenu() override;
  void AppendMenuSeparator() override;
  void AppendMenuItem(int command_id, const std::string& text) override;
  void SetIcon(int icon, bool big) override;
  bool ReplacePlaceholder(int control_id) override;
  int GetSystemMetrics(int index) override;
  void CenterWindow() override;
  void SetTitle(const std::string& title) override;
  Rect GetClientRect() override;
  void MoveChild(int control_id, const Rect& rect, bool repaint) override;
  void ShowWindow(int show_command) override;
  void SetWindowPos(ZOrder insert_after, int x, int y, int cx, int cy,
                    unsigned flags) override;
  void ConfineBrowser(const std::string& folder) override;
  void Navigate(const std::string& address, unsigned flags,
                const std::string& target_frame, const std::string& headers,
                const std::string& post_data) override;
  void ShowNoTourPage() override;
  bool CanRunWhileShown() override { return run_while_shown != nullptr; }
  void RunWhileShown(BackgroundWork* work) override;
};

}  // namespace morva::testing

#endif  // MORVA_TESTS_RECORDING_WINDOW_H_
