#include "startpage/start_page.h"

#include <re2/re2.h>

#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/faulty_files.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using namespace std::string_literals;

#ifdef _WIN32
constexpr bool kFileSystemIgnoresCase = true;
#else
constexpr bool kFileSystemIgnoresCase = false;
#endif

constexpr char kCall[] =
    "<a href=\"javascript:window.open('A%20B.html','_blank','status=yes,"
    "resizable=yes,top=0,left=0,width=800,height=600')\">Start</a>";

class StartPageTest : public ::testing::Test {
 protected:
  StartPageTest()
      : work_(testing::Native(folder_.path() + "/work")),
        content_(testing::Native(work_ + "/content")) {}

  void WriteAutorun(std::string_view value) {
    folder_.Write("work/content/autorun.inf",
                  "[autorun] \r\r\nshellexecute="s + std::string(value));
  }
  void WriteLauncher(const std::string& name, std::string_view text) {
    folder_.Write("work/content/" + name, text);
  }

  StartPageStatus Find() {
    return FindStartPage(
        content_, work_, [this](const std::string& t) { titles_.push_back(t); },
        &page_);
  }

  testing::ScopedTempDir folder_;
  std::string work_;
  std::string content_;
  StartPage page_;
  std::vector<std::string> titles_;
};

TEST_F(StartPageTest, PackageAsShipped) {
  WriteAutorun("Tour name.html");
  WriteLauncher("Tour name.html", "<html>\r\n"s + kCall + "\r\n</html>\r\n");
  ASSERT_EQ(Find(), StartPageStatus::kOk);
  EXPECT_EQ(titles_, std::vector<std::string>{"Tour name  -  Morva"});
  EXPECT_EQ(page_.title, "Tour name  -  Morva");
  EXPECT_EQ(page_.launcher_path, testing::Native(content_ + "/Tour name.html"));
  EXPECT_EQ(page_.start_address, testing::Native(content_ + "/A B.html"));
  EXPECT_EQ(page_.width, 800);
  EXPECT_EQ(page_.height, 600);
}

TEST_F(StartPageTest, TitleIsTheNameBeforeTheFirstDot) {
  WriteAutorun("a.b.html");
  WriteLauncher("a.b.html", kCall);
  EXPECT_EQ(Find(), StartPageStatus::kOk);
  EXPECT_EQ(page_.title, "a  -  Morva");

  WriteAutorun(".html");
  WriteLauncher(".html", kCall);
  titles_.clear();
  EXPECT_EQ(Find(), StartPageStatus::kOk);
  EXPECT_EQ(titles_, std::vector<std::string>{"  -  Morva"});
}

TEST_F(StartPageTest, FailuresBeforeTheTitleSetNone) {
  EXPECT_EQ(Find(), StartPageStatus::kNoAutorun);
  WriteAutorun("");
  EXPECT_EQ(Find(), StartPageStatus::kNoValue);
  folder_.Write("work/content/autorun.inf", "[autorun]\nopen=x.exe\n");
  EXPECT_EQ(Find(), StartPageStatus::kNoValue);
  WriteAutorun("index");
  WriteLauncher("index", kCall);
  EXPECT_EQ(Find(), StartPageStatus::kNoDot);
  EXPECT_TRUE(titles_.empty());
  EXPECT_EQ(page_.title, "");
}

TEST_F(StartPageTest, FailuresAfterTheTitleKeepIt) {
  WriteAutorun("Tour.html");
  EXPECT_EQ(Find(), StartPageStatus::kNoLauncher);
  EXPECT_EQ(titles_, std::vector<std::string>{"Tour  -  Morva"});
  EXPECT_EQ(page_.title, "Tour  -  Morva");

  WriteLauncher("Tour.html", "<a href=\"Tour%20page.html\">Start</a>");
  EXPECT_EQ(Find(), StartPageStatus::kNoMatch);
  EXPECT_EQ(page_.title, "Tour  -  Morva");
  EXPECT_EQ(page_.start_address, "");
}

