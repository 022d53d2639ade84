#include "tools/zip_folder.h"

#include <minizip/unzip.h>

#include <functional>

#include "gtest/gtest.h"
#include "package/archive/archive.h"
#include "platform/files.h"
#include "platform/path.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva::pack {
namespace {

using testing::ScopedTempDir;

struct CentralRecord {
  std::string name;
  uLong version_made_by;
  uLong external;
  uLong flag;
  uLong method;
  uLong dos_date;
  std::string extra;
};

// The central records as minizip's reader sees them.
std::vector<CentralRecord> ReadCentral(const std::string& path) {
  std::vector<CentralRecord> records;
  unzFile zip = unzOpen64(path.c_str());
  EXPECT_NE(zip, nullptr);
  if (zip == nullptr) return records;
  for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK;
       rc = unzGoToNextFile(zip)) {
    unz_file_info64 info{};
    char name[300];
    char extra[300];
    unzGetCurrentFileInfo64(zip, &info, name, sizeof name, extra, sizeof extra,
                            nullptr, 0);
    records.push_back({name, info.version, info.external_fa, info.flag,
                       info.compression_method, info.dosDate,
                       std::string(extra, info.size_file_extra)});
  }
  unzClose(zip);
  return records;
}

void SetTime(const std::string& path, time_t seconds) {
  ASSERT_TRUE(testing::SetFileTimes(path, seconds, seconds)) << path;
}

class ZipFolderTest : public ::testing::Test {
 protected:
  bool Zip(const std::string& source) {
    notes_.clear();
    error_.clear();
    return ZipFolder(source, archive_, &entries_, &notes_, &error_);
  }

  ScopedTempDir tmp_;
  std::string archive_ = tmp_.Join("out.zip");
  int32_t entries_ = -1;
  std::vector<std::string> notes_;
  std::string error_;
};

TEST(DosDateTimeUtcTest, UtcCalendarTimeClampedToTheDosRange) {
  // 2020-06-15 12:24:00 UTC, whatever the local time zone.
  EXPECT_EQ(DosDateTimeUtc(1592223840), 0x50CF6300u);
  // Odd seconds go down to the even second below.
  EXPECT_EQ(DosDateTimeUtc(1592223841), 0x50CF6300u);
  EXPECT_EQ(DosDateTimeUtc(1592223842), 0x50CF6301u);
  // Before 1980 and after 2107 the ends of the range stand in.
  EXPECT_EQ(DosDateTimeUtc(0), DosDateTimeUtc(315532800));
  EXPECT_EQ(DosDateTimeUtc(315532800), (1u << 5 | 1u) << 16);
  EXPECT_EQ(DosDateTimeUtc(int64_t{1} << 40), DosDateTimeUtc(4354819198));
  EXPECT_EQ(DosDateTimeUtc(4354819198) >> 16, (127u << 9) | (12u << 5) | 31u);
}

