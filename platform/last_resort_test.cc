#include "platform/last_resort.h"

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using Tree = std::vector<std::string>;

bool Remember(const std::string& path, const char* last = nullptr) {
  FileInfo info;
  return RealFiles()->StatAt(kCurrentFolder, path, &info, false) == 0 &&
         RememberForLastResort(path, info, last);
}

TEST(LastResortTest, RemovesWhatWasMadeAndNothingThatTookItsPlace) {
  testing::ScopedTempDir tmp;
  // A folder as a run leaves it: read-only parts, a link to a folder that
  // must stay, a proof to go last.
  tmp.Write("made/owner", "proof");
  tmp.Write("made/cache/deep/file", "x");
  tmp.Write("made/readonly", "x");
  ASSERT_EQ(chmod(tmp.Join("made/readonly").c_str(), 0444), 0);
  ASSERT_EQ(chmod(tmp.Join("made/cache/deep").c_str(), 0555), 0);
  tmp.Write("outside/keep", "x");
  if (kCanPlantLinks) {
    ASSERT_EQ(
        symlink(tmp.Join("outside").c_str(), tmp.Join("made/link").c_str()), 0);
  }
  tmp.Write("archive", "zip");
  ASSERT_TRUE(Remember(tmp.Join("made"), "owner"));
  ASSERT_TRUE(Remember(tmp.Join("archive")));
  // Made and moved away; another object has the name now.
  tmp.Write("swapped/keep", "x");
  ASSERT_TRUE(Remember(tmp.Join("swapped")));
  ASSERT_EQ(rename(tmp.Join("swapped").c_str(), tmp.Join("away").c_str()), 0);
  tmp.Write("swapped/theirs", "x");
  // Removed by the normal cleanup and forgotten.
  tmp.Write("forgotten/keep", "x");
  ASSERT_TRUE(Remember(tmp.Join("forgotten")));
  ForgetForLastResort(tmp.Join("forgotten"));

  RemoveRememberedNow();
  EXPECT_EQ(ListTree(tmp.path()),
            (Tree{"away/", "away/keep", "forgotten/", "forgotten/keep",
                  "outside/", "outside/keep", "swapped/", "swapped/theirs"}));
  // Everything was forgotten as it went: a second call touches nothing.
  tmp.Write("archive", "someone else's");
  RemoveRememberedNow();
  EXPECT_TRUE(testing::Exists(tmp.Join("archive")));
}

}  // namespace
}  // namespace morva