// The reads go through the file-system seam, so a bad sector stops them.
TEST_F(StartPageTest, ReadErrorsStopTheStepThatReads) {
  WriteAutorun("Tour.html");
  // The call sits in the first bytes; the error comes well after them, in
  // the middle of a launcher larger than one read.
  WriteLauncher("Tour.html", kCall + std::string(200000, 'x') + "</html>");
  ASSERT_EQ(Find(), StartPageStatus::kOk);

  testing::FaultyFiles launcher_fault;
  launcher_fault.FailReads(testing::Named("Tour.html"), EIO, 100000, 100001);
  {
    ScopedFileSystem scope(&launcher_fault);
    titles_.clear();
    EXPECT_EQ(Find(), StartPageStatus::kNoLauncher);
  }
  EXPECT_GT(launcher_fault.failed_reads(), 0);
  EXPECT_EQ(titles_, std::vector<std::string>{"Tour  -  Morva"});
  EXPECT_EQ(page_.title, "Tour  -  Morva");
  EXPECT_EQ(page_.start_address, "");

  testing::FaultyFiles autorun_fault;
  autorun_fault.FailReads(testing::Named("autorun.inf"));
  {
    ScopedFileSystem scope(&autorun_fault);
    titles_.clear();
    EXPECT_EQ(Find(), StartPageStatus::kNoAutorun);
  }
  EXPECT_GT(autorun_fault.failed_reads(), 0);
  EXPECT_TRUE(titles_.empty());
}

TEST_F(StartPageTest, BackslashesAreFolderSeparators) {
  WriteAutorun("sub\\Tour.html");
  WriteLauncher(
      "sub/Tour.html",
      "javascript:window.open('pages\\p%20q.html','w','left=0,width=1,"
      "height=2'");
  ASSERT_EQ(Find(), StartPageStatus::kOk);
  EXPECT_EQ(page_.title, "sub\\Tour  -  Morva");
  EXPECT_EQ(page_.launcher_path, testing::Native(content_ + "/sub/Tour.html"));
  EXPECT_EQ(page_.start_address, testing::Native(content_ + "/pages/p q.html"));
}

TEST_F(StartPageTest, OnlyBlanksAreDecoded) {
  WriteAutorun("t.html");
  WriteLauncher("t.html",
                "javascript:window.open('it%27s%2520a%20b%2%2020%20%20.html',"
                "'w','left=0,width=1,height=2'");
  ASSERT_EQ(Find(), StartPageStatus::kOk);
  EXPECT_EQ(page_.start_address,
            testing::Native(content_ + "/it%27s%2520a b%2 20  .html"));
}

TEST_F(StartPageTest, APackageMadeOnWindows) {
  // Notepad's UTF-16 in upper-case AUTORUN.INF; every name in another letter
  // case than the file's; the launcher named in Windows-1252, the tour page
  // in CP437 bytes, both unpacked under their UTF-8 form.
  folder_.Write("work/content/AUTORUN.INF",
                "\xFF\xFE[\0a\0u\0t\0o\0r\0u\0n\0]\0\r\0\n\0"
                "s\0h\0e\0l\0l\0e\0x\0e\0c\0u\0t\0e\0=\0"
                "c\0a\0f\0\xE9\0.\0h\0t\0m\0l\0"s);
#ifdef _WIN32
  // No Windows name ends in a blank, so the blank is inside. The file system
  // ignores letter case: the names are found as written, the tour page under
  // its UTF-8 form.
  const std::string folder = "sc x", written = "Sc%20x";
  const std::string launcher = "caf\xC3\xA9.html";
  const std::string page = "Sc x/P\xE2\x80\x9Age.HTML";
#else
  const std::string folder = "sc ", written = "Sc%20";
  const std::string launcher = "CAF\xC3\xA9.html";
  const std::string page = "sc /p\xE2\x80\x9Age.html";
#endif
  WriteLauncher("CAF\xC3\xA9.html", "javascript:window.open('" + written +
                                        "\\P\x82ge.HTML','_blank','width="
                                        "640,height=480')");
  folder_.Write("work/content/" + folder + "/p\xE2\x80\x9Age.html", "");
  ASSERT_EQ(Find(), StartPageStatus::kOk);
  EXPECT_EQ(page_.title, "caf\xC3\xA9  -  Morva");
  EXPECT_EQ(page_.launcher_path, testing::Native(content_ + "/" + launcher));
  EXPECT_EQ(page_.start_address, testing::Native(content_ + "/" + page));
  EXPECT_EQ(page_.width, 640);

  // The exact name wins over AUTORUN.INF, and a name that nothing has stays
  // as written, for the messages.
  WriteAutorun("Missing.html");
  EXPECT_EQ(Find(), StartPageStatus::kNoLauncher);
  EXPECT_EQ(page_.launcher_path, testing::Native(content_ + "/Missing.html"));
}

