#include "app/preview_app.h"

#include <algorithm>
#include <sstream>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/recording_window.h"
#include "tests/test_util.h"

namespace morva {
namespace {

// A window that cannot open, as without a display.
class NoDisplayWindow : public testing::RecordingWindow {
 public:
  int RunModal(DialogHandler*) override { return -1; }
};

// Hands its calls on when it goes.
class RecordingWindowKeptAfter : public testing::RecordingWindow {
 public:
  ~RecordingWindowKeptAfter() override {
    if (kept) *kept = calls;
  }
  std::vector<std::string>* kept = nullptr;
};

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
  int windows = 0;
};

Outcome RunPlayer(std::vector<std::string> args, bool display = true,
                  std::vector<std::string>* calls = nullptr) {
  args.insert(args.begin(), "morva");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Outcome o;
  CPreviewApp app([&]() -> std::unique_ptr<PlayerWindow> {
    ++o.windows;
    if (!display) return std::make_unique<NoDisplayWindow>();
    auto window = std::make_unique<RecordingWindowKeptAfter>();
    window->kept = calls;
    return window;
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

TEST(PlayerCommandLineTest, OnlyAProgramWithoutAnyPackageOffersATourToOpen) {
  testing::ScopedTempDir tmp;
  testing::ZipWriter no_autorun;
  no_autorun.AddFile("_flash/qzviewer.swf", "FWS");
  struct Case {
    const char* name;
    std::string exe;  // empty: this test program, which carries none
    bool tour_named;
    bool offered;
  } cases[] = {
      {"a program whose last bytes name nothing", "", false, true},
      {"a trailer past the start", "MZ" + testing::LittleEndian32(1000), false,
       true},
      {"a trailer naming bytes that are no archive",
       testing::AppendPackage("MZ", "not a zip archive"), false, true},
      {"a package that stops at its start page",
       testing::AppendPackage("MZ", no_autorun.Bytes(tmp.path())), false,
       false},
      {"a program without a package named as TOUR", "", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string exe = RealFiles()->ModuleFileName();
    if (!c.exe.empty()) exe = tmp.Write("tour.exe", c.exe);
    std::vector<std::string> calls;
    Outcome o;
    if (c.tour_named) {
      o = RunPlayer({exe}, true, &calls);
    } else {
      ModuleOverride module(exe);
      ScopedFileSystem scope(&module);
      o = RunPlayer({}, true, &calls);
    }
    EXPECT_EQ(o.code, 0);
    const bool offered = std::find(calls.begin(), calls.end(),
                                   "ShowNoTourPage()") != calls.end();
    EXPECT_EQ(offered, c.offered);
    for (const std::string& call : calls) {
      EXPECT_NE(call.rfind("Navigate", 0), 0u) << call;
    }
    EXPECT_EQ(tmp.ListAllBut("tour.exe"), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace morva
