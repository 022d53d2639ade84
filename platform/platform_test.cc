
#include <algorithm>
#include <regex>
#include <tuple>

#include "gtest/gtest.h"
#include "platform/attributes.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::ScopedTempDir;

TEST(TempFolderTest, FollowsTmpdirOnlyWhenItNamesAFolder) {
  SKIP_ON_WINDOWS("no TMPDIR; the temporary folder is GetTempPath's");
  ScopedTempDir tmp;
  EXPECT_EQ(TempFolder(), tmp.path());
  setenv("TMPDIR", (tmp.path() + "/").c_str(), 1);
  EXPECT_EQ(TempFolder(), tmp.path()) << "a trailing separator is dropped";
  setenv("TMPDIR", tmp.Join("missing").c_str(), 1);
  EXPECT_EQ(TempFolder(), "/tmp");
  testing::WriteFile(tmp.Join("file"), "x");
  setenv("TMPDIR", tmp.Join("file").c_str(), 1);
  EXPECT_EQ(TempFolder(), "/tmp");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(TempFolder(), "/tmp");
  // Relative to the current folder at the call, and made absolute: the
  // cleanup moves the current folder before it removes the work folder.
  ASSERT_EQ(mkdir(tmp.Join("rel").c_str(), 0700), 0);
  ASSERT_EQ(chdir(tmp.path().c_str()), 0);
  setenv("TMPDIR", "rel", 1);
  EXPECT_EQ(TempFolder(), tmp.Join("rel"));
}

TEST(TempFileTest, CreatesDistinctPrivateEmptyFiles) {
  ScopedTempDir tmp;
  std::string a = CreateUniqueTempFile(tmp.path(), "QZ");
  std::string b = CreateUniqueTempFile(tmp.path(), "QZ");
  ASSERT_FALSE(a.empty());
  ASSERT_NE(a, b);
  const std::string folder = testing::Native(tmp.path() + "/");
  ASSERT_EQ(a.compare(0, folder.size(), folder), 0) << a;
  EXPECT_TRUE(std::regex_match(a.substr(folder.size()),
                               std::regex("QZ[0-9A-F]+\\.tmp")))
      << a;
  const FileInfo info = testing::InfoOf(a);
  EXPECT_EQ(info.kind, FileKind::kFile);
  EXPECT_EQ(info.size, 0u);
  testing::ExpectPrivate(a, 0600);
  // Ours, as the stale-folder sweep asks of the folders it opens.
  EXPECT_TRUE(info.mine);
  const FileHandle open_folder = RealFiles()->OpenAt(
      kCurrentFolder, tmp.path(), kOpenRead | kOpenFolder | kOpenNoFollow, 0);
  ASSERT_GE(open_folder, 0);
  FileInfo folder_info;
  EXPECT_EQ(RealFiles()->Stat(open_folder, &folder_info), 0);
  EXPECT_TRUE(folder_info.mine);
  RealFiles()->Close(open_folder);
}

TEST(TempFileTest, FailsWithEmptyTextInAMissingFolder) {
  ScopedTempDir tmp;
  EXPECT_EQ(CreateUniqueTempFile(tmp.Join("missing"), "QZ"), "");
}

