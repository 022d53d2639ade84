#include "package/unpack.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "gtest/gtest.h"
#include "package/archive/archive.h"
#include "package/archive/entry_data.h"
#include "platform/files.h"
#include "platform/path.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::ScopedTempDir;
using testing::ZipEntryDef;
using testing::ZipWriter;
using Tree = std::vector<std::string>;

class UnpackTest : public ::testing::Test {
 protected:
  // Writes the archive as the temporary archive and unpacks it.
  int Unpack(const ZipWriter& zip) {
    zip_path_ = tmp_.Join("QZARCHIVE.tmp");
    zip.Write(zip_path_);
    return Run();
  }
  int Run() {
    content_.clear();
    work_.clear();
    int result = UnpackTempZip(&zip_path_, &content_, &work_, &report_);
    EXPECT_TRUE(zip_path_.empty())
        << "the archive path is emptied on every path";
    EXPECT_FALSE(testing::Exists(tmp_.Join("QZARCHIVE.tmp")))
        << "the temporary archive is deleted on every path";
    return result;
  }
  std::string Rel(const std::string& path) {
    return path.size() > work_.size() ? path.substr(work_.size()) : "";
  }

  ScopedTempDir tmp_;
  std::string zip_path_, content_, work_;
  UnpackReport report_;
};

TEST_F(UnpackTest, ContentFolderIsWhereTheLastViewerMovieWent) {
  ASSERT_EQ(Unpack(ZipWriter()
                       .AddDir("_flash/")
                       .AddFile("_flash/qzviewer.swf", "swf")
                       .AddFile("_flash/autorun.inf", "[autorun]")),
            1);
  EXPECT_EQ(Rel(content_), testing::Native("/_flash"));
  EXPECT_EQ(work_.rfind(tmp_.Join("QZ"), 0), 0u) << work_;
  EXPECT_EQ(work_.substr(work_.size() - 4), ".tmp");
  testing::ExpectPrivate(work_, 0700);
  EXPECT_EQ(testing::ReadFile(content_ + "/qzviewer.swf"), "swf");

  struct Case {
    const char* what;
    ZipWriter zip;
    std::string content;  // relative to the work folder
  } cases[] = {
      {"top level", ZipWriter().AddFile("qzviewer.swf", "x"), ""},
      {"any case", ZipWriter().AddFile("_flash/QZViewer.SWF", "x"), "/_flash"},
      {"last wins",
       ZipWriter()
           .AddFile("a/qzviewer.swf", "x")
           .AddFile("b/qzviewer.swf", "x"),
       "/b"},
      {"backslashes", ZipWriter().AddFile("t\\_flash\\qzviewer.swf", "x"),
       "/t/_flash"},
      {"whole name only",
       ZipWriter()
           .AddFile("a/xqzviewer.swf", "x")
           .AddFile("b/qzviewer.swf.bak", "x"),
       ""},
      {"not a directory entry", ZipWriter().AddDir("qzviewer.swf/"), ""},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Unpack(c.zip), 1);
    EXPECT_EQ(Rel(content_), testing::Native(c.content));
  }
}

// Records the folders made, in order.
class MkdirLog : public FileSystemWrapper {
 public:
  MkdirLog() : FileSystemWrapper(RealFiles()) {}
  int MakeFolderAt(FileHandle dir_fd, const std::string& path,
                   uint32_t mode) override {
    made.push_back(path);
    return FileSystemWrapper::MakeFolderAt(dir_fd, path, mode);
  }
  std::vector<std::string> made;
};

TEST_F(UnpackTest, FoldersAreMadeOutermostFirstBeforeTheirFiles) {
  MkdirLog log;
  {
    ScopedFileSystem scope(&log);
    ASSERT_EQ(Unpack(ZipWriter()
                         .AddFile("a/b/c/f.txt", "f")
                         .AddDir("a/b/")  // late: exists already
                         .AddDir("x/y/")  // orphan: parent missing
                         .AddFile("g.txt", "g")),
              1);
  }
  ASSERT_EQ(log.made.size(), 6u);
  EXPECT_EQ(log.made[0], work_);
  for (size_t i = 1; i < log.made.size(); ++i) log.made[i] = Rel(log.made[i]);
  Tree made = {"/a", "/a/b", "/a/b/c", "/a/b/", "/x/y/"};
  for (std::string& path : made) path = testing::Native(path);
  made.insert(made.begin(), work_);
  EXPECT_EQ(log.made, made);
  EXPECT_EQ(ListTree(work_),
            (Tree{"a/", "a/b/", "a/b/c/", "a/b/c/f.txt", "g.txt"}));
}

