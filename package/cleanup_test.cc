#include "package/cleanup.h"

#include <cerrno>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/faulty_files.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::Exists;
using testing::WriteFile;

// Keeps the current folder across a test: the removal moves it.
class CleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = AbsolutePath(".");
    ASSERT_EQ(RealFiles()->SetCurrentFolder(tmp_.path()), 0);
  }
  void TearDown() override {
    EXPECT_EQ(RealFiles()->SetCurrentFolder(cwd_), 0);
  }
  std::string Cwd() {
    char buf[4096];
    return getcwd(buf, sizeof buf) ? buf : "";
  }
  void MakeDir(const std::string& rel, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(tmp_.Join(rel).c_str(), mode), 0) << rel;
  }

  testing::ScopedTempDir tmp_;
  std::string cwd_;
};

TEST_F(CleanupTest, RemovesADeepTreeWithReadOnlyFilesAndFolders) {
  MakeDir("w");
  MakeDir("w/_flash");
  MakeDir("w/_flash/a");
  MakeDir("w/_flash/a/b");
  WriteFile(tmp_.Join("w/_flash/a/b/deep.txt"), "x");
  WriteFile(tmp_.Join("w/readonly.txt"), "x");
  ASSERT_EQ(chmod(tmp_.Join("w/readonly.txt").c_str(), 0444), 0);
  WriteFile(tmp_.Join("w/.hidden"), "x");
  MakeDir("w/locked");
  WriteFile(tmp_.Join("w/locked/f"), "x");
  ASSERT_EQ(chmod(tmp_.Join("w/locked").c_str(), 0555), 0);
  // A long name: nothing is cut at any fixed buffer size.
  WriteFile(tmp_.Join("w/" + std::string(250, 'n')), "x");

  // Start somewhere deep, so the walk up by one level per folder is visible.
  MakeDir("d1");
  MakeDir("d1/d2");
  MakeDir("d1/d2/d3");
  MakeDir("d1/d2/d3/d4");
  MakeDir("d1/d2/d3/d4/d5");
  MakeDir("d1/d2/d3/d4/d5/d6");
  ASSERT_EQ(chdir(tmp_.Join("d1/d2/d3/d4/d5/d6").c_str()), 0);

  EXPECT_TRUE(DeleteDirTree(tmp_.Join("w")));
  EXPECT_FALSE(Exists(tmp_.Join("w")));
  // Five folders removed: w, _flash, a, b and locked.
  EXPECT_EQ(Cwd(), tmp_.Join("d1")) << "one level up per folder removed";
}

TEST_F(CleanupTest, NeverFollowsLinks) {
  SKIP_WITHOUT_LINKS();
  MakeDir("outside");
  WriteFile(tmp_.Join("outside/keep.txt"), "precious");
  MakeDir("w");
  ASSERT_EQ(symlink(tmp_.Join("outside").c_str(), tmp_.Join("w/link").c_str()),
            0);
  ASSERT_EQ(symlink(tmp_.Join("outside/keep.txt").c_str(),
                    tmp_.Join("w/filelink").c_str()),
            0);
  EXPECT_TRUE(DeleteDirTree(tmp_.Join("w")));
  EXPECT_FALSE(Exists(tmp_.Join("w")));
  EXPECT_EQ(testing::ReadFile(tmp_.Join("outside/keep.txt")), "precious");

  // The folder itself a link: nothing below its target is touched.
  ASSERT_EQ(symlink(tmp_.Join("outside").c_str(), tmp_.Join("w2").c_str()), 0);
  EXPECT_FALSE(DeleteDirTree(tmp_.Join("w2")));
  EXPECT_EQ(testing::ReadFile(tmp_.Join("outside/keep.txt")), "precious");
}