TEST_F(StartPageTest, QueryOrFragmentWhenNoFileHasTheWholeName) {
  WriteAutorun("t.html");
  const auto page_for = [&](const std::string& name) {
    WriteLauncher("t.html", "javascript:window.open('" + name +
                                "','w','left=0,width=1,height=2'");
    EXPECT_EQ(Find(), StartPageStatus::kOk);
    return page_.start_address.substr(content_.size() + 1) + " | " +
           page_.page_file.substr(content_.size() + 1);
  };
  // A file system that ignores letter case finds the names as written.
  const bool blind = kFileSystemIgnoresCase;
  folder_.Write("work/content/Page.html", "");
  EXPECT_EQ(page_for("page.html?scene=2"),
            blind ? "page.html?scene=2 | page.html"
                  : "Page.html?scene=2 | Page.html");
  EXPECT_EQ(page_for("Page.html#x%20y"), "Page.html#x y | Page.html");
  folder_.Write("work/content/a#b.html", "");
  EXPECT_EQ(page_for("a#b.html"), "a#b.html | a#b.html");
  EXPECT_EQ(page_for("A#B.html?v=1"),
            blind ? "A#B.html?v=1 | A#B.html" : "a#b.html?v=1 | a#b.html");
  EXPECT_EQ(page_for("none.html?x"), "none.html?x | none.html?x");
}

// A package names its pages itself; none of them may lead the player to a
// file of the user's, whatever the path does on the way.
TEST_F(StartPageTest, NothingOutsideTheWorkFolderIsReadOrShown) {
  folder_.Write("outside/x.html", kCall);
  folder_.Write("work2/x.html", kCall);  // the work folder's name and more
  WriteAutorun("Tour.html");
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink((folder_.path() + "/outside").c_str(),
                      (content_ + "/link").c_str()),
              0);
  }
  const auto through_link = [](std::string_view page) {
    return !kCanPlantLinks && page.starts_with("link/");
  };
  struct Case {
    const char* page;
    StartPageStatus status;
  } pages[] = {
      {"../../outside/x.html", StartPageStatus::kPageOutside},
      {"..\\..\\outside\\x.html", StartPageStatus::kPageOutside},
      {"../../work2/x.html", StartPageStatus::kPageOutside},
      {"link/x.html", StartPageStatus::kPageOutside},
      {"../../../../../../../../../../etc/passwd",
       StartPageStatus::kPageOutside},
      {"sub/../../../outside/x.html", StartPageStatus::kPageOutside},
      // Up to the work folder's top is still the tour's own.
      {"../top.html", StartPageStatus::kOk},
      {"sub/./../%2e%2e/x.html", StartPageStatus::kOk},
  };
  for (const Case& c : pages) {
    if (through_link(c.page)) continue;
    SCOPED_TRACE(c.page);
    WriteLauncher("Tour.html", "javascript:window.open('"s + c.page +
                                   "','w','left=0,width=1,height=2'");
    EXPECT_EQ(Find(), c.status);
    EXPECT_EQ(page_.title, "Tour  -  Morva");
  }

  // The launcher is not even read: /dev/zero would never end.
  for (const char* launcher :
       {"../../outside/x.html", "link/x.html", "../../work2/x.html",
        "../../../../../../../../../../dev/./zero"}) {
    if (through_link(launcher)) continue;
    SCOPED_TRACE(launcher);
    WriteAutorun(launcher);
    EXPECT_EQ(Find(), StartPageStatus::kLauncherOutside);
    EXPECT_EQ(page_.start_address, "");
  }
}

// The pop-up call search on text in memory.
struct Popup {
  bool matched = false;
  std::string page;
  int32_t width = -1;
  int32_t height = -1;
};
Popup Match(std::string_view text) {
  Popup p;
  p.matched = MatchPopupCall(text, &p.page, &p.width, &p.height);
  return p;
}

TEST(MatchPopupCallTest, TakesPageAndSize) {
  Popup p = Match(kCall);
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "A%20B.html");
  EXPECT_EQ(p.width, 800);
  EXPECT_EQ(p.height, 600);

  p = Match("javascript:window.open('x','y','left=0,width=0800,height=0'");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.width, 800);
  EXPECT_EQ(p.height, 0);
}

TEST(MatchPopupCallTest, IgnoresCaseButGroupsKeepIt) {
  Popup p = Match(
      "JAVASCRIPT:WINDOW.OPEN('Tour%20Page.HTML','_BLANK','LEFT=0,WIDTH=1024,"
      "HEIGHT=768')");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "Tour%20Page.HTML");
  EXPECT_EQ(p.width, 1024);
  EXPECT_EQ(p.height, 768);
  // Only A-Z fold: a Latin-1 capital is not its small letter.
  EXPECT_TRUE(
      Match("javascript:window.open('a','b',' wIdth=1,heigHt=2'").matched);
  EXPECT_FALSE(Match("javascript:window.open('a','b','w\xCD"
                     "dth=1,height=2'")
                   .matched);
}