TEST_F(UnpackTest, NamesInAWindowsCodePageAreWrittenInUtf8) {
  // Windows-1252 "Sc\xe8nes/Caf\xe9.html", the CP437 byte for "\xe9" (read
  // as Windows-1252, like the title), and a name that is UTF-8 already.
  ASSERT_EQ(Unpack(ZipWriter()
                       .AddDir("Sc\xE8nes/")
                       .AddFile("Sc\xE8nes/Caf\xE9.html", "1252")
                       .AddFile("P\x82ge.html", "437")
                       .AddFile("Caf\xC3\xA9 2.html", "utf-8")),
            1);
  EXPECT_EQ(ListTree(work_),
            (Tree{"Caf\xC3\xA9 2.html", "P\xE2\x80\x9Age.html",
                  "Sc\xC3\xA8nes/", "Sc\xC3\xA8nes/Caf\xC3\xA9.html"}));
  EXPECT_EQ(testing::ReadFile(work_ + "/Sc\xC3\xA8nes/Caf\xC3\xA9.html"),
            "1252");
}

TEST_F(UnpackTest, AnArchiveWithoutEntriesIsRefusedByTheReader) {
  // minizip does not open an archive that holds nothing; the launch would
  // stop at the start page anyway, as there is no autorun.inf.
  EXPECT_EQ(Unpack(ZipWriter()), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kNotAnArchive);
  EXPECT_EQ(content_, work_);
}

TEST_F(UnpackTest, NotAnArchiveLeavesAnEmptyWorkFolder) {
  zip_path_ = tmp_.Join("QZARCHIVE.tmp");
  testing::WriteFile(zip_path_, "this is no zip archive");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kNotAnArchive);
  EXPECT_EQ(content_, work_);
  EXPECT_EQ(ListTree(work_), Tree{});
}

TEST_F(UnpackTest, NamesLeadingOutsideStopTheUnpack) {
  for (const char* name :
       {"../x", "a/../../x", "/abs", "C:\\x", "a\\..\\..\\x", "..\\evil"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(Unpack(ZipWriter()
                         .AddFile("ok.txt", "1")
                         .AddFile(name, "evil")
                         .AddFile("after.txt", "2")),
              0);
    EXPECT_EQ(report_.status, UnpackStatus::kUnsafeName);
    EXPECT_EQ(report_.entry, name);
    EXPECT_EQ(ListTree(work_), Tree{"ok.txt"}) << "nothing after the bad entry";
  }
  // Nothing landed next to the work folders or above the temporary folder.
  for (const std::string& n : tmp_.List()) {
    EXPECT_EQ(n.rfind("QZ", 0), 0u) << n;
  }
  EXPECT_FALSE(testing::Exists(tmp_.Join("x")));
  EXPECT_FALSE(testing::Exists(tmp_.Join("evil")));
  EXPECT_FALSE(testing::Exists("/abs"));
}

// Plants a link at the work folder's name right after its placeholder file
// is deleted, as another process racing for the name would.
class LinkPlanter : public FileSystemWrapper {
 public:
  explicit LinkPlanter(std::string target)
      : FileSystemWrapper(RealFiles()), target_(std::move(target)) {}
  int RemoveAt(FileHandle dir_fd, const std::string& path,
               RemoveKind flags) override {
    int rc = FileSystemWrapper::RemoveAt(dir_fd, path, flags);
    if (rc == 0 &&
        path.find(kPathSeparator + std::string("QZ")) != std::string::npos &&
        path.find("ARCHIVE") == std::string::npos && !planted) {
      planted = symlink(target_.c_str(), path.c_str()) == 0;
    }
    return rc;
  }
  bool planted = false;

 private:
  std::string target_;
};

TEST_F(UnpackTest, AFolderTakenOverByALinkIsNeverUsed) {
  SKIP_WITHOUT_LINKS();
  ASSERT_EQ(mkdir(tmp_.Join("victim").c_str(), 0700), 0);
  LinkPlanter planter(tmp_.Join("victim"));
  {
    ScopedFileSystem scope(&planter);
    EXPECT_EQ(
        Unpack(ZipWriter().AddFile("qzviewer.swf", "x").AddFile("f", "y")), 0);
  }
  ASSERT_TRUE(planter.planted);
  EXPECT_EQ(report_.status, UnpackStatus::kNoWorkFolder);
  EXPECT_TRUE(work_.empty())
      << "the cleanup must not touch what we did not make";
  EXPECT_EQ(ListTree(tmp_.Join("victim")), Tree{});
}

// No temporary name can be made at all.
class NoNewFiles : public FileSystemWrapper {
 public:
  NoNewFiles() : FileSystemWrapper(RealFiles()) {}
  FileHandle OpenAt(FileHandle dir_fd, const std::string& path, uint32_t flags,
                    uint32_t mode) override {
    if (flags & kOpenExclusive) {
      errno = ENOSPC;
      return -1;
    }
    return FileSystemWrapper::OpenAt(dir_fd, path, flags, mode);
  }
};

TEST_F(UnpackTest, NoUniqueNameUnpacksNothingAndStillDeletesTheArchive) {
  NoNewFiles no_new;
  ScopedFileSystem scope(&no_new);
  EXPECT_EQ(Unpack(ZipWriter().AddFile("f", "x")), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kNoWorkFolder);
  EXPECT_TRUE(work_.empty());
  EXPECT_EQ(tmp_.List(), Tree{});
}

TEST_F(UnpackTest, NoArchivePathCreatesNothing) {
  zip_path_.clear();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kNoArchive);
  EXPECT_TRUE(content_.empty());
  EXPECT_EQ(tmp_.List(), Tree{});
}

