#include "tests/recording_window.h"

namespace morva::testing {
namespace {

std::string RectText(const Rect& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," +
         std::to_string(r.right) + "," + std::to_string(r.bottom);
}

}  // namespace

RecordingWindow::RecordingWindow() : title("Morva") {
  strings[kIdsAboutMorva] = "&About Morva...";
}

std::vector<std::string> RecordingWindow::CallsStartingWith(
    const std::string& prefix) const {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c.rfind(prefix, 0) == 0) out.push_back(c);
  }
  return out;
}

int RecordingWindow::RunModal(DialogHandler* handler) {
  calls.push_back("RunModal");
  init_result = handler->OnInitDialog();
  calls.push_back("Close");
  handler->OnDestroy();
  return 2;
}

void RecordingWindow::RunWhileShown(BackgroundWork* work) {
  calls.push_back("RunWhileShown");
  run_while_shown(work);
}

std::string RecordingWindow::LoadText(int string_id) {
  auto it = strings.find(string_id);
  return it == strings.end() ? std::string() : it->second;
}

int RecordingWindow::LoadIconResource(int icon_id) {
  calls.push_back("LoadIcon(" + std::to_string(icon_id) + ")");
  return icon_id;
}

bool RecordingWindow::HasSystemMenu() { return has_system_menu; }

void RecordingWindow::AppendMenuSeparator() {
  calls.push_back("AppendMenuSeparator");
}

void RecordingWindow::AppendMenuItem(int command_id, const std::string& text) {
  calls.push_back("AppendMenuItem(" + std::to_string(command_id) + "," + text +
                  ")");
}

void RecordingWindow::SetIcon(int icon, bool big) {
  calls.push_back("SetIcon(" + std::to_string(icon) + "," +
                  (big ? "big" : "small") + ")");
}

bool RecordingWindow::ReplacePlaceholder(int control_id) {
  calls.push_back("ReplacePlaceholder(" + std::to_string(control_id) + ")");
  return true;
}

int RecordingWindow::GetSystemMetrics(int index) {
  calls.push_back("GetSystemMetrics(" + std::to_string(index) + ")");
  auto it = metrics.find(index);
  return it == metrics.end() ? 0 : it->second;
}

void RecordingWindow::CenterWindow() { calls.push_back("CenterWindow"); }

void RecordingWindow::SetTitle(const std::string& text) {
  title = text;
  calls.push_back("SetTitle(" + text + ")");
}

Rect RecordingWindow::GetClientRect() {
  calls.push_back("GetClientRect");
  return client_rect;
}

void RecordingWindow::MoveChild(int control_id, const Rect& rect,
                                bool repaint) {
  calls.push_back("MoveChild(" + std::to_string(control_id) + "," +
                  RectText(rect) + "," + (repaint ? "repaint" : "norepaint") +
                  ")");
}

void RecordingWindow::ShowWindow(int show_command) {
  calls.push_back("ShowWindow(" + std::to_string(show_command) + ")");
}

void RecordingWindow::SetWindowPos(ZOrder, int x, int y, int cx, int cy,
                                   unsigned flags) {
  calls.push_back("SetWindowPos(top," + std::to_string(x) + "," +
                  std::to_string(y) + "," + std::to_string(cx) + "," +
                  std::to_string(cy) + "," + std::to_string(flags) + ")");
}

void RecordingWindow::ConfineBrowser(const std::string& folder) {
  calls.push_back("ConfineBrowser(" + folder + ")");
}

void RecordingWindow::Navigate(const std::string& address, unsigned flags,
                               const std::string& target_frame,
                               const std::string& headers,
                               const std::string& post_data) {
  calls.push_back("Navigate(" + address + "," + std::to_string(flags) + "," +
                  target_frame + "," + headers + "," + post_data + ")");
}

void RecordingWindow::ShowNoTourPage() { calls.push_back("ShowNoTourPage()"); }

}  // namespace morva::testing
