#include "package/temp_folder.h"

#include <cstdlib>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/faulty_files.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

TEST(ScopedTempFolderTest, HoldsTmpdirAndTheCurrentFolderAndLeavesNothing) {
  testing::ScopedTempDir outer;
  const std::string before = AbsolutePath(".");
  std::string path;
  {
    // A file system that refuses every removal is installed while the
    // folder lives: its own removal does not go through it.
    testing::FaultyFiles stuck;
    stuck.RefuseUnlink([](const std::string&) { return true; });
    ScopedFileSystem scope(&stuck);
    ScopedTempFolder folder(outer.path(), "pre-");
    ASSERT_TRUE(folder.ok()) << folder.error();
    path = folder.path();
    EXPECT_EQ(path.rfind(testing::Native(outer.path() + "/pre-"), 0), 0u)
        << path;
    EXPECT_EQ(TempFolder(), path);
    testing::ExpectPrivate(path, 0700);

    testing::WriteFile(folder.Join("b"), "x");
    ASSERT_EQ(mkdir(folder.Join("a").c_str(), 0500), 0);
    EXPECT_EQ(folder.List(), (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(chdir(folder.Join("a").c_str()), 0);
  }
  EXPECT_FALSE(testing::Exists(path));
  EXPECT_EQ(TempFolder(), outer.path());
  EXPECT_EQ(AbsolutePath("."), before);

  ScopedTempFolder nowhere(outer.Join("missing"), "pre-");
  EXPECT_FALSE(nowhere.ok());
  EXPECT_NE(nowhere.error().find("No such file or directory"),
            std::string::npos)
      << nowhere.error();
  EXPECT_EQ(TempFolder(), outer.path());
}

}  // namespace
}  // namespace morva
