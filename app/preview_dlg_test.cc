#include "app/preview_dlg.h"

#include "app/preview_app.h"
#include "gtest/gtest.h"
#include "tests/fake_module.h"
#include "tests/recording_window.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::FakeModuleFiles;
using testing::RecordingWindow;
using testing::ScopedTempDir;
using Calls = std::vector<std::string>;

// The calls every launch makes before its first step can fail.
Calls Opening(bool about) {
  Calls calls = {"LoadIcon(128)", "RunModal"};
  if (about) {
    calls.push_back("AppendMenuSeparator");
    calls.push_back("AppendMenuItem(16,&About Morva...)");
  }
  for (const char* c : {"SetIcon(128,big)", "SetIcon(128,small)",
                        "ReplacePlaceholder(1000)", "GetSystemMetrics(32)",
                        "GetSystemMetrics(33)", "GetSystemMetrics(4)"}) {
    calls.push_back(c);
  }
  return calls;
}

class LaunchTest : public ::testing::Test {
 protected:
  // Runs the player with exe_bytes as its executable.
  void Launch(const std::string& exe_bytes) {
    const std::string exe = tmp_.Join("tour.exe");
    testing::WriteFile(exe, exe_bytes);
    FakeModuleFiles files(exe);
    ScopedFileSystem scope(&files);
    CPreviewDlg dlg(&window_);
    EXPECT_EQ(dlg.DoModal(), 2);
    EXPECT_TRUE(window_.init_result);
    requested_ = dlg.requested_size();
  }
  std::vector<std::string> LeftInTemp() {
    std::vector<std::string> names;
    for (const std::string& n : tmp_.List()) {
      if (n != "tour.exe") names.push_back(n);
    }
    return names;
  }

  ScopedTempDir tmp_;
  RecordingWindow window_;
  Rect requested_;
};

TEST_F(LaunchTest, StopsSilentlyWhenTheExecutableCannotBeCopied) {
  Launch("MZ" + testing::LittleEndian32(1000));  // trailer past the start
  Calls expected = Opening(true);
  expected.push_back("Close");
  EXPECT_EQ(window_.calls, expected);
  EXPECT_EQ(window_.title, "Morva");
  EXPECT_EQ(requested_, (Rect{0, 0, 680, 500}));
  EXPECT_TRUE(LeftInTemp().empty());
}

TEST_F(LaunchTest, AboutItemOnlyForANonEmptyStringAndASystemMenu) {
  window_.strings[kIdsAboutMorva] = "";
  Launch("MZ" + testing::LittleEndian32(1000));
  EXPECT_EQ(window_.CallsStartingWith("AppendMenu"), Calls{});
  EXPECT_EQ(window_.calls.size(), Opening(false).size() + 1);

  RecordingWindow no_menu;
  no_menu.has_system_menu = false;
  CPreviewDlg dlg(&no_menu);
  // No module override here: whatever happens, no menu call may appear.
  ScopedFileSystem scope(RealFiles());
  dlg.OnInitDialog();
  EXPECT_EQ(no_menu.CallsStartingWith("AppendMenu"), Calls{});
  dlg.OnDestroy();
}

TEST_F(LaunchTest, AnArchiveThatCannotBeUnpackedStopsBeforeTheWindowIsPlaced) {
  Launch(testing::AppendPackage("MZ", "not a zip archive"));
  Calls expected = Opening(true);
  expected.push_back("Close");
  EXPECT_EQ(window_.calls, expected);
  for (const char* op : {"CenterWindow", "ShowWindow", "SetWindowPos", "Navigate"}) {
    EXPECT_TRUE(window_.CallsStartingWith(op).empty()) << op;
  }
  EXPECT_TRUE(LeftInTemp().empty()) << "the temporary archive is gone at destroy";
}

TEST(PreviewAppTest, RunsThePlayerOnceAndEnds) {
  ScopedTempDir tmp;
  RecordingWindow* window = nullptr;
  int made = 0;
  CPreviewApp app([&]() {
    ++made;
    auto w = std::make_unique<RecordingWindow>();
    window = w.get();
    return w;
  });
  FakeModuleFiles files(tmp.Join("missing.exe"));
  ScopedFileSystem scope(&files);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(tmp.List().empty());
}

}  // namespace
}  // namespace morva
