// The window services the player object needs.
//
// CPreviewDlg holds the per-run state and drives the launch sequence, but it
// never talks to a toolkit directly: it calls the operations below. The GTK
// shell (player_window_gtk.cc) implements them for real; the tests use a
// recording implementation so that the whole launch runs without a display.
#ifndef MORVA_APP_WINDOW_H_
#define MORVA_APP_WINDOW_H_

#include <cstdint>
#include <string>

namespace morva {

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool operator==(const Rect&) const = default;
};

// Resource and command identifiers of the player.
constexpr int kIdsAboutMorva = 101;          // "&About Morva..." string
constexpr int kIdIcon = 128;                 // application icon
constexpr int kIdBrowserPlaceholder = 1000;  // control the browser replaces
constexpr int kIdmAboutBox = 16;             // About command id

// System metrics the launch sequence reads (Win32 SM_* values).
constexpr int kSmCyCaption = 4;
constexpr int kSmCxSizeFrame = 32;
constexpr int kSmCySizeFrame = 33;

// Flags for SetWindowPos and ShowWindow.
constexpr unsigned kSwpHideWindow = 0x0080;
constexpr int kSwShowNormal = 1;
enum class ZOrder { kTop };

// Called by the window while it runs modally.
class DialogHandler {
 public:
  virtual ~DialogHandler() = default;
  // The window exists but is not shown yet. Returns true for default focus.
  virtual bool OnInitDialog() = 0;
  // The window is being destroyed; its children (the browser) still exist.
  virtual void OnDestroy() = 0;
};

// A part of the launch that runs off the window's thread while the window
// shows.
class BackgroundWork {
 public:
  virtual ~BackgroundWork() = default;
  // On a thread of its own.
  virtual void Run() = 0;
  // On the window's thread while Run may be running: Run is to return as
  // soon as it can, leaving nothing half made that the destroy handling
  // does not remove.
  virtual void Stop() = 0;
  // On the window's thread, once Run has returned.
  virtual void Done() = 0;
};

class PlayerWindow {
 public:
  virtual ~PlayerWindow() = default;

  // Creates the window from the player template, calls handler->OnInitDialog(),
  // shows the window and runs until it is closed; handler->OnDestroy() runs
  // during destruction. Returns the end code (1 OK, 2 Cancel/close).
  virtual int RunModal(DialogHandler* handler) = 0;

  // Resources.
  virtual std::string LoadText(int string_id) = 0;  // empty when missing
  virtual int LoadIconResource(int icon_id) = 0;    // an icon handle, 0 if none

  // The operations of the launch sequence, in the order it uses them.
  virtual bool HasSystemMenu() = 0;
  virtual void AppendMenuSeparator() = 0;
  virtual void AppendMenuItem(int command_id, const std::string& text) = 0;
  virtual void SetIcon(int icon, bool big) = 0;
  // Puts the browser control in place of the placeholder control with this id.
  // Returns false when there is no such control.
  virtual bool ReplacePlaceholder(int control_id) = 0;
  virtual int GetSystemMetrics(int index) = 0;
  virtual void CenterWindow() = 0;
  // The title as bytes in the package's code page.
  virtual void SetTitle(const std::string& title) = 0;
  virtual Rect GetClientRect() = 0;
  virtual void MoveChild(int control_id, const Rect& rect, bool repaint) = 0;
  virtual void ShowWindow(int show_command) = 0;
  virtual void SetWindowPos(ZOrder insert_after, int x, int y, int cx, int cy,
                            unsigned flags) = 0;
  // Limits the browser control, the pages it shows and everything they load,
  // to the files inside `folder`. Called once, before Navigate.
  virtual void ConfineBrowser(const std::string& folder) = 0;
  // Navigates the browser control; does nothing when there is none.
  virtual void Navigate(const std::string& address, unsigned flags,
                        const std::string& target_frame,
                        const std::string& headers,
                        const std::string& post_data) = 0;

  // Whether the window can show while a part of the launch runs
  // (RunWhileShown). A window that cannot shows once the launch is over.
  virtual bool CanRunWhileShown() { return false; }
  // Runs work->Run() on a thread of its own as the window shows, then
  // work->Done() on the window's thread. A window closing before Done (its
  // close button, a request to end, the display going away) calls
  // work->Stop() and waits for Run to return before its destroy handling;
  // Done is then never called. Called at most once, from OnInitDialog.
  // This default runs both at once.
  virtual void RunWhileShown(BackgroundWork* work) {
    work->Run();
    work->Done();
  }

  // Not a step of the launch: when the program carries no tour and none was
  // named, the browser control shows the player's own page in place of an
  // empty one, where the user picks a tour to play. Called at most once, in
  // place of ConfineBrowser and Navigate.
  virtual void ShowNoTourPage() = 0;
};

}  // namespace morva

#endif  // MORVA_APP_WINDOW_H_