TEST(FilesTest, ListFolderNeverFollowsLinks) {
  ScopedTempDir tmp;
  ASSERT_EQ(mkdir(tmp.Join("d").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(tmp.Join("outside").c_str(), 0700), 0);
  testing::WriteFile(tmp.Join("d/f"), "1");
  ASSERT_EQ(mkdir(tmp.Join("d/sub").c_str(), 0700), 0);
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink(tmp.Join("outside").c_str(), tmp.Join("d/link").c_str()),
              0);
  }
  const FileHandle fd = Files()->OpenAt(kCurrentFolder, tmp.Join("d"),
                                        kOpenRead | kOpenFolder, 0);
  ASSERT_GE(fd, 0);
  std::vector<DirEntry> entries;
  ASSERT_EQ(Files()->ListFolder(fd, &entries), 0);
  // The descriptor stays usable and listing twice gives the same.
  std::vector<DirEntry> again;
  ASSERT_EQ(Files()->ListFolder(fd, &again), 0);
  Files()->Close(fd);
  std::sort(
      entries.begin(), entries.end(),
      [](const DirEntry& x, const DirEntry& y) { return x.name < y.name; });
  ASSERT_EQ(entries.size(), kCanPlantLinks ? 3u : 2u);
  EXPECT_EQ(again.size(), entries.size());
  EXPECT_EQ(entries[0].name, "f");
  EXPECT_FALSE(entries[0].is_dir);
  if (kCanPlantLinks) {
    EXPECT_EQ(entries[1].name, "link");
    EXPECT_FALSE(entries[1].is_dir) << "a link to a folder is not a folder";
  }
  EXPECT_EQ(entries.back().name, "sub");
  EXPECT_TRUE(entries.back().is_dir);
}

TEST(FilesTest, PathExistsRemoveFileAndMakeFolder) {
  ScopedTempDir tmp;
  EXPECT_FALSE(PathExists(tmp.Join("a")));
  EXPECT_TRUE(MakeFolder(tmp.Join("a")));
  EXPECT_FALSE(MakeFolder(tmp.Join("a"))) << "exists already";
  EXPECT_FALSE(MakeFolder(tmp.Join("x/y"))) << "parent missing";
  EXPECT_TRUE(PathExists(tmp.Join("a")));
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink("nowhere", tmp.Join("dangling").c_str()), 0);
    EXPECT_TRUE(PathExists(tmp.Join("dangling")));
  }
  testing::WriteFile(tmp.Join("f"), "x");
  bool gone = true;
  EXPECT_TRUE(RemoveFile(tmp.Join("f"), &gone));
  EXPECT_FALSE(gone);
  EXPECT_FALSE(RemoveFile(tmp.Join("f"), &gone));
  EXPECT_TRUE(gone);
  EXPECT_FALSE(RemoveFile(tmp.Join("a"), &gone)) << "never removes a folder";
  EXPECT_TRUE(PathExists(tmp.Join("a")));
}

TEST(FilesTest, ModuleFileNameIsThisExecutable) {
  SKIP_ON_WINDOWS("no execute permission to check");
  std::string path = Files()->ModuleFileName();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(access(path.c_str(), X_OK), 0);
}

TEST(FileTimeTest, UnixSecondsAndUnixTimeConversions) {
  EXPECT_EQ(UnixSecondsToFileTime(0).value(), 116444736000000000ull);
  EXPECT_EQ(UnixSecondsToFileTime(1).value(), 116444736010000000ull);
  // Before 1970 the seconds count signed.
  EXPECT_EQ(UnixSecondsToFileTime(-1).value(), 116444735990000000ull);
  EXPECT_EQ(UnixSecondsToFileTime(-kSecondsFrom1601To1970 - 1).value(), 0u);
  FileTime t = UnixSecondsToFileTime(1600000000);
  EXPECT_EQ(t.high, static_cast<uint32_t>(t.value() >> 32));
  UnixTime ts = FileTimeToUnixTime(FileTime::FromValue(t.value() + 1234567));
  EXPECT_EQ(ts.tv_sec, 1600000000);
  EXPECT_EQ(ts.tv_nsec, 123456700);
  EXPECT_EQ(UnixTimeToFileTime(ts).value(), t.value() + 1234567);
  UnixTime before{-100, 0};
  EXPECT_EQ(FileTimeToUnixTime(UnixTimeToFileTime(before)).tv_sec, -100);
}

