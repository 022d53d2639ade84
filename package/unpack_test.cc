#include "package/unpack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::ScopedTempDir;
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
  EXPECT_EQ(Rel(content_), "/_flash");
  EXPECT_EQ(work_.rfind(tmp_.Join("QZ"), 0), 0u) << work_;
  EXPECT_EQ(work_.substr(work_.size() - 4), ".tmp");
  struct stat st;
  ASSERT_EQ(stat(work_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
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
    EXPECT_EQ(Rel(content_), c.content);
  }
}

// Records the folders made, in order.
class MkdirLog : public FileSystemWrapper {
 public:
  MkdirLog() : FileSystemWrapper(RealFiles()) {}
  int MkdirAt(int dir_fd, const std::string& path, mode_t mode) override {
    made.push_back(path);
    return FileSystemWrapper::MkdirAt(dir_fd, path, mode);
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
  EXPECT_EQ(log.made, (Tree{work_, "/a", "/a/b", "/a/b/c", "/a/b/", "/x/y/"}));
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
  int UnlinkAt(int dir_fd, const std::string& path, int flags) override {
    int rc = FileSystemWrapper::UnlinkAt(dir_fd, path, flags);
    if (rc == 0 && path.find("/QZ") != std::string::npos &&
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
  int OpenAt(int dir_fd, const std::string& path, int flags,
             mode_t mode) override {
    if (flags & O_EXCL) {
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
  EXPECT_EQ(content, into + "/_flash");
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

}  // namespace
}  // namespace morva