TEST(MatchPopupCallTest, ExactPunctuationRequired) {
  EXPECT_FALSE(
      Match("javascript:window.open('a.html', 'x', 'left=0,width=1,height=2'")
          .matched);
  EXPECT_FALSE(
      Match("javascript:window.open('a.html','','left=0,width=1,height=2'")
          .matched);
  EXPECT_FALSE(
      Match("javascript:window.open('','x','left=0,width=1,height=2'").matched);
  EXPECT_FALSE(Match("javascript:window.open(\"a.html\",\"x\",\"left=0,width=1,"
                     "height=2\")")
                   .matched);
  // Something must stand between the width and height=, but the features
  // may start with width=.
  EXPECT_FALSE(
      Match("javascript:window.open('a.html','x',',width=1height=2'").matched);
  EXPECT_TRUE(
      Match("javascript:window.open('a.html','x',',width=1,height=2'").matched);
  Popup p = Match(
      "javascript:window.open('A%20B.html','_blank','width=800,height=600')");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "A%20B.html");
  EXPECT_EQ(p.width, 800);
  EXPECT_EQ(p.height, 600);
  // Digits on both sides, and the apostrophe right after the height.
  EXPECT_FALSE(
      Match("javascript:window.open('a.html','x',',width=,height=2'").matched);
  EXPECT_FALSE(
      Match("javascript:window.open('a.html','x',',width=1,height=2)").matched);
  EXPECT_FALSE(Match("javascript:window.open('a.html','x',',width=1,height=2 '")
                   .matched);
}

TEST(MatchPopupCallTest, GreedyRunsTakeTheLastSizeThatFits) {
  // Two copies of the call: the page from the first, the size from the last.
  Popup p = Match(
      "javascript:window.open('first.html','a','left=0,width=1,height=2')"
      "<p>javascript:window.open('second.html','b','left=0,width=3,height=4')");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "first.html");
  EXPECT_EQ(p.width, 3);
  EXPECT_EQ(p.height, 4);

  // A later width= with no height after it, and a later height= not followed
  // by digits and an apostrophe, are given back.
  p = Match(
      "javascript:window.open('p.html','a','left=0,width=1,height=2') width=5 "
      "height=6) height=7x'");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.width, 1);
  EXPECT_EQ(p.height, 2);

  // The start is leftmost even when an earlier call cannot complete alone.
  p = Match(
      "javascript:window.open('early.html','a','x') "
      "javascript:window.open('late.html','b','left=0,width=9,height=8')");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "early.html");
  EXPECT_EQ(p.width, 9);
}

// The features before "width=" may now be none. Every text the pattern with
// a run of one or more matched must give the same groups as before: checked
// against that pattern on texts built from the call's own pieces.
TEST(MatchPopupCallTest, AnEmptyRunBeforeTheWidthChangesNoEarlierMatch) {
  RE2::Options options;
  options.set_encoding(RE2::Options::EncodingLatin1);
  const RE2 before(
      R"(javascript:window\.open\('([^']+)','[^']+','.+width=(\d+).+height=(\d+)')",
      options);
  ASSERT_TRUE(before.ok());
  // Calls with their pieces shuffled, dropped or repeated, then the text
  // around them: "width=" right after "','" in about half of them.
  const std::vector<std::string> call = {"javascript:window.open('",
                                         "a",
                                         "','",
                                         "b",
                                         "','",
                                         "",
                                         "width=",
                                         "1",
                                         ",",
                                         "height=",
                                         "23",
                                         "'"};
  const std::vector<std::string> noise = {
      "'", "','", "width=", "height=", "4", ",", "x", ""};
  std::mt19937 random(13);
  int earlier_matches = 0, new_matches = 0;
  for (int i = 0; i < 100000; ++i) {
    std::string text;
    for (int copy = 0; copy < 1 + static_cast<int>(random() % 2); ++copy) {
      for (const std::string& piece : call) {
        const unsigned roll = random() % 8;
        text += roll == 0 ? noise[random() % noise.size()] : piece;
        if (roll == 1) text += noise[random() % noise.size()];
      }
    }
    std::string page, width, height;
    const bool matched_before =
        RE2::PartialMatch(text, before, &page, &width, &height);
    const Popup now = Match(text);
    new_matches += now.matched;
    if (!matched_before) continue;
    ++earlier_matches;
    ASSERT_TRUE(now.matched) << text;
    EXPECT_EQ(now.page, page) << text;
    EXPECT_EQ(std::to_string(now.width), width) << text;
    EXPECT_EQ(std::to_string(now.height), height) << text;
  }
  // Enough cases on both sides to mean something.
  EXPECT_GT(earlier_matches, 1000);
  EXPECT_GT(new_matches, earlier_matches);
}