TEST(FileTimeTest, UtcCalendarMatchesTheSystemsOwn) {
  std::tm utc{};
  EXPECT_FALSE(FileTimeToUtc(FileTime{}, &utc)) << "no time at all";
  // Leap days, century and era edges, both sides of 1970, the far future.
  for (int64_t seconds :
       {int64_t{-kSecondsFrom1601To1970} + 1, int64_t{-2208988800}, int64_t{-1},
        int64_t{0}, int64_t{951782400}, int64_t{951868799}, int64_t{1582934400},
        int64_t{4107542399}, int64_t{4354819198}, int64_t{253402300799}}) {
    // The reference on Windows knows no time before 1970 or after 3000.
    if (kPlatformGmtimeNeedsEpoch && (seconds < 0 || seconds > 32535215999))
      continue;
    const time_t t = static_cast<time_t>(seconds);
    std::tm want{};
    ASSERT_NE(gmtime_r(&t, &want), nullptr);
    ASSERT_TRUE(FileTimeToUtc(UnixSecondsToFileTime(seconds), &utc));
    EXPECT_EQ(
        std::make_tuple(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour,
                        utc.tm_min, utc.tm_sec, utc.tm_wday),
        std::make_tuple(want.tm_year, want.tm_mon, want.tm_mday, want.tm_hour,
                        want.tm_min, want.tm_sec, want.tm_wday))
        << seconds;
  }
}

TEST(FileTimeTest, DosDateTimeWithoutTimeZone) {
  // 2020-06-15 12:30:10 -> Unix 1592224210.
  uint16_t date = static_cast<uint16_t>(((2020 - 1980) << 9) | (6 << 5) | 15);
  uint16_t time = static_cast<uint16_t>((12 << 11) | (30 << 5) | 5);
  FileTime ft;
  ASSERT_TRUE(DosDateTimeToFileTime(date, time, &ft));
  EXPECT_EQ(ft, UnixSecondsToFileTime(1592224210));
  // 2000-02-29 is a leap day; 2100 is out of the DOS range anyway.
  uint16_t leap = static_cast<uint16_t>((20 << 9) | (2 << 5) | 29);
  EXPECT_TRUE(DosDateTimeToFileTime(leap, 0, &ft));
  EXPECT_EQ(ft, UnixSecondsToFileTime(951782400));
  FileTime untouched = FileTime::FromValue(42);
  FileTime out = untouched;
  EXPECT_FALSE(DosDateTimeToFileTime(0, 0, &out)) << "all zero";
  EXPECT_FALSE(DosDateTimeToFileTime((40 << 9) | (13 << 5) | 1, 0, &out));
  EXPECT_FALSE(DosDateTimeToFileTime((21 << 9) | (2 << 5) | 29, 0, &out))
      << "2001-02-29";
  EXPECT_FALSE(DosDateTimeToFileTime(date, (24 << 11), &out)) << "hour 24";
  EXPECT_FALSE(DosDateTimeToFileTime(date, 30, &out)) << "second 60";
  EXPECT_EQ(out, untouched);
}

TEST(AttributesTest, ReadOnlyIsMissingWriteBits) {
  EXPECT_EQ(FileModeForAttributes(kAttrNormal), 0666u);
  EXPECT_EQ(FileModeForAttributes(kAttrReadOnly | kAttrArchive), 0444u);
  EXPECT_EQ(AttributesForMode(S_IFREG | 0644), kAttrNormal);
  EXPECT_EQ(AttributesForMode(S_IFREG | 0444), kAttrReadOnly);
  EXPECT_EQ(AttributesForMode(S_IFDIR | 0755), kAttrDirectory);
}

TEST(TraceTest, SinkKeepsFormattedLines) {
  std::vector<std::string> lines;
  TraceSink old =
      SetTraceSink([&](const std::string& l) { lines.push_back(l); });
  Trace("zip file %s", "/tmp/QZ1.tmp");
  Trace("%d%%", 5);
  SetTraceSink(old);
  Trace("not kept");
  EXPECT_EQ(lines, (std::vector<std::string>{"zip file /tmp/QZ1.tmp", "5%"}));
}

}  // namespace
}  // namespace morva
