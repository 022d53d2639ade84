// The proof of ownership and the sweep, on real folders: players killed in
// child processes, live ones, and look-alikes planted the way a
// careless program or another user of /tmp could.
#include "package/stale.h"

#include <algorithm>
#include <chrono>

#include "app/null_window.h"
#include "app/preview_dlg.h"
#include "gtest/gtest.h"
#include "package/paths.h"
#include "package/private_folder.h"
#include "package/temp_zip.h"
#include "platform/files.h"
#include "platform/path.h"
#include "tests/faulty_files.h"
#include "tests/killed_player.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::ScopedTempDir;
using Tree = std::vector<std::string>;

constexpr auto kNoDeadline = std::chrono::hours(1);

std::string TourExe(const ScopedTempDir& tmp) {
  testing::ZipWriter zip;
  zip.AddDir("_flash/")
      .AddFile("_flash/qzviewer.swf", "FWS")
      .AddFile("_flash/autorun.inf", "[autorun]\r\nshellexecute=Tour.html\r\n")
      .AddFile("_flash/Tour.html",
               "javascript:window.open('Page.html','_blank','width=640,"
               "height=480')")
      .AddFile("_flash/Page.html", "<html>tour</html>")
      .AddFile("_flash/scenes/s1.jpg", std::string(300000, 'j'));
  return tmp.Write("tour.exe",
                   testing::AppendPackage("MZ", zip.Bytes(tmp.path())));
}

// An owner file's text that lists the objects at `paths` as they are now.
std::string OwnerText(const std::vector<std::string>& paths) {
  std::string text = kOwnerHeader;
  for (const std::string& path : paths) {
    struct stat st;
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    text += path.substr(path.rfind('/') + 1) + " " + std::to_string(st.st_dev) +
            " " + std::to_string(st.st_ino) + "\n";
  }
  return text;
}

// Names in the folder that start with prefix and are not in `known`.
Tree NewNames(const ScopedTempDir& tmp, const std::string& prefix,
              const Tree& known) {
  Tree found;
  for (const std::string& name : tmp.List()) {
    if (name.rfind(prefix, 0) == 0 &&
        std::find(known.begin(), known.end(), name) == known.end()) {
      found.push_back(name);
    }
  }
  return found;
}

// Drops every path of `tree` below (or at) the top-level name.
Tree Without(Tree tree, const std::string& name) {
  std::erase_if(tree, [&](const std::string& path) {
    return path == name || path == name + "/" || path.rfind(name + "/", 0) == 0;
  });
  return tree;
}

StaleReport Sweep(const std::string& folder) {
  const std::atomic<bool> stop{false};
  return SweepStale(folder, Files(), stop,
                    std::chrono::steady_clock::now() + kNoDeadline);
}

TEST(StaleTest, AKilledPlayersFoldersAreFoundThenSweptAndNothingElse) {
  ScopedTempDir tmp;
  const std::string tour = TourExe(tmp);
  // Look-alikes, each forging a proof that names the same victim: a folder
  // that merely matches "QZ*.tmp".
  tmp.Write("QZ00000001.tmp/keep", "x");
  const std::string forged = OwnerText({tmp.Join("QZ00000001.tmp")});
  tmp.Write("QZP00000002.tmp/owner", "no header\n");
  ASSERT_EQ(chmod(tmp.Join("QZP00000002.tmp").c_str(), 0700), 0);
  if (kCanOpenFoldersToOthers) {
    tmp.Write("QZP00000003.tmp/owner", forged);  // a folder open to others
    ASSERT_EQ(chmod(tmp.Join("QZP00000003.tmp").c_str(), 0755), 0);
  }
  tmp.Write("QZ00000004.tmp/owner", forged);  // a marker in a work folder
  tmp.Write("elsewhere/owner", forged);
  ASSERT_EQ(chmod(tmp.Join("elsewhere").c_str(), 0700), 0);
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink("elsewhere", tmp.Join("QZP00000005.tmp").c_str()), 0);
  }
  const Tree planted = tmp.List();

  ASSERT_TRUE(testing::LaunchAndKill(tour));
  const Tree private_folders = NewNames(tmp, "QZP", planted);
  ASSERT_EQ(private_folders.size(), 1u) << ::testing::PrintToString(tmp.List());
  Tree known = planted;
  known.push_back(private_folders[0]);
  const Tree work_folders = NewNames(tmp, "QZ", known);
  ASSERT_EQ(work_folders.size(), 1u) << ::testing::PrintToString(tmp.List());
  const std::string work = work_folders[0];
  EXPECT_TRUE(testing::Exists(tmp.Join(work + "/_flash/scenes/s1.jpg")));
  EXPECT_TRUE(testing::Exists(tmp.Join(private_folders[0] + "/owner")));
  // A link inside the stale work folder, to a folder that must stay.
  tmp.Write("victim/keep", "x");
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink(tmp.Join("victim").c_str(),
                      tmp.Join(work + "/_flash/escape").c_str()),
              0);
  }

  const Tree before = ListTree(tmp.path());
  const StaleReport found = FindStale(tmp.path(), Files());
  EXPECT_EQ(found.players, 1);
  EXPECT_EQ(found.folders, 2);
  EXPECT_EQ(found.files, 0);
  EXPECT_GE(found.bytes, 300000u);
  EXPECT_EQ(ListTree(tmp.path()), before) << "finding touches nothing";

  const StaleReport swept = Sweep(tmp.path());
  EXPECT_EQ(swept.players, 1);
  EXPECT_EQ(swept.folders, 2);
  EXPECT_EQ(ListTree(tmp.path()),
            Without(Without(before, work), private_folders[0]));
  EXPECT_EQ(FindStale(tmp.path(), Files()).players, 0);
}