TEST_F(UnpackTest, UnpacksIntoAGivenFolderAndLeavesTheArchive) {
  const std::string archive = tmp_.Join("tour.zip");
  ZipWriter()
      .AddFile("a/b/f.txt", "f")
      .AddFile("_flash/qzviewer.swf", "swf")
      .Write(archive);
  const std::string into = tmp_.Join("out");
  ASSERT_TRUE(MakeFolder(into));
  std::string content = "unchanged";
  EXPECT_EQ(UnpackArchiveInto(archive, into, &content, &report_), 1);
  EXPECT_EQ(report_.status, UnpackStatus::kOk);
  EXPECT_EQ(content, testing::Native(into + "/_flash"));
  EXPECT_EQ(ListTree(into), (Tree{"_flash/", "_flash/qzviewer.swf", "a/",
                                  "a/b/", "a/b/f.txt"}));
  EXPECT_TRUE(testing::Exists(archive));
  EXPECT_EQ(tmp_.List(), (Tree{"out", "tour.zip"}))
      << "no work folder of its own";

  // Without a viewer movie the content folder is left alone.
  content = "unchanged";
  ZipWriter().AddFile("x", "x").Write(archive);
  EXPECT_EQ(UnpackArchiveInto(archive, into, &content, &report_), 1);
  EXPECT_EQ(content, "unchanged");

  // The same walk, so the same refusals.
  ZipWriter().AddFile("ok", "x").AddFile("../escape", "x").Write(archive);
  EXPECT_EQ(UnpackArchiveInto(archive, into, &content, &report_), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kUnsafeName);
  EXPECT_EQ(report_.entry, "../escape");
  EXPECT_TRUE(testing::Exists(into + "/ok"));
  EXPECT_FALSE(testing::Exists(tmp_.Join("escape")));

  testing::WriteFile(archive, "no archive");
  EXPECT_EQ(UnpackArchiveInto(archive, into, &content, &report_), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kNotAnArchive);
}

// Bytes that deflate codes rather than stores, in sizes from a few bytes to
// past the largest entry inflated whole.
std::string Sample(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>((seed >> 24) & 0x3F);
  }
  return out;
}

// A package with what the threads must get right: folders with and without
// their entries, nested and late, a backslash name, files stored and
// deflated, small and larger than kWholeEntryLimit, a read-only file, times
// from "UT" blocks, two viewer movies (the later one counts), a name that
// comes twice (the later, larger entry wins), and a folder entry named as a
// file before it (the file stays).
ZipWriter MixedPackage() {
  ZipWriter zip;
  zip.AddDir("_flash/")
      .AddFile("_flash/qzviewer.swf", "old viewer")
      .AddFile("twice.txt", "first")
      .AddFile("clash", "a file");
  for (int i = 0; i < 60; ++i) {
    ZipEntryDef e;
    e.name = "_flash/scene" + std::to_string(i % 7) + "/f" + std::to_string(i);
    e.data = Sample(static_cast<size_t>(i) * i * 97 + 1, i);
    e.method = i % 5 == 0 ? 0 : 8;
    if (i % 4 == 0) e.extra_local = testing::UtBlock(1, {1500000000 + i});
    zip.Add(e);
  }
  ZipEntryDef large;
  large.name = "_flash/pano/large.jpg";
  large.data = Sample(kWholeEntryLimit + kWholeEntryLimit / 3, 99);
  ZipEntryDef read_only;
  read_only.name = "docs\\readme.txt";
  read_only.data = "read me";
  read_only.external_attributes = 0x81240000;  // regular file, 0444
  zip.Add(large)
      .Add(read_only)
      .AddDir("_flash/scene3/")
      .AddDir("empty/")
      .AddFile("b/qzviewer.swf", "viewer")
      .AddFile("twice.txt", Sample(50000, 7))
      .AddDir("clash/");
  return zip;
}

