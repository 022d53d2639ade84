// The launch under a failing disk: each fault comes from FaultyFiles under
// the real steps, and each test checks the step's result, that the launch
// stops before the window is placed, and what is left on disk after the
// window is destroyed.
#include <cerrno>
#include <thread>

#include "app/preview_dlg.h"
#include "gtest/gtest.h"
#include "package/archive/archive.h"
#include "package/cleanup.h"
#include "package/temp_zip.h"
#include "package/unpack.h"
#include "platform/files.h"
#include "platform/path.h"
#include "tests/faulty_files.h"
#include "tests/recording_window.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::FaultyFiles;
using testing::PathMatch;
using Tree = std::vector<std::string>;

constexpr size_t kBigEntry = 200000;
constexpr char kBigName[] = "_flash/scenes/big.jpg";

// Bytes that deflate cannot shrink, as the scene images of a tour.
std::string Noise(size_t size) {
  std::string out(size, '\0');
  uint32_t seed = 12345;
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

// A package as the packer builds them, with one large scene last.
testing::ZipWriter Package() {
  testing::ZipWriter zip;
  zip.AddDir("_flash/")
      .AddFile("_flash/qzviewer.swf", "FWS")
      .AddFile("_flash/autorun.inf", "[autorun]\r\nshellexecute=Tour.html\r\n")
      .AddFile(
          "_flash/Tour.html",
          "<a href=\"#\" onclick=\"javascript:window.open('Tour%20page.html',"
          "'_blank','status=yes,resizable=yes,top=0,left=0,width=800,"
          "height=600')\">Start</a>")
      .AddFile("_flash/Tour page.html", "<html>tour</html>")
      .AddFile("_flash/scenes/s1.jpg", std::string(5000, 'j'))
      .AddFile(kBigName, Noise(kBigEntry));
  return zip;
}

// The temporary archive and the work folder's placeholder: "QZ....tmp" in
// the temporary folder.
PathMatch TempName(const std::string& folder) {
  return [folder](const std::string& path) {
    return path.rfind(JoinPath(folder, "QZ"), 0) == 0 &&
           path.find(kPathSeparator, folder.size() + 1) == std::string::npos &&
           path.size() > 4 && path.compare(path.size() - 4, 4, ".tmp") == 0;
  };
}

class LaunchFaultTest : public ::testing::Test {
 protected:
  LaunchFaultTest() : exe_(tmp_.Join("tour.exe")), module_(exe_) {
    archive_ = Package().Bytes(tmp_.path());
    testing::WriteFile(exe_, testing::AppendPackage("MZ-player", archive_));
  }

  // Faults over the fake module, so that the launch reads our executable.
  FaultyFiles Faults() { return FaultyFiles(&module_); }

  // The whole launch: initialisation, modal run, destroy. With `shown`, on a
  // window that shows while the copy and the unpack run.
  void Launch(FaultyFiles* faults, bool shown = false) {
    window_ = testing::RecordingWindow();
    if (shown) {
      window_.run_while_shown = [](BackgroundWork* work) {
        work->Run();
        work->Done();
      };
    }
    ScopedFileSystem scope(faults);
    CPreviewDlg dlg(&window_);
    EXPECT_EQ(dlg.DoModal(), 2);
    EXPECT_TRUE(window_.init_result);
  }
  void ExpectStoppedBeforeThePlacement() {
    for (const char* op : {"CenterWindow", "GetClientRect", "MoveChild",
                           "ShowWindow", "SetWindowPos", "Navigate"}) {
      EXPECT_TRUE(window_.CallsStartingWith(op).empty()) << op;
    }
    EXPECT_EQ(window_.calls.back(), "Close");
  }

  // The first two steps on their own, as the launch runs them; then the
  // cleanup the window's destruction runs.
  int Copy(FaultyFiles* faults) {
    ScopedFileSystem scope(faults);
    return CreateTempZip(&zip_path_);
  }
  int Unpack(FaultyFiles* faults) {
    ScopedFileSystem scope(faults);
    return UnpackTempZip(&zip_path_, &content_, &work_, &report_);
  }
  void Cleanup(FaultyFiles* faults) {
    ScopedFileSystem scope(faults);
    RemoveLaunchFiles(work_, zip_path_);
  }

  // The size the package's record of `name` declares (0: no such entry).
  uint32_t DeclaredSize(const std::string& name) {
    ArchivePtr archive(ArchiveOpen(archive_.data(),
                                   static_cast<uint32_t>(archive_.size()),
                                   ArchiveIoKind::ByMemory));
    ArchiveEntry entry;
    if (archive == nullptr ||
        ArchiveGetEntry(archive.get(), -1, &entry) != ArchiveOk)
      return 0;
    for (int32_t i = 0, count = entry.index; i < count; ++i) {
      if (ArchiveGetEntry(archive.get(), i, &entry) == ArchiveOk &&
          name == entry.name)
        return entry.uncompressed_size;
    }
    return 0;
  }

  // Everything in the temporary folder but the executable.
  Tree LeftInTemp() {
    Tree left;
    for (const std::string& p : ListTree(tmp_.path())) {
      if (p != "tour.exe") left.push_back(p);
    }
    return left;
  }

  testing::ScopedTempDir tmp_;
  std::string exe_;
  std::string archive_;
  ModuleOverride module_;
  testing::RecordingWindow window_;
  std::string zip_path_, content_, work_;
  UnpackReport report_;
};

TEST_F(LaunchFaultTest, DiskFillsUpWhileTheArchiveIsCopied) {
  ASSERT_GT(archive_.size(), 3 * kCopyChunk);
  struct Case {
    const char* what;
    void (*arm)(FaultyFiles*);
  } cases[] = {
      {"second chunk refused", [](FaultyFiles* f) { f->FailWritesFrom(2); }},
      {"full inside a chunk", [](FaultyFiles* f) { f->FillAfter(100000); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultyFiles faults = Faults();
    c.arm(&faults);
    EXPECT_EQ(Copy(&faults), 0);
    EXPECT_EQ(faults.failed_writes(), 1)
        << "the copy stops at the first failure";
    EXPECT_TRUE(zip_path_.empty());
    EXPECT_EQ(LeftInTemp(), Tree{});

    FaultyFiles again = Faults();
    c.arm(&again);
    Launch(&again);
    ExpectStoppedBeforeThePlacement();
    EXPECT_EQ(LeftInTemp(), Tree{});
  }
}

TEST_F(LaunchFaultTest, ReadErrorOnTheExecutable) {
  // Nothing readable (the trailer read fails), and one bad byte in the
  // middle of the archive (the copy fails).
  const uint64_t middle =
      testing::ReadFile(exe_).size() - 4 - archive_.size() + 70000;
  for (auto [begin, end] :
       {std::pair<uint64_t, uint64_t>{0, UINT64_MAX}, {middle, middle + 1}}) {
    SCOPED_TRACE(begin);
    FaultyFiles faults = Faults();
    faults.FailReads(testing::Is(exe_), EIO, begin, end);
    EXPECT_EQ(Copy(&faults), 0);
    EXPECT_EQ(faults.failed_reads(), 1);
    EXPECT_TRUE(zip_path_.empty());
    EXPECT_EQ(LeftInTemp(), Tree{});

    FaultyFiles again = Faults();
    again.FailReads(testing::Is(exe_), EIO, begin, end);
    Launch(&again);
    ExpectStoppedBeforeThePlacement();
    EXPECT_EQ(LeftInTemp(), Tree{});
  }
}

TEST_F(LaunchFaultTest, DiskFillsUpInTheMiddleOfAnEntry) {
  // The copy fits; the unpack runs out 50,000 bytes later, inside the big
  // scene, after the small files before it were written.
  const uint64_t budget = archive_.size() + 50000;
  FaultyFiles faults = Faults();
  faults.FillAfter(budget);
  ASSERT_EQ(Copy(&faults), 1);
  EXPECT_EQ(Unpack(&faults), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kEntryFailed);
  EXPECT_EQ(report_.archive_result, ArchiveWriteFailed);
  // Files are written on several threads at once: whichever met the full
  // disk first names it, and it was left short.
  EXPECT_LT(testing::ReadFile(work_ + "/" + report_.entry).size(),
            DeclaredSize(report_.entry))
      << report_.entry;
  const size_t written = testing::ReadFile(work_ + "/" + kBigName).size();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, kBigEntry);
  EXPECT_TRUE(zip_path_.empty());
  Cleanup(&faults);
  EXPECT_EQ(LeftInTemp(), Tree{});

  FaultyFiles again = Faults();
  again.FillAfter(budget);
  Launch(&again);
  ExpectStoppedBeforeThePlacement();
  EXPECT_EQ(window_.title, "Morva") << "the start page is never read";
  EXPECT_EQ(LeftInTemp(), Tree{});

  // Met once the window shows with the package's title and size: it stays
  // so, without the page.
  FaultyFiles late = Faults();
  late.FillAfter(budget);
  Launch(&late, true);
  EXPECT_EQ(window_.CallsStartingWith("RunWhileShown").size(), 1u);
  EXPECT_EQ(window_.CallsStartingWith("SetWindowPos"),
            std::vector<std::string>{"SetWindowPos(top,0,0,800,600,128)"});
  EXPECT_EQ(window_.title, "Tour  -  Morva");
  EXPECT_TRUE(window_.CallsStartingWith("Navigate").empty());
  EXPECT_EQ(LeftInTemp(), Tree{});
}

TEST_F(LaunchFaultTest, AWindowClosedWhileTheUnpackRunsStopsItFirst) {
  // The window's thread stops the work while it runs on its own, at
  // whatever moment that is, waits for it, and destroys.
  for (int round = 0; round < 3; ++round) {
    FaultyFiles faults = Faults();
    window_ = testing::RecordingWindow();
    window_.run_while_shown = [](BackgroundWork* work) {
      std::thread thread([work] { work->Run(); });
      work->Stop();
      thread.join();
    };
    {
      ScopedFileSystem scope(&faults);
      CPreviewDlg dlg(&window_);
      EXPECT_EQ(dlg.DoModal(), 2);
    }
    EXPECT_TRUE(window_.CallsStartingWith("Navigate").empty());
    EXPECT_EQ(LeftInTemp(), Tree{});
  }
}

TEST_F(LaunchFaultTest, ReadErrorOnTheTemporaryArchive) {
  // One bad byte in the big scene's data, which ends where the central
  // directory begins: its headers read, its data does not.
  const uint64_t bad = archive_.rfind("PK\x01\x02") - kBigEntry / 2;
  ASSERT_LT(bad, archive_.size());
  FaultyFiles faults = Faults();
  faults.FailReads(TempName(tmp_.path()), EIO, bad, bad + 1);
  ASSERT_EQ(Copy(&faults), 1);
  EXPECT_EQ(Unpack(&faults), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kEntryFailed);
  EXPECT_EQ(report_.entry, kBigName);
  EXPECT_EQ(report_.archive_result, ArchiveWriteFailed);
  EXPECT_GE(faults.failed_reads(), 1);
  Cleanup(&faults);
  EXPECT_EQ(LeftInTemp(), Tree{});

  FaultyFiles again = Faults();
  again.FailReads(TempName(tmp_.path()), EIO, bad, bad + 1);
  Launch(&again);
  ExpectStoppedBeforeThePlacement();
  EXPECT_EQ(LeftInTemp(), Tree{});
}

TEST_F(LaunchFaultTest, AFolderCannotBeCreated) {
  struct Case {
    const char* what;
    PathMatch folder;
    UnpackStatus status;
    std::string entry;
  } cases[] = {
      {"the work folder", TempName(tmp_.path()), UnpackStatus::kNoWorkFolder,
       ""},
      {"a folder of the package", testing::Named("_flash"),
       UnpackStatus::kEntryFailed, "_flash/qzviewer.swf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultyFiles faults = Faults();
    faults.RefuseMkdir(c.folder);
    ASSERT_EQ(Copy(&faults), 1);
    EXPECT_EQ(Unpack(&faults), 0);
    EXPECT_GE(faults.refused_mkdirs(), 1);
    EXPECT_EQ(report_.status, c.status);
    EXPECT_EQ(report_.entry, c.entry);
    EXPECT_TRUE(zip_path_.empty());
    Cleanup(&faults);
    EXPECT_EQ(LeftInTemp(), Tree{});
    work_.clear();

    FaultyFiles again = Faults();
    again.RefuseMkdir(c.folder);
    Launch(&again);
    ExpectStoppedBeforeThePlacement();
    EXPECT_EQ(LeftInTemp(), Tree{});
  }
}

TEST_F(LaunchFaultTest, AFileThatCannotBeDeletedStaysWithItsFoldersOnly) {
  FaultyFiles faults = Faults();
  faults.RefuseUnlink(testing::Named("s1.jpg"));
  Launch(&faults);
  EXPECT_EQ(window_.CallsStartingWith("Navigate").size(), 1u)
      << "a complete launch";
  const Tree left = LeftInTemp();
  ASSERT_EQ(left.size(), 4u);
  const std::string work = left[0];  // "QZ....tmp/"
  EXPECT_EQ(work.rfind("QZ", 0), 0u);
  EXPECT_EQ(left, (Tree{work, work + "_flash/", work + "_flash/scenes/",
                        work + "_flash/scenes/s1.jpg"}));
}

TEST_F(LaunchFaultTest, ATemporaryFileThatCannotBeDeletedIsAllThatStays) {
  // The temporary archive: the unpack still succeeds.
  FaultyFiles faults = Faults();
  ASSERT_EQ(Copy(&faults), 1);
  const std::string archive = zip_path_;
  faults.RefuseUnlink(testing::Is(archive));
  EXPECT_EQ(Unpack(&faults), 1);
  EXPECT_TRUE(zip_path_.empty());
  Cleanup(&faults);
  EXPECT_EQ(LeftInTemp(), Tree{archive.substr(tmp_.path().size() + 1)});
  RemoveFile(archive);

  // The work folder's placeholder: no folder is made over it, nothing is
  // unpacked, and the cleanup has nothing of ours to remove.
  FaultyFiles sticky = Faults();
  ASSERT_EQ(Copy(&sticky), 1);
  const std::string archive2 = zip_path_;
  PathMatch temp_name = TempName(tmp_.path());
  sticky.RefuseUnlink(
      [&](const std::string& p) { return p != archive2 && temp_name(p); });
  work_.clear();
  EXPECT_EQ(Unpack(&sticky), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kNoWorkFolder);
  EXPECT_TRUE(work_.empty());
  Cleanup(&sticky);
  const Tree left = LeftInTemp();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(temp_name(tmp_.Join(left[0])))
      << left[0] << " is a file, not a folder";
  EXPECT_NE(tmp_.Join(left[0]), archive2);
}

TEST_F(LaunchFaultTest, APackageLargerThanTheFreeSpaceStopsTheLaunch) {
  FaultyFiles faults = Faults();
  faults.SetFreeSpace(100000);  // the package declares about 210,000 bytes
  Launch(&faults);
  ExpectStoppedBeforeThePlacement();
  EXPECT_EQ(LeftInTemp(), Tree{});
}

}  // namespace
}  // namespace morva
