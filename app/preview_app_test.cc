#include "app/preview_app.h"

#include <unistd.h>

#include <sstream>

#include "gtest/gtest.h"
#include "tests/recording_window.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using Calls = std::vector<std::string>;

// A recording window that leaves what it was asked in *calls when it goes
// (the application object destroys it before Run returns). Without a
// display it opens nothing, as the real one.
class KeptWindow : public testing::RecordingWindow {
 public:
  KeptWindow(Calls* calls, bool display) : kept_(calls), display_(display) {}
  ~KeptWindow() override { *kept_ = calls; }
  int RunModal(DialogHandler* handler) override {
    return display_ ? RecordingWindow::RunModal(handler) : -1;
  }

 private:
  Calls* kept_;
  bool display_;
};

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
  int windows = 0;
  Calls calls;  // what the last window was asked
};

Outcome RunPlayer(std::vector<std::string> args, bool display = true) {
  args.insert(args.begin(), "morva");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Outcome o;
  CPreviewApp app([&]() -> std::unique_ptr<PlayerWindow> {
    ++o.windows;
    return std::make_unique<KeptWindow>(&o.calls, display);
  });
  std::ostringstream out, err;
  o.code = app.Run(static_cast<int>(argv.size()), argv.data(), out, err);
  o.out = out.str();
  o.err = err.str();
  return o;
}

TEST(PlayerCommandLineTest, AnswersWithoutAWindowAndRefusesWhatItCannotUse) {
  testing::ScopedTempDir tmp;
  const std::string usage =
      "Usage: morva [OPTIONS] [TOUR]\n"
      "Try 'morva --help' for more information.\n";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string out;  // its first line
    std::string err;
  } cases[] = {
      {{"--help"}, 0, "Usage: morva [OPTIONS] [TOUR]", ""},
      {{"tour.exe", "-h"}, 0, "Usage: morva [OPTIONS] [TOUR]", ""},
      {{"--version"}, 0, std::string("morva ") + MORVA_VERSION, ""},
      {{"--bogus"}, 2, "", "morva: unknown option '--bogus'\n" + usage},
      {{"a.exe", "b.exe"},
       2,
       "",
       "morva: one tour at a time ('a.exe' and 'b.exe')\n" + usage},
      {{tmp.Join("missing.exe")},
       1,
       "",
       "morva: " + tmp.Join("missing.exe") + ": No such file or directory\n"},
      {{"--", tmp.path()}, 1, "", "morva: " + tmp.path() + ": not a file\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    const Outcome o = RunPlayer(c.args);
    EXPECT_EQ(o.code, c.code);
    EXPECT_EQ(o.out.substr(0, o.out.find('\n')), c.out);
    EXPECT_EQ(o.err, c.err);
    EXPECT_EQ(o.windows, 0);
  }

  // No display: said so, and a failure, never a silent 0.
  const Outcome o = RunPlayer({}, /*display=*/false);
  EXPECT_EQ(o.code, 1);
  EXPECT_EQ(o.err.rfind("morva: cannot open display ", 0), 0u) << o.err;
  EXPECT_EQ(o.windows, 1);
  EXPECT_TRUE(tmp.List().empty());
}

TEST(PlayerCommandLineTest, PlaysThePackageOfTheTourItIsGiven) {
  testing::ScopedTempDir tmp;
  const std::string archive =
      testing::ZipWriter()
          .AddFile("_flash/qzviewer.swf", "FWS")
          .AddFile("_flash/autorun.inf", "[autorun]\nshellexecute=Tour.html")
          .AddFile("_flash/Tour.html",
                   "javascript:window.open('page.html','_blank','width=640,"
                   "height=480')")
          .AddFile("_flash/page.html", "<html></html>")
          .Bytes(tmp.path());
  tmp.Write("Tour.exe", testing::AppendPackage("MZ\x90", archive));
  // A relative name, from the folder it is in; the cleanup moves the
  // current folder, the launch must not mind.
  ASSERT_EQ(chdir(tmp.path().c_str()), 0);
  const Outcome o = RunPlayer({"Tour.exe"});
  tmp.RestoreCurrentFolder();
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(o.err, "");
  const auto has = [&](const std::string& prefix, const std::string& part) {
    for (const std::string& call : o.calls) {
      if (call.rfind(prefix, 0) == 0 && call.find(part) != std::string::npos)
        return true;
    }
    return false;
  };
  EXPECT_TRUE(has("SetTitle(", "Tour  -  Morva"))
      << ::testing::PrintToString(o.calls);
  EXPECT_TRUE(has("SetWindowPos(", ",0,0,640,480,"));
  EXPECT_TRUE(has("Navigate(" + tmp.path() + "/QZ", "/_flash/page.html,"));
  EXPECT_EQ(tmp.List(), std::vector<std::string>{"Tour.exe"})
      << "nothing of the run is left";
}

}  // namespace
}  // namespace morva
