#include "platform/windows_names.h"

#include "gtest/gtest.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

class WindowsNamesTest : public ::testing::Test {
 protected:
  std::string Find(std::string_view name) {
    const std::string found = FindPackageFile(tmp_.path(), name);
    return found.empty() ? "<none>" : found.substr(tmp_.path().size() + 1);
  }
  testing::ScopedTempDir tmp_;
};

TEST_F(WindowsNamesTest, LetterCaseIsIgnoredOnlyWhenTheExactNameIsMissing) {
  SKIP_ON_WINDOWS(
      "a folder there holds no two names that differ only in letter case, "
      "and the file system answers the case-blind lookup itself");
  tmp_.Write("Scenes/Page.html", "");
  tmp_.Write("Scenes/page.HTML", "");
  tmp_.Write("Scenes/PAGE.html", "");
  tmp_.Write("scenes/other.html", "");
  // The exact name wins over every other spelling, folder by folder.
  EXPECT_EQ(Find("Scenes/Page.html"), "Scenes/Page.html");
  EXPECT_EQ(Find("Scenes\\page.HTML"), "Scenes/page.HTML");
  // Otherwise the spelling that sorts first by byte value, whatever order the
  // folder lists them in; both folder separators work.
  EXPECT_EQ(Find("SCENES\\page.html"), "Scenes/PAGE.html");
  // No going back: "SCENES" became "Scenes", which has no other.html.
  EXPECT_EQ(Find("SCENES/other.html"), "<none>");
  EXPECT_EQ(Find("scenes/OTHER.HTML"), "scenes/other.html");
  // Only ASCII letters fold; a name in the package code page is looked up
  // in its UTF-8 form, then without regard to case as well.
  tmp_.Write("Caf\xC3\xA9.html", "");
  EXPECT_EQ(Find("Caf\xE9.html"), "Caf\xC3\xA9.html");
  EXPECT_EQ(Find("CAF\xE9.HTML"), "Caf\xC3\xA9.html");
  EXPECT_EQ(Find("CAF\xC9.HTML"), "<none>");  // "É" is no case of "é" here
}

TEST_F(WindowsNamesTest, TheCaseBlindWalkEntersNoLinkAndNoParent) {
  SKIP_WITHOUT_LINKS();
  tmp_.Write("real/page.html", "");
  ASSERT_EQ(symlink("real", tmp_.Join("Linked").c_str()), 0);
  // The exact path is the caller's to judge; the case-blind walk follows
  // neither the link nor "..", so it lists no folder outside the package.
  EXPECT_EQ(Find("Linked/page.html"), "Linked/page.html");
  EXPECT_EQ(Find("linked/page.html"), "<none>");
  EXPECT_EQ(Find("REAL/PAGE.HTML"), "real/page.html");
  EXPECT_EQ(Find("real/../real/page.html"), "real/../real/page.html");
  EXPECT_EQ(Find("real/../REAL/page.html"), "<none>");
  EXPECT_EQ(Find(std::string(5000, 'a')), "<none>");
}

TEST_F(WindowsNamesTest, QueryAndFragmentOnlyWhenNoFileHasTheWholeName) {
  const std::string page = tmp_.Write("Page.html", "");
  const std::string hash = tmp_.Write("a#b.html", "");
  const auto split = [](const std::string& address) {
    return address.substr(FilePartOfAddress(address));
  };
  EXPECT_EQ(split(page), "");
  EXPECT_EQ(split(page + "?scene=2#top"), "?scene=2#top");
  EXPECT_EQ(split(page + "#x?y"), "#x?y");
  EXPECT_EQ(split(hash), "");
  EXPECT_EQ(split(hash + "?x"), "?x");
  EXPECT_EQ(split(tmp_.Join("missing.html?x")), "");
}

TEST(WindowsReservesNameTest, DevicesInAnyDressAndStreams) {
  for (const char* name : {"CON", "con", "nul.txt", "Aux.tar.gz", "PRN  .html",
                           "com1", "COM9.x", "lpt0", "LPT\xC2\xB3", "conin$",
                           "CONOUT$.log", "a:b", "file.txt:ads", ":"}) {
    EXPECT_TRUE(WindowsReservesName(name)) << name;
  }
  for (const char* name :
       {"", "CONS", "icon", "con_", "aux-x.js", "nul2", "com", "com10", "lpt",
        "COM\xC2\xB4", ".con", "x.con", "auxiliary.html", "CON\xC2"}) {
    EXPECT_FALSE(WindowsReservesName(name)) << name;
  }
}

}  // namespace
}  // namespace morva
