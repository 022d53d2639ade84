#include "app/preview_dlg.h"

#include "app/preview_app.h"
#include "app/start_preview.h"
#include "gtest/gtest.h"
#include "platform/files.h"
#include "platform/path.h"
#include "tests/recording_window.h"
#include "tests/test_util.h"

namespace morva {
namespace {

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
    ModuleOverride files(exe);
    ScopedFileSystem scope(&files);
    CPreviewDlg dlg(&window_);
    EXPECT_EQ(dlg.DoModal(), 2);
    EXPECT_TRUE(window_.init_result);
    requested_ = dlg.requested_size();
    stop_ = dlg.launch_stop();
    unpack_ = dlg.unpack_report();
    start_page_ = dlg.start_page_status();
  }
  std::vector<std::string> LeftInTemp() { return tmp_.ListAllBut("tour.exe"); }

  ScopedTempDir tmp_;
  RecordingWindow window_;
  Rect requested_;
  LaunchStop stop_ = LaunchStop::kNotRun;
  UnpackReport unpack_;
  StartPageStatus start_page_ = StartPageStatus::kOk;
};

TEST_F(LaunchTest, StopsSilentlyWhenTheExecutableCannotBeCopied) {
  Launch("MZ" + testing::LittleEndian32(1000));  // trailer past the start
  Calls expected = Opening(true);
  expected.push_back("Close");
  EXPECT_EQ(window_.calls, expected);
  EXPECT_EQ(window_.title, "Morva");
  EXPECT_EQ(requested_, (Rect{0, 0, 680, 500}));
  EXPECT_TRUE(LeftInTemp().empty());
  EXPECT_EQ(stop_, LaunchStop::kCreateTempZip);
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
  for (const char* op :
       {"CenterWindow", "ShowWindow", "SetWindowPos", "Navigate"}) {
    EXPECT_TRUE(window_.CallsStartingWith(op).empty()) << op;
  }
  EXPECT_TRUE(LeftInTemp().empty())
      << "the temporary archive is gone at destroy";
  EXPECT_EQ(stop_, LaunchStop::kUnpack);
  EXPECT_EQ(unpack_.status, UnpackStatus::kNotAnArchive);
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
  ModuleOverride files(tmp.Join("missing.exe"));
  ScopedFileSystem scope(&files);
  EXPECT_FALSE(app.InitInstance());
  EXPECT_EQ(made, 1);
  EXPECT_TRUE(tmp.List().empty());
}

}  // namespace
}  // namespace morva