// Everything below folder: each path with its kind, mode, time and bytes.
std::vector<std::string> Snapshot(const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& path : ListTree(folder)) {
    const std::string full = folder + "/" + path;
    const FileInfo st = testing::InfoOf(full);
    std::string line = path + " " + std::to_string(st.permissions);
    if (st.kind == FileKind::kFile) {
      line += " " + std::to_string(testing::UnixSeconds(st.write_time)) + " " +
              std::to_string(std::hash<std::string>()(testing::ReadFile(full)));
    }
    out.push_back(line);
  }
  return out;
}

// Lets a helper thread open the archive only when `allowed` says so.
class ArchiveOpens : public FileSystemWrapper {
 public:
  ArchiveOpens(std::string archive, bool allowed)
      : FileSystemWrapper(RealFiles()),
        archive_(std::move(archive)),
        allowed_(allowed) {}
  FileHandle OpenAt(FileHandle dir_fd, const std::string& path, uint32_t flags,
                    uint32_t mode) override {
    if (path == archive_ && opens_++ > 0 && !allowed_) {
      errno = EMFILE;
      return -1;
    }
    return FileSystemWrapper::OpenAt(dir_fd, path, flags, mode);
  }
  int opens() const { return opens_; }

 private:
  std::string archive_;
  bool allowed_;
  std::atomic<int> opens_{0};
};

TEST(UnpackWorkersTest, SeveralThreadsUnpackWhatOneDoes) {
  ScopedTempDir tmp;
  const std::string archive = tmp.Join("tour.zip");
  MixedPackage().Write(archive);
  auto unpack = [&](const std::string& name, int workers, bool helpers_may_open,
                    int* opens) {
    const std::string into = tmp.Join(name);
    EXPECT_TRUE(MakeFolder(into));
    ArchiveOpens files(archive, helpers_may_open);
    ScopedFileSystem scope(&files);
    std::string content;
    UnpackReport report;
    EXPECT_EQ(UnpackArchiveInto(archive, into, &content, &report, workers), 1);
    EXPECT_EQ(content, testing::Native(into + "/b"));
    *opens = files.opens();
    return Snapshot(into);
  };
  int opens = 0;
  const std::vector<std::string> one = unpack("one", 1, true, &opens);
  EXPECT_EQ(opens, 1);
  ASSERT_EQ(one.size(), 78u);
  EXPECT_EQ(unpack("four", 4, true, &opens), one);
  EXPECT_EQ(opens, 4) << "a handle of its own for each thread";
  // Helpers that cannot open the archive leave the work to the others.
  EXPECT_EQ(unpack("alone", 4, false, &opens), one);
}

// Refuses to create the file called `refused`; after that, counts every file
// creation and makes each slow, so that a thread that went on starting
// files after the failure could not go unseen.
class RefusedFile : public FileSystemWrapper {
 public:
  explicit RefusedFile(std::string refused)
      : FileSystemWrapper(RealFiles()), refused_(std::move(refused)) {}
  FileHandle OpenAt(FileHandle dir_fd, const std::string& path, uint32_t flags,
                    uint32_t mode) override {
    if ((flags & kOpenCreate) != 0) {
      if (path.ends_with(kPathSeparator + refused_)) {
        refused_now_ = true;
        errno = EACCES;
        return -1;
      }
      if (refused_now_) {
        // A few are enough to tell; refusing the rest ends a run that
        // would go on.
        if (++created_after_ > 3) {
          errno = EACCES;
          return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    return FileSystemWrapper::OpenAt(dir_fd, path, flags, mode);
  }
  int created_after() const { return created_after_; }

 private:
  std::string refused_;
  std::atomic<bool> refused_now_{false};
  std::atomic<int> created_after_{0};
};

TEST(UnpackWorkersTest, NoFileStartsAfterOneFailed) {
  ScopedTempDir tmp;
  const std::string archive = tmp.Join("tour.zip");
  ZipWriter zip;
  for (int i = 0; i < 100; ++i)
    zip.AddFile("small/s" + std::to_string(i), Sample(1000, i));
  zip.AddFile("big.jpg", Sample(300000, 1));  // the largest: written first
  zip.Write(archive);
  const std::string into = tmp.Join("out");
  ASSERT_TRUE(MakeFolder(into));
  RefusedFile files("big.jpg");
  std::string content;
  UnpackReport report;
  {
    ScopedFileSystem scope(&files);
    EXPECT_EQ(UnpackArchiveInto(archive, into, &content, &report, 2), 0);
  }
  EXPECT_EQ(report.status, UnpackStatus::kEntryFailed);
  EXPECT_EQ(report.entry, "big.jpg");
  EXPECT_EQ(report.archive_result, ArchiveNoFile);
  // The other thread may have been about to start one when it happened.
  EXPECT_LE(files.created_after(), 1);
}

}  // namespace
}  // namespace morva