TEST_F(ZipFolderTest, EntriesSortedFoldersFirstWithUnixModesAndTimes) {
  const std::string src = tmp_.Join("src");
  tmp_.Write("src/b.txt", "bee");
  tmp_.Write("src/a/z.txt", "zed");
  tmp_.Write("src/a/y/deep.txt", "deep");
  tmp_.Write("src/a-b.txt", "dash");
  tmp_.Write("src/ro.txt", "read only");
  ASSERT_EQ(mkdir(tmp_.Join("src/empty").c_str(), 0755), 0);
  ASSERT_EQ(chmod(tmp_.Join("src/ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(chmod(tmp_.Join("src/b.txt").c_str(), 0640), 0);
  ASSERT_EQ(chmod(tmp_.Join("src/a").c_str(), 0755), 0);
  SetTime(tmp_.Join("src/b.txt"), 1592223841);

  ASSERT_TRUE(Zip(src)) << error_;
  EXPECT_TRUE(notes_.empty());
  EXPECT_EQ(entries_, 8);
  const std::vector<CentralRecord> records = ReadCentral(archive_);
  std::vector<std::string> names;
  for (const CentralRecord& r : records) names.push_back(r.name);
  // Names compared within their folder, so "a" and all below it come
  // before "a-b.txt"; a folder's entry right before its contents.
  EXPECT_EQ(names,
            (std::vector<std::string>{"a/", "a/y/", "a/y/deep.txt", "a/z.txt",
                                      "a-b.txt", "b.txt", "empty/", "ro.txt"}));
  ASSERT_EQ(records.size(), 8u);
  for (const CentralRecord& r : records) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.version_made_by >> 8, 3u) << "Unix host";
    const bool dir = r.name.back() == '/';
    EXPECT_EQ(r.method, dir ? 0u : 8u);
    EXPECT_EQ(r.flag & 0x800, 0u) << "ASCII names need no UTF-8 flag";
  }
  auto record = [&](const std::string& name) {
    for (const CentralRecord& r : records) {
      if (r.name == name) return r;
    }
    return CentralRecord{};
  };
#ifdef _WIN32
  // No modes there: what is not read-only is open to all.
  constexpr uLong kFolderMode = 040777, kFileMode = 0100666;
#else
  constexpr uLong kFolderMode = 040755, kFileMode = 0100640;
#endif
  EXPECT_EQ(record("a/").external, (kFolderMode << 16) | 0x10);
  EXPECT_EQ(record("b.txt").external, kFileMode << 16);
  EXPECT_EQ(record("ro.txt").external, (uLong{0100444} << 16) | 0x01);
  // DOS date-time as UTC calendar time, the exact second in "UT".
  EXPECT_EQ(record("b.txt").dos_date, 0x50CF6300u);
  const std::string ut{'U', 'T', 5, 0, 1, '\x61', '\x68', '\xe7', '\x5e'};
  EXPECT_EQ(record("b.txt").extra, ut) << "1592223841 = 0x5ee76861";

  // What the player's reader makes of it.
  ArchivePtr archive(
      ArchiveOpen(archive_.c_str(), 0, ArchiveIoKind::ByFileName));
  ASSERT_NE(archive, nullptr);
  for (int32_t i = 0; i < 8; ++i) {
    ArchiveEntry entry;
    ASSERT_EQ(ArchiveGetEntry(archive.get(), i, &entry), ArchiveOk);
    const std::string name = entry.name;
    EXPECT_EQ((entry.attributes & 0x10) != 0, name.back() == '/') << name;
    EXPECT_EQ((entry.attributes & 0x01) != 0, name == "ro.txt") << name;
    if (name == "b.txt") {
      EXPECT_EQ(entry.write_time, UnixSecondsToFileTime(1592223841));
      EXPECT_EQ(entry.uncompressed_size, 3u);
    }
  }

  // The same folder gives the same bytes. Windows replaces no file that is
  // open.
  archive.reset();
  const std::string first = testing::ReadFile(archive_);
  ASSERT_TRUE(Zip(src)) << error_;
  EXPECT_EQ(testing::ReadFile(archive_), first);
}

TEST_F(ZipFolderTest, AddedFilesJoinTheirFolderInOrder) {
  tmp_.Write("src/b.txt", "bee");
  tmp_.Write("src/sub/z.txt", "zed");
  const std::string src = tmp_.Join("src");
  const std::vector<AddedFile> added = {
      {"a.txt", "added at the top", 1592223840},
      {"sub/y.txt", "added below", 1592223840}};
  ASSERT_TRUE(ZipFolder(src, archive_, &entries_, &notes_, &error_, added))
      << error_;
  std::vector<std::string> names;
  for (const CentralRecord& r : ReadCentral(archive_)) {
    names.push_back(r.name);
    if (r.name == "a.txt" || r.name == "sub/y.txt") {
      EXPECT_EQ(r.external, uLong{0100644} << 16) << r.name;
      EXPECT_EQ(r.dos_date, 0x50CF6300u) << r.name;
    }
  }
  EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "sub/",
                                             "sub/y.txt", "sub/z.txt"}));
  EXPECT_EQ(ListTree(src),
            (std::vector<std::string>{"b.txt", "sub/", "sub/z.txt"}));

  // A name the folder has, or a folder it lacks: refused, no archive.
  for (const AddedFile& clash :
       {AddedFile{"sub/z.txt", "again", 0}, AddedFile{"new/x.txt", "x", 0}}) {
    EXPECT_FALSE(
        ZipFolder(src, archive_, &entries_, &notes_, &error_, {clash}));
    EXPECT_NE(error_.find(testing::Native(src + "/" + clash.name) + ": "),
              std::string::npos)
        << error_;
    EXPECT_FALSE(testing::Exists(archive_));
  }
}