TEST_F(CleanupTest, AFileThatCannotGoKeepsItsFoldersAndTheRestGoes) {
  MakeDir("w");
  MakeDir("w/a");
  MakeDir("w/a/b");
  WriteFile(tmp_.Join("w/a/b/stuck.bin"), "x");
  WriteFile(tmp_.Join("w/a/b/other.bin"), "x");
  WriteFile(tmp_.Join("w/a/free.bin"), "x");
  MakeDir("w/c");
  WriteFile(tmp_.Join("w/c/f"), "x");
  // As a file held open elsewhere would be on some systems.
  testing::FaultyFiles sticky;
  sticky.RefuseUnlink(testing::Named("stuck.bin"));
  {
    ScopedFileSystem scope(&sticky);
    EXPECT_FALSE(DeleteDirTree(tmp_.Join("w")));
  }
  EXPECT_EQ(ListTree(tmp_.Join("w")),
            (std::vector<std::string>{"a/", "a/b/", "a/b/stuck.bin"}));
}

TEST_F(CleanupTest, RemoveTreeTakesAnythingAndLeavesTheCurrentFolder) {
  MakeDir("w");
  MakeDir("w/sub");
  WriteFile(tmp_.Join("w/sub/readonly.txt"), "x");
  ASSERT_EQ(chmod(tmp_.Join("w/sub/readonly.txt").c_str(), 0444), 0);
  ASSERT_EQ(chmod(tmp_.Join("w/sub").c_str(), 0555), 0);
  MakeDir("outside");
  WriteFile(tmp_.Join("outside/keep.txt"), "precious");
  if (kCanPlantLinks) {
    ASSERT_EQ(
        symlink(tmp_.Join("outside").c_str(), tmp_.Join("w/link").c_str()), 0);
  }
  MakeDir("w/sub2");
  // Where the system lets no one remove it, the current folder stands
  // beside the tree.
  ASSERT_EQ(
      chdir(tmp_.Join(kCanRemoveCurrentFolder ? "w/sub2" : "outside").c_str()),
      0);
  auto current_folder = [] {
    struct stat st {};
    stat(".", &st);
    return st.st_ino;
  };
  const ino_t here = current_folder();

  // Something that stays is reported, and the rest goes.
  testing::FaultyFiles sticky;
  sticky.RefuseUnlink(testing::Named("readonly.txt"));
  EXPECT_FALSE(RemoveTree(tmp_.Join("w"), &sticky));
  EXPECT_EQ(ListTree(tmp_.Join("w")),
            (std::vector<std::string>{"sub/", "sub/readonly.txt"}));
  EXPECT_EQ(current_folder(), here)
      << "the current folder stays where it was, removed or not";

  EXPECT_TRUE(RemoveTree(tmp_.Join("w")));
  EXPECT_FALSE(Exists(tmp_.Join("w")));
  EXPECT_EQ(testing::ReadFile(tmp_.Join("outside/keep.txt")), "precious");
  EXPECT_TRUE(RemoveTree(tmp_.Join("w"))) << "nothing there is no failure";
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink(tmp_.Join("outside").c_str(), tmp_.Join("l").c_str()), 0);
    EXPECT_TRUE(RemoveTree(tmp_.Join("l")));
  }
  EXPECT_TRUE(RemoveTree(tmp_.Join("outside/keep.txt")));
  EXPECT_EQ(ListTree(tmp_.path()), (std::vector<std::string>{"outside/"}));
}

TEST_F(CleanupTest, RemoveLaunchFilesTakesExactlyWhatTheLaunchMade) {
  MakeDir("QZ1.tmp");
  MakeDir("QZ1.tmp/_flash");
  MakeDir("QZ1.tmp/_flash/player");
  WriteFile(tmp_.Join("QZ1.tmp/_flash/player/qzviewer.swf"), "x");
  WriteFile(tmp_.Join("QZ1.tmp/top.html"), "x");
  WriteFile(tmp_.Join("QZ2.tmp"), "archive");
  WriteFile(tmp_.Join("unrelated"), "x");
  RemoveLaunchFiles(tmp_.Join("QZ1.tmp"), tmp_.Join("QZ2.tmp"));
  EXPECT_EQ(tmp_.List(), (std::vector<std::string>{"unrelated"}));
  // No work folder: nothing removed but the archive guard.
  WriteFile(tmp_.Join("QZ3.tmp"), "archive");
  RemoveLaunchFiles("", tmp_.Join("QZ3.tmp"));
  RemoveLaunchFiles("", "");
  EXPECT_EQ(tmp_.List(), (std::vector<std::string>{"unrelated"}));
}

}  // namespace
}  // namespace morva