TEST(MatchPopupCallTest, AnyByteButTheEndMatchesTheRuns) {
  Popup p = Match(
      "javascript:window.open('p.html','a','\r\x01\xff width=1\r\x80height=2'");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.width, 1);
  EXPECT_EQ(p.height, 2);
  p = Match(
      "javascript:window.open('p\xe9\r.html','\xff','left=0,width=1,height=2'");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "p\xe9\r.html");
}

TEST(MatchPopupCallTest, SizeMustFitInt32) {
  for (const char* text :
       {"javascript:window.open('a','b','left=0,width=99999999999,height=2'",
        "javascript:window.open('a','b','left=0,width=1,height=2147483648'"}) {
    std::string page;
    int32_t width, height;
    bool too_large = false;
    EXPECT_FALSE(MatchPopupCall(text, &page, &width, &height, &too_large));
    EXPECT_TRUE(too_large) << text;
  }
  std::string page;
  int32_t width, height;
  bool too_large = true;
  EXPECT_FALSE(MatchPopupCall("no call", &page, &width, &height, &too_large));
  EXPECT_FALSE(too_large);
  Popup p = Match(
      "javascript:window.open('a','b','left=0,width=2147483647,height=1'");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.width, 2147483647);
}

TEST(MatchPopupCallTest, LongSingleLinePage) {
  // Engines that recurse per character overflow the stack here.
  std::string filler;
  while (filler.size() < 5 * 1024 * 1024) {
    filler += "<td class=\"x\">javascript:window.open('a','b','height=1 width=";
  }
  EXPECT_FALSE(Match(filler).matched);
  Popup p = Match("javascript:window.open('p.html','b','left=0,width=7" +
                  filler + "height=8'");
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.page, "p.html");
  EXPECT_EQ(p.width, 7);
  EXPECT_EQ(p.height, 8);
}

class ReadLauncherTextTest : public ::testing::Test {
 protected:
  std::string Read(std::string_view bytes) {
    std::string text = "stale";
    EXPECT_TRUE(ReadLauncherText(folder_.Write("l.html", bytes), &text));
    return text;
  }
  testing::ScopedTempDir folder_;
};

TEST_F(ReadLauncherTextTest, JoinsLinesAsTextModeReads) {
  EXPECT_EQ(Read("a\r\nb\nc\rd\r\r\ne\r"), "abc\rd\re\r");
  EXPECT_EQ(Read(""), "");
  // A CR and its LF split across reads still go together.
  std::string before(65535, 'x');
  EXPECT_EQ(Read(before + "\r\ny"), before + "y");
  EXPECT_EQ(Read(before + "\ry"), before + "\ry");
}

TEST_F(ReadLauncherTextTest, CtrlZAndNulEndTheText) {
  EXPECT_EQ(Read("ab\r\ncd\x1a"
                 "ef\r\ngh"),
            "abcd");
  EXPECT_EQ(Read("ab\r\x1a\n"), "ab\r");
  EXPECT_EQ(Read("ab\0cd\r\nef"s), "ab");
}

TEST_F(ReadLauncherTextTest, MissingFile) {
  std::string text = "stale";
  EXPECT_FALSE(ReadLauncherText(folder_.path() + "/absent.html", &text));
  EXPECT_EQ(text, "");
}

TEST_F(ReadLauncherTextTest, MatchesAcrossJoinedLines) {
  Popup p = Match(Read(
      "<a href=\"javascript:window.open('p.html',\r\n'w','left=0,width=640,\r\n"
      "height=480')\">"));
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.width, 640);
  EXPECT_EQ(p.height, 480);

  // A lone CR stays in the text and the runs match it.
  p = Match(Read("javascript:window.open('p.html','w','\rwidth=1\rheight=2'"));
  ASSERT_TRUE(p.matched);
  EXPECT_EQ(p.height, 2);

  // After 0x1A or NUL nothing counts.
  EXPECT_FALSE(
      Match(
          Read("javascript:window.open('p.html','w','left=0,width=1,height=\x1a"
               "2'"))
          .matched);
  EXPECT_FALSE(
      Match(
          Read(
              "javascript:window.open('p.html','w','left=0,width=1,\0height=2'"s))
          .matched);
}

}  // namespace
}  // namespace morva
