#include "app/preview_app.h"

#include <sstream>

#include "gtest/gtest.h"
#include "tests/recording_window.h"
#include "tests/test_util.h"

namespace morva {
namespace {

// A window that cannot open, as without a display.
class NoDisplayWindow : public testing::RecordingWindow {
 public:
  int RunModal(DialogHandler*) override { return -1; }
};

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
  int windows = 0;
};

Outcome RunPlayer(std::vector<std::string> args, bool display = true) {
  args.insert(args.begin(), "morva");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  Outcome o;
  CPreviewApp app([&]() -> std::unique_ptr<PlayerWindow> {
    ++o.windows;
    if (!display) return std::make_unique<NoDisplayWindow>();
    return std::make_unique<testing::RecordingWindow>();
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

}  // namespace
}  // namespace morva