TEST_F(ZipFolderTest, Utf8NamesAreFlagged) {
  tmp_.Write("src/caf\xc3\xa9.html", "x");
  tmp_.Write("src/latin1-\xe9.html", "x");
  ASSERT_TRUE(Zip(tmp_.Join("src"))) << error_;
  const std::vector<CentralRecord> records = ReadCentral(archive_);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].flag & 0x800, 0x800u) << records[0].name;
#ifdef _WIN32
  // Windows took the name in its code page and keeps it in UTF-16: it comes
  // back as UTF-8.
  EXPECT_EQ(records[1].name, "latin1-\xc3\xa9.html");
  EXPECT_EQ(records[1].flag & 0x800, 0x800u);
#else
  EXPECT_EQ(records[1].flag & 0x800, 0u) << "not UTF-8: the bytes as they are";
#endif
}

TEST_F(ZipFolderTest, RefusesWhatAPackageCannotHoldAndLeavesNoArchive) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    std::string error;  // after the source folder's path
    bool can_make = true;
  } cases[] = {
      {"link to a file",
       [](const std::string& src) {
         ASSERT_EQ(symlink("/etc/passwd", (src + "/_flash/passwd").c_str()), 0);
       },
       "/_flash/passwd: a symbolic link; packages hold no links, so put the "
       "file or folder itself there",
       kCanPlantLinks},
      {"link to a folder",
       [](const std::string& src) {
         ASSERT_EQ(symlink("/etc", (src + "/etc").c_str()), 0);
       },
       "/etc: a symbolic link; packages hold no links, so put the file or "
       "folder itself there",
       kCanPlantLinks},
      {"fifo",
       [](const std::string& src) {
         ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0600), 0);
       },
       "/pipe: neither a file nor a folder", kCanPlantFifos},
      {"backslash",
       [](const std::string& src) {
         testing::WriteFile(src + "/a\\b.html", "x");
       },
       "/a\\b.html: the name holds \"\\\", which the player takes for a "
       "folder separator; rename it",
       kPathSeparator != '\\'},
      {"long name",
       [](const std::string& src) {
         testing::WriteFile(src + "/_flash/" + std::string(253, 'n'), "x");
       },
       "/_flash/" + std::string(253, 'n') +
           ": the entry name is 260 bytes long; the player takes 259 at most"},
  };
  for (const Case& c : cases) {
    if (!c.can_make) continue;
    SCOPED_TRACE(c.what);
    const std::string src = tmp_.Join(std::string("src-") + c.what);
    tmp_.Write(std::string("src-") + c.what + "/_flash/page.html", "x");
    c.make(src);
    EXPECT_FALSE(Zip(src));
    EXPECT_EQ(error_, testing::Native(src + c.error));
    EXPECT_FALSE(testing::Exists(archive_));
  }

  // A name of 259 bytes still fits.
  const std::string src = tmp_.Join("fits");
  tmp_.Write("fits/_flash/" + std::string(252, 'n'), "x");
  EXPECT_TRUE(Zip(src)) << error_;
}

TEST_F(ZipFolderTest, AnUnreadableFileIsAnError) {
  SKIP_ON_WINDOWS("no POSIX owners");
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  tmp_.Write("src/secret", "x");
  ASSERT_EQ(chmod(tmp_.Join("src/secret").c_str(), 0), 0);
  EXPECT_FALSE(Zip(tmp_.Join("src")));
  EXPECT_EQ(error_, "open(" + tmp_.Join("src/secret") + "): Permission denied");
}

TEST_F(ZipFolderTest, TimesOutsideThirtyTwoBitsKeepOnlyTheDosTime) {
  tmp_.Write("src/future", "x");
  SetTime(tmp_.Join("src/future"), time_t{1} << 32);
  ASSERT_TRUE(Zip(tmp_.Join("src"))) << error_;
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_EQ(notes_[0], testing::Native(tmp_.Join("src/future")) +
                           ": its time does not fit the archive's 32-bit "
                           "seconds; the DOS date-time alone is kept");
  const std::vector<CentralRecord> records = ReadCentral(archive_);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].extra, "");
  EXPECT_EQ(records[0].dos_date, DosDateTimeUtc(time_t{1} << 32));
}

}  // namespace
}  // namespace morva::pack
