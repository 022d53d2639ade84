// The player object: all per-run state, and the launch sequence that turns
// the executable's appended package into a sized window showing the tour.
#ifndef MORVA_APP_PREVIEW_DLG_H_
#define MORVA_APP_PREVIEW_DLG_H_

#include <string>

#include "app/window.h"
#include "package/unpack.h"
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

class CPreviewDlg : public DialogHandler {
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
  bool Stop(LaunchStop where);

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

  // Why the launch stopped, for the packer's check.
  LaunchStop launch_stop_ = LaunchStop::kNotRun;
  std::string temp_zip_error_;
  UnpackReport unpack_report_;
  StartPageStatus start_page_status_ = StartPageStatus::kOk;
  StartPage start_page_;
};

}  // namespace morva

#endif  // MORVA_APP_PREVIEW_DLG_H_