TEST(StaleTest, LiveForeignAndReplacedFoldersStay) {
  ScopedTempDir tmp;
  const std::string tour = TourExe(tmp);
  // A live player: this process holds the lock, and its work folder is
  // claimed the way the launch claims it.
  PrivateFolder live(tmp.path());
  ASSERT_TRUE(live.ok()) << live.error();
  std::string live_work;
  {
    ClaimingFiles claiming(RealFiles(), &live, nullptr);
    ScopedFileSystem scope(&claiming);
    live_work = MakeTempFileName();
    ASSERT_TRUE(RemoveFile(live_work));
    ASSERT_TRUE(MakeFolder(live_work, 0700));
  }
  testing::WriteFile(live_work + "/page.html", "live");

  // Another user's stale folders: left alone, also by the next player's own
  // sweep. Changing the owner needs root; otherwise that part is skipped.
  Tree foreign;
  const bool root = geteuid() == 0;
  if (root) {
    Tree known = tmp.List();
    ASSERT_TRUE(testing::LaunchAndKill(tour));
    foreign = NewNames(tmp, "QZ", known);
    ASSERT_EQ(foreign.size(), 2u);
    for (const std::string& name : foreign) {
      ASSERT_EQ(lchown(tmp.Join(name).c_str(), 65534, 65534), 0);
    }
  }

  // A stale player whose work folder was moved away, and swapped for a link
  // meanwhile.
  Tree known = tmp.List();
  ASSERT_TRUE(testing::LaunchAndKill(tour));
  const Tree left = NewNames(tmp, "QZ", known);
  ASSERT_EQ(left.size(), 2u) << ::testing::PrintToString(tmp.List());
  const std::string work = left[0].rfind("QZP", 0) == 0 ? left[1] : left[0];
  ASSERT_EQ(rename(tmp.Join(work).c_str(), tmp.Join("moved").c_str()), 0);
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink(tmp.Join("moved").c_str(), tmp.Join(work).c_str()), 0);
  }

  const Tree before = ListTree(tmp.path());
  EXPECT_EQ(FindStale(tmp.path(), Files()).players, 1);
  EXPECT_EQ(Sweep(tmp.path()).players, 1);
  Tree expected = before;
  for (const std::string& name : left) expected = Without(expected, name);
  EXPECT_EQ(ListTree(tmp.path()), expected)
      << "the link is removed as a link; what it points to stays";
  for (const std::string& name : foreign) {
    EXPECT_TRUE(testing::Exists(tmp.Join(name))) << name;
  }
  EXPECT_TRUE(testing::Exists(live_work + "/page.html"));
}

// Below the launch's file system: the run is ending from the moment the
// work folder exists.
class EndWhenWorkFolderIsMade : public FileSystemWrapper {
 public:
  EndWhenWorkFolderIsMade(FileSystem* target, std::string temp_folder)
      : FileSystemWrapper(target), temp_folder_(std::move(temp_folder)) {}
  int MakeFolderAt(FileHandle dir_fd, const std::string& path,
                   uint32_t mode) override {
    const int rc = target()->MakeFolderAt(dir_fd, path, mode);
    if (rc == 0 && path.rfind(JoinPath(temp_folder_, "QZ"), 0) == 0)
      ending = true;
    return rc;
  }
  bool ending = false;

 private:
  std::string temp_folder_;
};

TEST(StaleTest, AnEndingRunStopsWritingAndLeavesOnlyItsProof) {
  ScopedTempDir tmp;
  ModuleOverride module(TourExe(tmp));
  EndWhenWorkFolderIsMade spy(&module, tmp.path());
  auto private_folder = std::make_unique<PrivateFolder>(tmp.path());
  ASSERT_TRUE(private_folder->ok());
  ClaimingFiles claiming(&spy, private_folder.get(),
                         [&] { return spy.ending; });
  NullWindow window;
  CPreviewDlg dlg(&window);
  {
    ScopedFileSystem scope(&claiming);
    dlg.DoModal();
  }
  EXPECT_EQ(dlg.launch_stop(), LaunchStop::kUnpack);
  EXPECT_EQ(tmp.List(),
            (Tree{GetFileNamePart(private_folder->path()), "tour.exe"}));
  // The owner file listed the archive and the work folder as they came.
  const std::string owner =
      testing::ReadFile(private_folder->path() + "/owner");
  EXPECT_NE(owner.find(GetFileNamePart(dlg.work_folder()) + " "),
            std::string::npos)
      << owner;
  EXPECT_EQ(std::count(owner.begin(), owner.end(), '\n'), 4) << owner;
  private_folder.reset();
  EXPECT_EQ(tmp.List(), Tree{"tour.exe"});
}

TEST(StaleTest, APrivateFolderThatCannotBeEmptiedKeepsItsProof) {
  ScopedTempDir tmp;
  testing::FaultyFiles faults(RealFiles());
  faults.RefuseUnlink(testing::Named("busy"));
  std::string path;
  {
    ScopedFileSystem scope(&faults);
    PrivateFolder folder(tmp.path());
    ASSERT_TRUE(folder.ok());
    path = folder.path();
    tmp.Write(GetFileNamePart(path) + "/cache/busy", "x");
    tmp.Write(GetFileNamePart(path) + "/cache/other", "x");
  }
  EXPECT_EQ(ListTree(path), (Tree{"cache/", "cache/busy", "owner"}));
  EXPECT_EQ(FindStale(tmp.path(), Files()).players, 1);
  EXPECT_EQ(Sweep(tmp.path()).players, 1);
  EXPECT_EQ(tmp.List(), Tree{});
}

}  // namespace
}  // namespace morva
