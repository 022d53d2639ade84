#include "package/paths.h"

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/test_util.h"

namespace morva {
namespace {

TEST(PathPartsTest, SplitAtTheLastSeparator) {
  EXPECT_EQ(GetDirPart("/a/b.txt"), "/a");
  EXPECT_EQ(GetDirPart("/a/"), "/a");
  EXPECT_EQ(GetDirPart("b.txt"), "");
  EXPECT_EQ(GetFileNamePart("/a/b.txt"), "b.txt");
  EXPECT_EQ(GetFileNamePart("/a/"), "");
  EXPECT_EQ(GetFileNamePart("f.txt"), "f.txt");
}

TEST(CreateDirPathTest, CreatesEveryMissingFolderOutermostFirst) {
  testing::ScopedTempDir tmp;
  EXPECT_EQ(CreateDirPath(tmp.Join("a/b/c")), 1);
  EXPECT_EQ(ListTree(tmp.path()),
            (std::vector<std::string>{"a/", "a/b/", "a/b/c/"}));
  EXPECT_EQ(CreateDirPath(tmp.Join("a/b")), 1) << "existing folder";
  EXPECT_EQ(CreateDirPath(""), 0) << "nothing to create";
  testing::WriteFile(tmp.Join("file"), "x");
  EXPECT_EQ(CreateDirPath(tmp.Join("file/sub")), 0) << "a file in the way";
}

TEST(NormalizeEntryNameTest, BothSlashesSeparateAndEscapesAreRefused) {
  std::string rel;
  ASSERT_TRUE(NormalizeEntryName("_flash\\scenes/a.jpg", &rel));
  EXPECT_EQ(rel, testing::Native("_flash/scenes/a.jpg"));
  ASSERT_TRUE(NormalizeEntryName("dir/", &rel));
  EXPECT_EQ(rel, testing::Native("dir/"));
  for (const char* ok : {"..a", "a..", "a/..b/c", "./a", "a/.../b"}) {
    EXPECT_TRUE(NormalizeEntryName(ok, &rel)) << ok;
  }
  for (const char* bad : {"../x", "a/../../x", "/abs", "\\abs", "C:\\x", "c:x",
                          "a\\..\\..\\x", "..", "a/..", "a/../b"}) {
    EXPECT_FALSE(NormalizeEntryName(bad, &rel)) << bad;
  }
  // Devices and streams: refused where the system would open them instead
  // of a file of the work folder, ordinary names elsewhere.
#ifdef _WIN32
  constexpr bool kRefused = true;
#else
  constexpr bool kRefused = false;
#endif
  for (const char* name : {"aux.js", "a/CON", "Nul .txt/x", "a/b.txt:hidden",
                           "lpt1", "x/com9.png"}) {
    EXPECT_EQ(NormalizeEntryName(name, &rel), !kRefused) << name;
  }
}

}  // namespace
}  // namespace morva