namespace morva {
namespace {

// A package laid out as the packer builds them.
testing::ZipWriter TourPackage(
    const std::string& viewer = "_flash/qzviewer.swf",
    const std::string& folder = "_flash") {
  testing::ZipWriter zip;
  zip.AddDir(folder + "/");
  zip.AddFile(viewer, "FWS");
  zip.AddFile(folder + "/autorun.inf",
              "[autorun] \r\r\nshellexecute=Tour name.html\r\r\n");
  zip.AddFile(folder + "/Tour name.html",
              "<html><body><a href=\"#\" onclick=\"javascript:window.open("
              "'Tour%20page.html','_blank','status=yes,resizable=yes,top=0,"
              "left=0,width=1024,height=768')\">Start</a></body></html>\r\n");
  zip.AddFile(folder + "/Tour page.html", "<html>tour</html>");
  zip.AddFile(folder + "/scenes/s1.jpg", std::string(5000, 'j'));
  return zip;
}

class FullLaunchTest : public LaunchTest {
 protected:
  void LaunchPackage(const testing::ZipWriter& zip) {
    Launch(testing::AppendPackage("MZ-player", zip.Bytes(tmp_.path())));
  }
};

TEST_F(FullLaunchTest, APackageAsBuiltOpensItsTourPageAtTheRequestedSize) {
  window_.metrics = {
      {kSmCxSizeFrame, 4}, {kSmCySizeFrame, 5}, {kSmCyCaption, 23}};
  window_.client_rect = Rect{0, 0, 592, 437};
  // Seen from inside the run: the work folder exists while the window shows.
  std::string start_address;
  LaunchPackage(TourPackage());
  Calls expected = Opening(true);
  for (const char* c :
       {"SetTitle(Tour name  -  Morva)", "CenterWindow", "GetClientRect",
        "MoveChild(1000,0,0,592,437,repaint)", "ShowWindow(1)",
        "SetWindowPos(top,0,0,1032,801,128)"}) {
    expected.push_back(c);
  }
  ASSERT_GE(window_.calls.size(), expected.size() + 3);
  // The browser is confined to the work folder before it loads anything.
  const std::string confine = window_.calls[expected.size()];
  const std::string navigate = window_.calls[expected.size() + 1];
  EXPECT_EQ(std::vector<std::string>(window_.calls.begin(),
                                     window_.calls.begin() + expected.size()),
            expected);
  ASSERT_EQ(confine.rfind("ConfineBrowser(" + JoinPath(tmp_.path(), "QZ"), 0),
            0u)
      << confine;
  const std::string work = confine.substr(15, confine.size() - 16);
  EXPECT_EQ(navigate.rfind("Navigate(" + work + testing::Native("/_flash/"), 0),
            0u)
      << navigate;
  EXPECT_NE(navigate.find(testing::Native(".tmp/_flash/Tour page.html") +
                          ",0,_self,,)"),
            std::string::npos)
      << navigate;
  EXPECT_EQ(window_.calls.back(), "Close");
  EXPECT_EQ(requested_, (Rect{0, 0, 1024, 768}));
  EXPECT_EQ(stop_, LaunchStop::kNone);
  EXPECT_TRUE(LeftInTemp().empty()) << "nothing of the run is left";
}

TEST_F(FullLaunchTest, EachFailingStepStopsBeforeTheWindowIsPlaced) {
  struct Case {
    const char* what;
    testing::ZipWriter zip;
    const char* title;
    LaunchStop stop;
    StartPageStatus start_page;
  } cases[] = {
      {"no viewer movie: no autorun.inf at the top",
       testing::ZipWriter().AddFile("_flash/autorun.inf",
                                    "[autorun]\nshellexecute=a.html"),
       "Morva", LaunchStop::kStartPage, StartPageStatus::kNoAutorun},
      {"no pop-up call",
       testing::ZipWriter()
           .AddFile("qzviewer.swf", "x")
           .AddFile("autorun.inf", "[autorun]\nshellexecute=Launch.html")
           .AddFile("Launch.html", "<a href='tour.html'>go</a>"),
       "Launch  -  Morva", LaunchStop::kStartPage, StartPageStatus::kNoMatch},
      {"a tour page outside the work folder",
       testing::ZipWriter()
           .AddFile("qzviewer.swf", "x")
           .AddFile("autorun.inf", "[autorun]\nshellexecute=Launch.html")
           .AddFile("Launch.html",
                    "javascript:window.open('../../../tmp/x/outside.html','w',"
                    "'left=0,width=8,height=6'"),
       "Launch  -  Morva", LaunchStop::kStartPage,
       StartPageStatus::kPageOutside},
      {"unsafe entry",
       testing::ZipWriter()
           .AddFile("qzviewer.swf", "x")
           .AddFile("../escape", "x"),
       "Morva", LaunchStop::kUnpack, StartPageStatus::kOk},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    window_ = RecordingWindow();
    // What the package shows of itself before it is unpacked stops the
    // launch before the window shows, as on any window.
    window_.run_while_shown = [](BackgroundWork*) {
      ADD_FAILURE() << "the window showed first";
    };
    LaunchPackage(c.zip);
    for (const char* op : {"CenterWindow", "ShowWindow", "SetWindowPos",
                           "ConfineBrowser", "Navigate"}) {
      EXPECT_TRUE(window_.CallsStartingWith(op).empty()) << op;
    }
    EXPECT_EQ(window_.title, c.title);
    EXPECT_EQ(stop_, c.stop);
    EXPECT_EQ(start_page_, c.start_page);
    EXPECT_TRUE(LeftInTemp().empty());
    EXPECT_FALSE(testing::Exists(tmp_.path() + "/../escape"));
  }
}

TEST_F(FullLaunchTest, AWindowShownWhileTheLaunchRunsGetsThePageOnlyAfterIt) {
  window_.metrics = {
      {kSmCxSizeFrame, 4}, {kSmCySizeFrame, 5}, {kSmCyCaption, 23}};
  window_.client_rect = Rect{0, 0, 592, 437};
  Calls shown;
  std::vector<std::string> left_when_shown;
  size_t calls_after_run = 0;
  window_.run_while_shown = [&](BackgroundWork* work) {
    shown = window_.calls;
    left_when_shown = LeftInTemp();
    work->Run();
    calls_after_run = window_.calls.size();
    work->Done();
  };
  LaunchPackage(TourPackage());
  // Titled and placed as a whole launch places it, from the package alone:
  // nothing copied out yet, and the preview's own files gone.
  Calls expected = Opening(true);
  for (const char* c :
       {"SetTitle(Tour name  -  Morva)", "CenterWindow", "GetClientRect",
        "MoveChild(1000,0,0,592,437,repaint)", "ShowWindow(1)",
        "SetWindowPos(top,0,0,1032,801,128)", "RunWhileShown"}) {
    expected.push_back(c);
  }
  EXPECT_EQ(shown, expected);
  EXPECT_EQ(left_when_shown, std::vector<std::string>{});
  // The page comes once the unpack is over, and the window stays put.
  EXPECT_EQ(calls_after_run, shown.size());
  const Calls navigate = window_.CallsStartingWith("Navigate");
  ASSERT_EQ(navigate.size(), 1u);
  EXPECT_NE(navigate[0].find(testing::Native(".tmp/_flash/Tour page.html") +
                             ",0,_self,,)"),
            std::string::npos);
  EXPECT_EQ(window_.CallsStartingWith("SetWindowPos").size(), 1u);
  EXPECT_EQ(stop_, LaunchStop::kNone);
  EXPECT_TRUE(LeftInTemp().empty());

  // Stopped before it could run (the window closed at once): nothing is
  // written, no page comes, nothing is left.
  window_ = RecordingWindow();
  window_.run_while_shown = [](BackgroundWork* work) {
    work->Stop();
    work->Run();
  };
  LaunchPackage(TourPackage());
  EXPECT_TRUE(window_.CallsStartingWith("Navigate").empty());
  EXPECT_TRUE(LeftInTemp().empty());
}

TEST_F(FullLaunchTest, WhatThePackageShowsFirstIsWhatTheUnpackLeaves) {
  auto shows = [this](const testing::ZipWriter& zip) {
    window_ = RecordingWindow();
    bool ran = false;
    window_.run_while_shown = [&ran](BackgroundWork* work) {
      ran = true;
      work->Run();
      work->Done();
    };
    LaunchPackage(zip);
    EXPECT_EQ(window_.CallsStartingWith("Navigate").size(), 1u);
    EXPECT_TRUE(LeftInTemp().empty());
    return ran;
  };
  // autorun.inf twice: the later one is what the unpack leaves.
  testing::ZipWriter twice = TourPackage();
  twice
      .AddFile("_flash/Other.html",
               "javascript:window.open('Tour%20page.html','w',"
               "'width=300,height=200')")
      .AddFile("_flash/autorun.inf", "[autorun]\nshellexecute=Other.html");
  EXPECT_TRUE(shows(twice));
  EXPECT_EQ(window_.CallsStartingWith("SetTitle"),
            Calls(2, "SetTitle(Other  -  Morva)"));
  EXPECT_EQ(window_.CallsStartingWith("SetWindowPos"),
            Calls{"SetWindowPos(top,0,0,300,200,128)"});

  // A launcher beyond what is read before the window shows: the launch
  // runs whole first, as on any window.
  testing::ZipWriter large = TourPackage();
  large.AddFile("_flash/Tour name.html",
                std::string(kPreviewMaxBytes, ' ') +
                    "javascript:window.open('Tour%20page.html','w',"
                    "'width=640,height=480')");
  EXPECT_FALSE(shows(large));
  EXPECT_EQ(window_.CallsStartingWith("SetWindowPos"),
            Calls{"SetWindowPos(top,0,0,640,480,128)"});
}

TEST_F(FullLaunchTest, CleanupRemovesTheWholeWorkFolderWhereverTheViewerIs) {
  // Two folders deep, and a content folder whose own name ends in "tmp".
  for (auto [viewer, folder] :
       {std::pair<std::string, std::string>{"_flash/player/qzviewer.swf",
                                            "_flash/player"},
        {"datatmp/qzviewer.swf", "datatmp"}}) {
    SCOPED_TRACE(viewer);
    window_ = RecordingWindow();
    LaunchPackage(TourPackage(viewer, folder));
    EXPECT_EQ(window_.title, "Tour name  -  Morva");
    EXPECT_EQ(window_.CallsStartingWith("Navigate").size(), 1u);
    EXPECT_TRUE(LeftInTemp().empty());
  }
}

}  // namespace
}  // namespace morva
