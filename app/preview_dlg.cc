#include "app/preview_dlg.h"

#include "app/start_preview.h"
#include "package/cleanup.h"
#include "package/package_region.h"
#include "package/temp_zip.h"
#include "package/unpack.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "startpage/start_page.h"

namespace morva {

namespace {
constexpr int32_t kDefaultClientWidth = 680;
constexpr int32_t kDefaultClientHeight = 500;
}  // namespace

bool HtmlCtrlRef::ReplacePlaceholder(int control_id) {
  return window_->ReplacePlaceholder(control_id);
}

void HtmlCtrlRef::ConfineTo(const std::string& folder) {
  window_->ConfineBrowser(folder);
}

void HtmlCtrlRef::Navigate(const std::string& address, unsigned flags,
                           const std::string& target_frame,
                           const std::string& headers,
                           const std::string& post_data) {
  window_->Navigate(address, flags, target_frame, headers, post_data);
}

CPreviewDlg::CPreviewDlg(PlayerWindow* window)
    : window_(window),
      browser_(window),
      icon_(window->LoadIconResource(kIdIcon)) {}

int CPreviewDlg::DoModal() { return window_->RunModal(this); }

bool CPreviewDlg::OnInitDialog() {
  if (window_->HasSystemMenu()) {
    std::string about = window_->LoadText(kIdsAboutMorva);
    if (!about.empty()) {
      window_->AppendMenuSeparator();
      window_->AppendMenuItem(kIdmAboutBox, about);
    }
  }
  window_->SetIcon(icon_, true);
  window_->SetIcon(icon_, false);

  // The browser exists before any step that can fail, so a launch that stops
  // early still shows an (empty) page.
  browser_.ReplacePlaceholder(kIdBrowserPlaceholder);

  temp_zip_path_.clear();
  content_folder_.clear();
  start_address_.clear();
  requested_size_ = Rect{0, 0, kDefaultClientWidth, kDefaultClientHeight};

  frame_x_ = window_->GetSystemMetrics(kSmCxSizeFrame);
  frame_y_ = window_->GetSystemMetrics(kSmCySizeFrame);
  caption_ = window_->GetSystemMetrics(kSmCyCaption);

  StartPage preview;
  if (window_->CanRunWhileShown() && PreviewStartPage(&preview)) {
    window_->SetTitle(preview.title);
    requested_size_ = Rect{0, 0, preview.width, preview.height};
    Place();
    stoppable_ = std::make_unique<StoppableFiles>(Files());
    stoppable_scope_ = std::make_unique<ScopedFileSystem>(stoppable_.get());
    window_->RunWhileShown(this);
    return true;
  }

  if (CreateTempZip() == 0) return StopLaunch(LaunchStop::kCreateTempZip);
  if (UnpackTempZip() == 0) return StopLaunch(LaunchStop::kUnpack);
  return FinishLaunch();
}

bool CPreviewDlg::FinishLaunch() {
  if (content_folder_.empty()) return StopLaunch(LaunchStop::kNoContentFolder);
  if (ReadStartPage() == 0) return StopLaunch(LaunchStop::kStartPage);
  launch_stop_ = LaunchStop::kNone;

  if (placed_size_.right < 0) {
    Place();
  } else if (requested_size_ != placed_size_) {
    // Only a crafted package asks for another size once unpacked than it
    // did in place.
    window_->SetWindowPos(ZOrder::kTop, requested_size_.left,
                          requested_size_.top,
                          requested_size_.right + 2 * frame_x_,
                          requested_size_.bottom + caption_ + 2 * frame_y_, 0);
    placed_size_ = requested_size_;
  }

  // The tour is a stranger's: it reaches the files it brought, no others.
  browser_.ConfineTo(work_folder_);
  browser_.Navigate(start_address_, 0, "_self", "", "");
  return true;
}

void CPreviewDlg::Place() {
  window_->CenterWindow();
  client_rect_ = window_->GetClientRect();
  window_->MoveChild(kIdBrowserPlaceholder, client_rect_, true);
  window_->ShowWindow(kSwShowNormal);

  const int outer_width = requested_size_.right + 2 * frame_x_;
  const int outer_height = requested_size_.bottom + caption_ + 2 * frame_y_;
  // Placed and hidden in one call; the modal run shows the window again once
  // initialisation has returned, so it appears at its final place and size.
  window_->SetWindowPos(ZOrder::kTop, requested_size_.left, requested_size_.top,
                        outer_width, outer_height, kSwpHideWindow);
  placed_size_ = requested_size_;
}

void CPreviewDlg::Run() {
  copied_ = CreateTempZip();
  if (copied_ != 0) unpacked_ = UnpackTempZip();
}

void CPreviewDlg::Stop() { stoppable_->Stop(); }

void CPreviewDlg::Done() {
  stoppable_scope_.reset();
  stoppable_.reset();
  if (copied_ == 0) {
    StopLaunch(LaunchStop::kCreateTempZip);
  } else if (unpacked_ == 0) {
    StopLaunch(LaunchStop::kUnpack);
  } else {
    FinishLaunch();
  }
}

void CPreviewDlg::OnDestroy() {
  // The window has stopped the copy and unpack and waited for them.
  stoppable_scope_.reset();
  stoppable_.reset();
  // Exactly the work folder this run made, whatever the content folder is,
  // and the temporary archive should its path still be set.
  RemoveLaunchFiles(work_folder_, temp_zip_path_);
}

bool CPreviewDlg::StopLaunch(LaunchStop where) {
  launch_stop_ = where;
  // Asked only now, so that the launch runs as it always has; a program
  // without a package stops at the copy or the unpack.
  if (offer_tour_choice_ && !CarriesPackage(Files()->ModuleFileName())) {
    Trace("no package in %s", Files()->ModuleFileName().c_str());
    window_->ShowNoTourPage();
  }
  return true;
}

int CPreviewDlg::CreateTempZip() {
  return morva::CreateTempZip(&temp_zip_path_, &temp_zip_error_);
}

int CPreviewDlg::UnpackTempZip() {
  return morva::UnpackTempZip(&temp_zip_path_, &content_folder_, &work_folder_,
                              &unpack_report_);
}

int CPreviewDlg::ReadStartPage() {
  start_page_ = StartPage{};
  start_page_status_ = FindStartPage(
      content_folder_, work_folder_,
      [this](const std::string& title) { window_->SetTitle(title); },
      &start_page_);
  if (start_page_status_ != StartPageStatus::kOk) return 0;
  start_address_ = start_page_.start_address;
  requested_size_ = Rect{0, 0, start_page_.width, start_page_.height};
  return 1;
}

}  // namespace morva
