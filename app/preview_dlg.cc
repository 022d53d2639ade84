#include "app/preview_dlg.h"

#include "package/temp_zip.h"
#include "platform/files.h"

namespace morva {

namespace {
constexpr int32_t kDefaultClientWidth = 680;
constexpr int32_t kDefaultClientHeight = 500;
}  // namespace

bool HtmlCtrlRef::ReplacePlaceholder(int control_id) {
  return window_->ReplacePlaceholder(control_id);
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

  const int frame_x = window_->GetSystemMetrics(kSmCxSizeFrame);
  const int frame_y = window_->GetSystemMetrics(kSmCySizeFrame);
  const int caption = window_->GetSystemMetrics(kSmCyCaption);

  if (CreateTempZip() == 0) return true;
  if (UnpackTempZip() == 0) return true;
  if (content_folder_.empty()) return true;
  if (ReadStartPage() == 0) return true;

  window_->CenterWindow();
  client_rect_ = window_->GetClientRect();
  window_->MoveChild(kIdBrowserPlaceholder, client_rect_, true);
  window_->ShowWindow(kSwShowNormal);

  const int outer_width = requested_size_.right + 2 * frame_x;
  const int outer_height = requested_size_.bottom + caption + 2 * frame_y;
  // Placed and hidden in one call; the modal run shows the window again once
  // initialisation has returned, so it appears at its final place and size.
  window_->SetWindowPos(ZOrder::kTop, requested_size_.left, requested_size_.top,
                        outer_width, outer_height, kSwpHideWindow);

  browser_.Navigate(start_address_, 0, "_self", "", "");
  return true;
}

void CPreviewDlg::OnDestroy() {
  // Whatever the launch reached, the temporary archive must not outlive the
  // window.
  if (!temp_zip_path_.empty()) RemoveFile(temp_zip_path_);
}

int CPreviewDlg::CreateTempZip() { return morva::CreateTempZip(&temp_zip_path_); }

// Unpacking is not built yet: report failure, so the launch stops here.
int CPreviewDlg::UnpackTempZip() { return 0; }

// Reading the start page is not built yet: report failure.
int CPreviewDlg::ReadStartPage() { return 0; }

}  // namespace morva
