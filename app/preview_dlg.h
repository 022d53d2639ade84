// The player object: all per-run state, and the launch sequence that turns
// the executable's appended package into a sized window showing the tour.
#ifndef MORVA_APP_PREVIEW_DLG_H_
#define MORVA_APP_PREVIEW_DLG_H_

#include <memory>
#include <string>

#include "app/window.h"
#include "package/unpack.h"
#include "platform/files.h"
#include "startpage/start_page.h"

namespace morva {

// Where the launch sequence stopped. The player shows none of this; the
// packer's check reads it to explain an empty window to a tour's author.
enum class LaunchStop {
  kNotRun,
  kCreateTempZip,  // no archive copied out; temp_zip_error() says why
  kUnpack,         // unpack_report() says why
  kNoContentFolder,
  kStartPage,  // start_page_status() says why
  kNone,       // the launch went through to the tour page
};

// The browser control as the player object sees it. The real control lives
// in the window (it needs the toolkit); this forwards to it.
class HtmlCtrlRef {
 public:
  explicit HtmlCtrlRef(PlayerWindow* window) : window_(window) {}
  bool ReplacePlaceholder(int control_id);
  void ConfineTo(const std::string& folder);
  void Navigate(const std::string& address, unsigned flags,
                const std::string& target_frame, const std::string& headers,
                const std::string& post_data);

 private:
  PlayerWindow* window_;
};

// On a window that can show while part of the launch runs
// (PlayerWindow::CanRunWhileShown), the title and size are first read
// straight from the package in the executable (app/start_preview.h): the
// window is placed and titled with them and shows at once, while the copy
// and the unpack run on a thread of their own; then the start-page step
// runs on the unpacked folder as always, and only then does the browser
// navigate, so the page never sees a folder half unpacked. A package whose
// start page cannot be read that way launches as a whole before the window
// shows, as on every other window.
class CPreviewDlg : public DialogHandler, private BackgroundWork {
 public:
  // REQUIRES: window outlives the player object.
  explicit CPreviewDlg(PlayerWindow* window);

  // Runs the window modally; returns its end code.
  int DoModal();

  // A launch that stops because the running executable carries no package
  // at all shows the window's page for choosing a tour
  // (PlayerWindow::ShowNoTourPage) instead of an empty one. Off by default:
  // a tour named on the command line, or one that stops for any other
  // reason, keeps the empty window. Call before DoModal.
  void OfferTourChoice() { offer_tour_choice_ = true; }

  // DialogHandler.
  bool OnInitDialog() override;
  void OnDestroy() override;

  // The launch steps; each returns 1 on success, 0 on failure.
  int CreateTempZip();
  int UnpackTempZip();
  int ReadStartPage();

  // State, read by tests and the packer's check.
  const Rect& client_rect() const { return client_rect_; }
  const Rect& requested_size() const { return requested_size_; }
  const std::string& start_address() const { return start_address_; }
  const std::string& temp_zip_path() const { return temp_zip_path_; }
  const std::string& content_folder() const { return content_folder_; }
  const std::string& work_folder() const { return work_folder_; }
  LaunchStop launch_stop() const { return launch_stop_; }
  const std::string& temp_zip_error() const { return temp_zip_error_; }
  const UnpackReport& unpack_report() const { return unpack_report_; }
  StartPageStatus start_page_status() const { return start_page_status_; }
  // As far as the start-page step got.
  const StartPage& start_page() const { return start_page_; }

 private:
  // Notes where the launch stopped; returns OnInitDialog's result.
  bool StopLaunch(LaunchStop where);
  // The launch after the unpack: the content folder, the start page, the
  // placement unless the window has it already, the navigation.
  bool FinishLaunch();
  // Steps 8 to 12: the window centred, the browser over it, then placed at
  // the requested size.
  void Place();

  // BackgroundWork: the copy and the unpack while the window shows.
  void Run() override;
  void Stop() override;
  void Done() override;

  PlayerWindow* window_;
  bool offer_tour_choice_ = false;

  HtmlCtrlRef browser_;
  Rect client_rect_;
  Rect requested_size_;
  std::string start_address_;
  std::string temp_zip_path_;
  std::string content_folder_;
  int icon_;
  // The work folder this run created itself, so that the cleanup removes
  // exactly that folder and nothing else. Empty when none was created.
  std::string work_folder_;

  // The frame metrics the placement adds.
  int frame_x_ = 0;
  int frame_y_ = 0;
  int caption_ = 0;
  // The size the window was placed at; right stays -1 until it is.
  Rect placed_size_{0, 0, -1, -1};
  // While the copy and unpack run on their thread: what they write
  // through, so that a window closing stops them.
  std::unique_ptr<StoppableFiles> stoppable_;
  std::unique_ptr<ScopedFileSystem> stoppable_scope_;
  int copied_ = 0;
  int unpacked_ = 0;

  // Why the launch stopped, for the packer's check.
  LaunchStop launch_stop_ = LaunchStop::kNotRun;
  std::string temp_zip_error_;
  UnpackReport unpack_report_;
  StartPageStatus start_page_status_ = StartPageStatus::kOk;
  StartPage start_page_;
};

}  // namespace morva

#endif  // MORVA_APP_PREVIEW_DLG_H_
