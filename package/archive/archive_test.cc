#include "package/archive/archive.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "package/archive/entry_data.h"
#include "platform/attributes.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "tests/faulty_files.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::ExtraBlock;
using testing::kZip64Offset;
using testing::kZip64Sizes;
using testing::ReadFile;
using testing::ScopedTempDir;
using testing::UtBlock;
using testing::WriteFile;
using testing::ZipEntryDef;
using testing::ZipWriter;

// ZipEntryDef's default date-time, 2020-06-15 12:24:00, read as UTC.
constexpr int64_t kDefaultDosSeconds = 1592223840;

FileTime Seconds(int64_t seconds) { return UnixSecondsToFileTime(seconds); }

// Bytes that deflate cannot shrink, like the scene images of a tour.
std::string Noise(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  for (char& c : out) {
    seed = seed * 1664525u + 1013904223u;
    c = static_cast<char>(seed >> 24);
  }
  return out;
}

std::string RawDeflate(const std::string& data) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
            Z_OK);
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

ZipEntryDef Entry(const std::string& name, const std::string& data,
                  int method = 8) {
  ZipEntryDef e;
  e.name = name;
  e.data = data;
  e.method = method;
  return e;
}

// An entry whose records declare `declared` bytes but whose stored data is
// `stored` (already compressed with `method`).
ZipEntryDef RawEntry(const std::string& name, const std::string& stored,
                     int method, uint32_t declared, uint32_t crc) {
  ZipEntryDef e = Entry(name, stored, method);
  e.raw = true;
  e.raw_uncompressed_size = declared;
  e.raw_crc = crc;
  return e;
}

uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()),
            static_cast<uInt>(data.size())));
}

// Replaces every occurrence of `from` with `to` (same length) in bytes.
int Patch(std::string* bytes, const std::string& from, const std::string& to) {
  int count = 0;
  for (size_t at = bytes->find(from); at != std::string::npos;
       at = bytes->find(from, at + 1)) {
    bytes->replace(at, to.size(), to);
    ++count;
  }
  return count;
}

FileInfo Stat(const std::string& path) { return testing::InfoOf(path); }

class CountingFiles : public FileSystemWrapper {
 public:
  CountingFiles() : FileSystemWrapper(RealFiles()) {}
  int64_t Read(FileHandle fd, void* buffer, size_t count) override {
    ++reads;
    return FileSystemWrapper::Read(fd, buffer, count);
  }
  int reads = 0;
};

class ArchiveTest : public ::testing::Test {
 protected:
  // Writes zip to a.zip in the test folder and opens it by name.
  ArchivePtr OpenWritten(const ZipWriter& zip) {
    zip.Write(archive_path());
    return OpenByName(archive_path());
  }
  std::string archive_path() const { return tmp_.Join("a.zip"); }
  std::string Bytes(const ZipWriter& zip) const {
    return zip.Bytes(tmp_.path());
  }

  static ArchivePtr OpenByName(const std::string& path) {
    return ArchivePtr(ArchiveOpen(path.c_str(), 0, ArchiveIoKind::ByFileName));
  }
  static ArchivePtr OpenInMemory(const std::string& bytes) {
    return ArchivePtr(ArchiveOpen(bytes.data(),
                                  static_cast<uint32_t>(bytes.size()),
                                  ArchiveIoKind::ByMemory));
  }
  static ArchiveEntry Get(ArchiveHandle* archive, int32_t index) {
    ArchiveEntry entry;
    EXPECT_EQ(ArchiveGetEntry(archive, index, &entry), ArchiveOk)
        << "entry " << index;
    return entry;
  }
  static ArchiveResult ExtractTo(ArchiveHandle* archive, int32_t index,
                                 const std::string& path) {
    return ArchiveExtractEntry(archive, index, const_cast<char*>(path.c_str()),
                               0, ArchiveIoKind::ByFileName);
  }
  // Through the system's handle behind a C library descriptor.
  static ArchiveResult ExtractToFd(ArchiveHandle* archive, int32_t index,
                                   int fd) {
    FileHandle handle = fd < 0 ? kNoFile : HandleOf(fd);
    return ArchiveExtractEntry(archive, index, &handle, 0,
                               ArchiveIoKind::ByHandle);
  }
  // The whole entry through memory extraction in chunks of `chunk` bytes.
  static std::string ReadInChunks(ArchiveHandle* archive, int32_t index,
                                  size_t chunk,
                                  std::vector<ArchiveResult>* results) {
    std::vector<char> buffer(chunk);
    std::string out;
    for (int guard = 0; guard < 100000; ++guard) {
      ArchiveResult r = ArchiveExtractEntry(archive, index, buffer.data(),
                                            static_cast<uint32_t>(chunk),
                                            ArchiveIoKind::ByMemory);
      results->push_back(r);
      if (r != ArchiveMore) break;
      out.append(buffer.data(), chunk);
    }
    return out;
  }

  ScopedTempDir tmp_;
};

// --- Opening --------------------------------------------------------------

TEST_F(ArchiveTest, OpensTheSameArchiveFromNameDescriptorAndMemory) {
  ZipWriter zip;
  zip.AddFile("tour/index.html", "<html></html>");
  const std::string bytes = Bytes(zip);
  WriteFile(archive_path(), bytes);

  const int fd = open(archive_path().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  FileHandle handle = HandleOf(fd);
  ArchivePtr archives[] = {
      OpenByName(archive_path()),
      ArchivePtr(ArchiveOpen(&handle, 0, ArchiveIoKind::ByHandle)),
      OpenInMemory(bytes),
  };
  for (const ArchivePtr& archive : archives) {
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->mode, kArchiveModeRead);
    EXPECT_EQ(Get(archive.get(), -1).index, 1);
    EXPECT_STREQ(Get(archive.get(), 0).name, "tour/index.html");
  }
  close(fd);
}

TEST_F(ArchiveTest, SpansFollowEachOtherFromTheArchivesFirstByte) {
  ZipWriter zip;
  ZipEntryDef stamped = Entry("b/stamped.txt", Noise(3000, 1));
  stamped.extra_local = UtBlock(1, {1400000000});
  zip.AddFile("a.txt", "alpha")
      .AddDir("b/")
      .Add(stamped)
      .Add(Entry("c.bin", Noise(20000, 2), 0));
  const std::string bytes = Bytes(zip);
  // Behind an executable the offsets still count from the archive's start.
  for (const std::string& front : {std::string(), std::string(1000, 'x')}) {
    SCOPED_TRACE(front.size());
    const std::string package = front + bytes;
    ArchivePtr archive = OpenInMemory(package);
    ASSERT_NE(archive, nullptr);
    uint64_t next = 0;
    for (int32_t i = 0; i < 4; ++i) {
      const ArchiveEntry entry = Get(archive.get(), i);
      ArchiveEntrySpan span;
      ASSERT_EQ(ArchiveGetEntrySpan(archive.get(), i, &span), ArchiveOk);
      // minizip's writer puts each header right after the previous data.
      EXPECT_EQ(span.header_offset, next) << entry.name;
      EXPECT_EQ(bytes.compare(span.header_offset, 4, "PK\x03\x04"), 0);
      const size_t name_length = std::strlen(entry.name);
      const size_t extra_length =
          static_cast<unsigned char>(bytes[span.header_offset + 28]) |
          static_cast<unsigned char>(bytes[span.header_offset + 29]) << 8;
      EXPECT_EQ(span.data_end, span.header_offset + 30 + name_length +
                                   extra_length + entry.compressed_size);
      next = span.data_end;
    }
    EXPECT_EQ(bytes.compare(next, 4, "PK\x01\x02"), 0)
        << "the central directory follows the last entry's data";
    ArchiveEntrySpan span;
    EXPECT_EQ(ArchiveGetEntrySpan(archive.get(), 4, &span),
              ArchiveBadArguments);
    EXPECT_EQ(ArchiveGetEntrySpan(archive.get(), -1, &span),
              ArchiveBadArguments);
    EXPECT_EQ(ArchiveGetEntrySpan(archive.get(), 0, nullptr),
              ArchiveBadArguments);
    EXPECT_EQ(ArchiveGetEntrySpan(nullptr, 0, &span), ArchiveBadArguments);
  }
  // A local header that disagrees with its record has no span either.
  std::string bad = bytes;
  bad[bad.find("PK\x03\x04") + 26] = 9;  // the local name length
  ArchivePtr archive = OpenInMemory(bad);
  ASSERT_NE(archive, nullptr);
  ArchiveEntrySpan span;
  EXPECT_EQ(ArchiveGetEntrySpan(archive.get(), 0, &span), ArchiveCorrupt);
  EXPECT_EQ(ArchiveGetEntrySpan(archive.get(), 1, &span), ArchiveOk);
}

TEST_F(ArchiveTest, RefusesWhatIsNoArchiveAndLeavesNothingOpen) {
  const int before = testing::OpenHandleCount();
  WriteFile(tmp_.Join("empty"), "");
  WriteFile(tmp_.Join("text"), std::string(5000, 'x'));
  ASSERT_EQ(mkdir(tmp_.Join("folder").c_str(), 0700), 0);
  for (const char* name : {"empty", "text", "folder", "missing"}) {
    EXPECT_EQ(OpenByName(tmp_.Join(name)), nullptr) << name;
  }
  EXPECT_EQ(OpenInMemory(""), nullptr);
  EXPECT_EQ(OpenInMemory(std::string(100, 'P')), nullptr);
  EXPECT_EQ(ArchiveOpen(nullptr, 10, ArchiveIoKind::ByMemory), nullptr);
  EXPECT_EQ(ArchiveOpen(nullptr, 0, ArchiveIoKind::ByFileName), nullptr);

  ZipWriter zip;
  zip.AddFile("a", "a");
  zip.Write(archive_path());
  EXPECT_EQ(
      ArchiveOpen(archive_path().c_str(), 0, static_cast<ArchiveIoKind>(4)),
      nullptr);
  EXPECT_EQ(
      ArchiveOpen(archive_path().c_str(), 0, static_cast<ArchiveIoKind>(0)),
      nullptr);

  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  FileHandle pipe_end = HandleOf(pipe_fds[0]);
  EXPECT_EQ(ArchiveOpen(&pipe_end, 0, ArchiveIoKind::ByHandle), nullptr)
      << "a pipe is no regular file";
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  FileHandle invalid = kNoFile;
  EXPECT_EQ(ArchiveOpen(&invalid, 0, ArchiveIoKind::ByHandle), nullptr);
  EXPECT_EQ(testing::OpenHandleCount(), before);
}

TEST_F(ArchiveTest, ReadsAnArchiveBehindAnExecutable) {
  ZipWriter zip;
  ZipEntryDef stamped = Entry("tour/scene.jpg", Noise(3000, 1));
  stamped.extra_local = UtBlock(1, {1300000000});
  zip.Add(stamped).AddFile("tour/autorun.inf", "[autorun]\n");
  const std::string package = "MZ" + Noise(70000, 2) + Bytes(zip);
  WriteFile(archive_path(), package);

  ArchivePtr archives[] = {OpenByName(archive_path()), OpenInMemory(package)};
  for (const ArchivePtr& archive : archives) {
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(Get(archive.get(), -1).index, 2);
    ArchiveEntry entry = Get(archive.get(), 0);
    EXPECT_STREQ(entry.name, "tour/scene.jpg");
    // The times come from the local extra field, which is only found where
    // it is when the leading bytes are accounted for.
    EXPECT_EQ(entry.write_time, Seconds(1300000000));
    EXPECT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("autorun.inf")), ArchiveOk);
    EXPECT_EQ(ReadFile(tmp_.Join("autorun.inf")), "[autorun]\n");
    unlink(tmp_.Join("autorun.inf").c_str());
  }
}

TEST_F(ArchiveTest, ReadsThroughADuplicateFromTheDescriptorsOffset) {
  ZipWriter zip;
  zip.AddFile("a.txt", "alpha").AddFile("b.txt", "beta");
  WriteFile(archive_path(), std::string(1234, 'J') + Bytes(zip));
  const int before = testing::OpenHandleCount();
  const int fd = open(archive_path().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(lseek(fd, 1234, SEEK_SET), 1234);
  FileHandle handle = HandleOf(fd);
  ArchiveHandle* archive = ArchiveOpen(&handle, 0, ArchiveIoKind::ByHandle);
  ASSERT_NE(archive, nullptr);
  close(fd);  // ours; the archive reads through its own duplicate
  EXPECT_EQ(Get(archive, -1).index, 2);
  EXPECT_EQ(ExtractTo(archive, 1, tmp_.Join("b.txt")), ArchiveOk);
  EXPECT_EQ(ReadFile(tmp_.Join("b.txt")), "beta");
  EXPECT_EQ(ArchiveClose(archive), ArchiveOk);
  EXPECT_EQ(testing::OpenHandleCount(), before);
}

TEST_F(ArchiveTest, HandleChecksComeFirst) {
  ZipWriter zip;
  zip.AddFile("a.txt", "alpha");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  ArchiveEntry entry;
  char buffer[8];
  std::string dest = tmp_.Join("out");

  archive->mode = 2;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ArchiveWrongMode);
  EXPECT_EQ(ExtractTo(archive.get(), 0, dest), ArchiveWrongMode);
  EXPECT_EQ(
      ArchiveExtractEntry(archive.get(), 0, buffer, 8, ArchiveIoKind::ByMemory),
      ArchiveWrongMode);
  EXPECT_EQ(ArchiveClose(archive.get()), ArchiveWrongMode);
  EXPECT_FALSE(testing::Exists(dest));
  archive->mode =
      kArchiveModeRead;  // still open: the failed close changed nothing
  EXPECT_STREQ(Get(archive.get(), 0).name, "a.txt");

  EXPECT_EQ(ArchiveGetEntry(nullptr, 0, &entry), ArchiveBadArguments);
  EXPECT_EQ(ArchiveExtractEntry(nullptr, 0, buffer, 8, ArchiveIoKind::ByMemory),
            ArchiveBadArguments);
  EXPECT_EQ(ArchiveClose(nullptr), ArchiveBadArguments);
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, buffer, 8,
                                static_cast<ArchiveIoKind>(7)),
            ArchiveBadArguments);
  EXPECT_EQ(ArchiveClose(archive.release()), ArchiveOk);
}

// --- Records --------------------------------------------------------------

TEST_F(ArchiveTest, CountRequestAndIndexRange) {
  ZipWriter zip;
  zip.AddDir("tour/").AddFile("tour/a.txt", "a").AddFile("tour/b.txt", "b");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  Get(archive.get(), 1);  // something in the cache that the count must not show

  ArchiveEntry count;
  count.attributes = 99;
  count.name[0] = 'x';
  ASSERT_EQ(ArchiveGetEntry(archive.get(), -1, &count), ArchiveOk);
  ArchiveEntry expected;
  expected.index = 3;
  EXPECT_EQ(count, expected) << "empty name, zero attributes, times and sizes";

  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 3, &entry), ArchiveBadArguments);
  EXPECT_EQ(ArchiveGetEntry(archive.get(), -2, &entry), ArchiveBadArguments);
  EXPECT_EQ(ExtractTo(archive.get(), 3, tmp_.Join("x")), ArchiveBadArguments);
  EXPECT_EQ(ExtractTo(archive.get(), -1, tmp_.Join("x")), ArchiveBadArguments);
  char buffer[4];
  EXPECT_EQ(
      ArchiveExtractEntry(archive.get(), 3, buffer, 4, ArchiveIoKind::ByMemory),
      ArchiveBadArguments);
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), -1, buffer, 4,
                                ArchiveIoKind::ByMemory),
            ArchiveBadArguments);
}

TEST_F(ArchiveTest, RecordCarriesNameSizesAndDosTime) {
  const std::string text(5000, 'a');
  ZipWriter zip;
  zip.AddDir("tour/").Add(Entry("tour/sub\\page.html", text));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);

  ArchiveEntry dir = Get(archive.get(), 0);
  EXPECT_EQ(dir.index, 0);
  EXPECT_STREQ(dir.name, "tour/");
  EXPECT_EQ(dir.attributes & kAttrDirectory, kAttrDirectory);

  ArchiveEntry file = Get(archive.get(), 1);
  EXPECT_EQ(file.index, 1);
  EXPECT_STREQ(file.name, "tour/sub\\page.html") << "separators as stored";
  EXPECT_EQ(file.uncompressed_size, 5000u);
  EXPECT_GT(file.compressed_size, 0u);
  EXPECT_LT(file.compressed_size, 100u);
  EXPECT_EQ(file.write_time, Seconds(kDefaultDosSeconds));
  EXPECT_EQ(file.access_time, Seconds(kDefaultDosSeconds));
  EXPECT_EQ(file.creation_time, Seconds(kDefaultDosSeconds));
}

TEST_F(ArchiveTest, RepeatedIndexIsServedFromTheCache) {
  // Entries larger than any read-ahead, so that each record needs reads.
  ZipWriter zip;
  for (int i = 0; i < 3; ++i)
    zip.Add(Entry("f" + std::to_string(i), Noise(40000, i), 0));
  zip.Write(archive_path());
  CountingFiles files;
  ScopedFileSystem scoped(&files);
  ArchivePtr archive = OpenByName(archive_path());
  ASSERT_NE(archive, nullptr);

  files.reads = 0;
  ArchiveEntry first = Get(archive.get(), 1);
  EXPECT_GT(files.reads, 0);
  files.reads = 0;
  ArchiveEntry second = Get(archive.get(), 1);
  EXPECT_EQ(files.reads, 0) << "the repeated request must not read the archive";
  EXPECT_EQ(first, second);
  EXPECT_EQ(archive->reader->cached_index, 1);

  // The count request leaves the cache alone; another index replaces it.
  Get(archive.get(), -1);
  files.reads = 0;
  EXPECT_EQ(Get(archive.get(), 1), first);
  EXPECT_EQ(files.reads, 0);
  Get(archive.get(), 0);
  EXPECT_GT(files.reads, 0);
  EXPECT_EQ(archive->reader->cached_index, 0);
  EXPECT_STREQ(Get(archive.get(), 2).name, "f2");
  EXPECT_STREQ(Get(archive.get(), 1).name, "f1") << "going back starts over";
}

TEST_F(ArchiveTest, EntriesComeInAnyOrderOnAnyNumberOfHandles) {
  // Long names make a central directory of about 50 KB: walking it from the
  // first record takes many reads, going back to a record seen takes one
  // or two.
  constexpr int kEntries = 200;
  ZipWriter zip;
  for (int i = 0; i < kEntries; ++i) {
    zip.Add(Entry(std::string(200, 'n') + std::to_string(i),
                  "entry " + std::to_string(i), i % 2 == 0 ? 8 : 0));
  }
  zip.Write(archive_path());
  CountingFiles files;
  ScopedFileSystem scoped(&files);
  ArchivePtr first = OpenByName(archive_path());
  ArchivePtr second = OpenByName(archive_path());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  // Backwards, alternating between the handles, as threads that share out
  // the entries largest first would.
  for (int i = kEntries - 1; i >= 0; --i) {
    ArchiveHandle* archive = i % 3 == 0 ? first.get() : second.get();
    const std::string path = tmp_.Join("out" + std::to_string(i));
    ASSERT_EQ(ExtractTo(archive, i, path), ArchiveOk) << i;
    EXPECT_EQ(ReadFile(path), "entry " + std::to_string(i));
  }
  files.reads = 0;
  EXPECT_EQ(Get(first.get(), 150).name, std::string(200, 'n') + "150");
  EXPECT_LE(files.reads, 2) << "no walk from the first record";
}

TEST_F(ArchiveTest, AttributesFromExternalAttributes) {
  struct Case {
    uint32_t external;
    uint32_t attributes;
  } const cases[] = {
      {0x81800020, 0xA0},  // regular file, owner-writable, archive bit
      {0x41C00010, 0x90},  // directory, owner-writable
      {0x00000020, 0xA1},  // DOS host: no mode, so read-only
      {0x00000010, 0x91}, {0x81A40000, 0x80},
      {0x41ED0000, 0x90},  // directory by its mode alone
      {0x81800002, 0x82},  // hidden
      {0x81800004, 0x84},  // system
      {0x81800001, 0x81},  // DOS read-only bit despite the mode
      {0x81240000, 0x81},  // mode without owner write
      {0x81800037, 0xB7},  // everything on a file
  };
  ZipWriter zip;
  for (size_t i = 0; i < std::size(cases); ++i) {
    ZipEntryDef e = Entry("e" + std::to_string(i), "x");
    e.external_attributes = cases[i].external;
    zip.Add(e);
  }
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(Get(archive.get(), static_cast<int32_t>(i)).attributes,
              cases[i].attributes)
        << std::hex << "external 0x" << cases[i].external;
  }
}

TEST_F(ArchiveTest, ANameEndingInASeparatorWithNoDataIsAFolder) {
  // Java's writer gives folder entries external attributes 0 (a DOS host).
  ZipEntryDef java = Entry("java/", "", 0);
  java.external_as_given = true;
  ZipEntryDef backslash = Entry("win\\", "", 8);
  backslash.external_attributes = 0x20;
  ZipWriter zip;
  zip.Add(java).Add(backslash).Add(Entry("looks/like/a/folder/", "content"));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(Get(archive.get(), 0).attributes,
            kAttrDirectory | kAttrNormal | kAttrReadOnly);
  EXPECT_EQ(Get(archive.get(), 1).attributes,
            kAttrDirectory | kAttrNormal | kAttrArchive | kAttrReadOnly);
  // A folder is not extracted: nothing is made, whatever the destination.
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("none/java")), ArchiveOk);
  EXPECT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("win")), ArchiveOk);
  EXPECT_FALSE(testing::Exists(tmp_.Join("win")));

  // With data it stays a file (0x81A40000), whatever its name says.
  EXPECT_EQ(Get(archive.get(), 2).attributes, kAttrNormal);
  EXPECT_EQ(ExtractTo(archive.get(), 2, tmp_.Join("out")), ArchiveOk);
  EXPECT_EQ(ReadFile(tmp_.Join("out")), "content");
}

TEST_F(ArchiveTest, CentralZip64FieldsAreReadWhereTheyFit) {
  const std::string text = "zip64 " + std::string(3000, 'z');
  const std::string image = Noise(20000, 3);
  ZipWriter zip;
  ZipEntryDef offset = Entry("offset.txt", text);
  offset.central_zip64 = kZip64Offset;
  ZipEntryDef sizes = Entry("sizes.bin", image, 0);
  sizes.central_zip64 = kZip64Sizes;
  sizes.extra_central = UtBlock(1, {1000000000});  // a block after it
  ZipEntryDef all = Entry("all.txt", text);
  all.central_zip64 = kZip64Sizes | kZip64Offset;
  all.extra_local = UtBlock(1, {1000000000});
  zip.AddFile("first.txt", "1").Add(offset).Add(sizes).Add(all);
  const std::string bytes = Bytes(zip);
  ArchivePtr archive = OpenInMemory(bytes);
  ASSERT_NE(archive, nullptr);
  const std::pair<std::string, std::string> expected[] = {{"first.txt", "1"},
                                                          {"offset.txt", text},
                                                          {"sizes.bin", image},
                                                          {"all.txt", text}};
  for (int32_t i = 0; i < 4; ++i) {
    const ArchiveEntry entry = Get(archive.get(), i);
    EXPECT_STREQ(entry.name, expected[i].first.c_str());
    EXPECT_EQ(entry.uncompressed_size, expected[i].second.size());
    EXPECT_EQ(ArchiveEntryProblem(archive.get(), i), "");
    const std::string out = tmp_.Join(entry.name);
    ASSERT_EQ(ExtractTo(archive.get(), i, out), ArchiveOk) << entry.name;
    EXPECT_EQ(ReadFile(out), expected[i].second) << entry.name;
    std::vector<ArchiveResult> results;
    EXPECT_EQ(ReadInChunks(archive.get(), i, 1 << 16, &results)
                  .substr(0, entry.uncompressed_size),
              expected[i].second)
        << entry.name;
    EXPECT_EQ(results, (std::vector<ArchiveResult>{ArchiveMore, ArchiveOk}));
  }
  EXPECT_EQ(Get(archive.get(), 3).write_time, Seconds(1000000000));

  // The local header is compared with the ZIP64 values: a local size that
  // disagrees with them is as corrupt as one that disagrees with the record.
  std::string other = bytes;
  const size_t local = other.find("sizes.bin") - 30;  // its local header
  ASSERT_EQ(other.compare(local, 4, "PK\x03\x04"), 0);
  other[local + 22] ^= 1;  // the uncompressed size
  archive = OpenInMemory(other);
  ASSERT_NE(archive, nullptr);
  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 2, &entry), ArchiveCorrupt);
  EXPECT_EQ(Get(archive.get(), 3).uncompressed_size, text.size());
}

TEST_F(ArchiveTest, Zip64ValuesBeyond32BitsRefuseTheirEntryWithAReason) {
  ZipEntryDef big = Entry("big.bin", "x", 0);
  big.central_zip64 = kZip64Sizes;
  ZipEntryDef far = Entry("far.txt", "y", 0);
  far.central_zip64 = kZip64Offset;
  ZipEntryDef short_block = Entry("short.txt", "z", 0);
  short_block.central_zip64 = kZip64Offset;
  std::string bytes =
      Bytes(ZipWriter().Add(big).Add(far).Add(short_block).AddFile("ok", "!"));
  // In each ZIP64 block (ID 1, then its size), set the high half of the
  // first value; make the third block too short for its value.
  const std::string id("\x01\x00", 2);
  size_t block = bytes.find(id + std::string("\x10\x00", 2));
  ASSERT_NE(block, std::string::npos);
  bytes[block + 4 + 4] = 1;  // 4 GiB more uncompressed
  block = bytes.find(id + std::string("\x08\x00", 2));
  ASSERT_NE(block, std::string::npos);
  bytes[block + 4 + 7] = 1;
  block = bytes.find(id + std::string("\x08\x00", 2), block + 1);
  ASSERT_NE(block, std::string::npos);
  bytes[block + 2] = 4;

  ArchivePtr archive = OpenInMemory(bytes);
  ASSERT_NE(archive, nullptr);
  ArchiveEntry entry;
  std::vector<char> buffer(10);
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(ArchiveGetEntry(archive.get(), i, &entry), ArchiveCorrupt) << i;
    EXPECT_EQ(ExtractTo(archive.get(), i, tmp_.Join("out")), ArchiveCorrupt);
    EXPECT_EQ(ArchiveExtractEntry(archive.get(), i, buffer.data(), 10,
                                  ArchiveIoKind::ByMemory),
              ArchiveInflateFailed);
    EXPECT_FALSE(testing::Exists(tmp_.Join("out")));
  }
  EXPECT_EQ(ArchiveEntryProblem(archive.get(), 0),
            "its size is 4 GiB or more (a ZIP64 entry); the player unpacks "
            "entries below 4 GiB only");
  EXPECT_EQ(ArchiveEntryProblem(archive.get(), 1),
            "it lies 4 GiB or more into the archive (a ZIP64 entry); the "
            "player reads archives below 4 GiB only");
  EXPECT_EQ(ArchiveEntryProblem(archive.get(), 2),
            "its ZIP64 extra block is too short for the sizes and place that "
            "its central record says it holds");
  EXPECT_STREQ(Get(archive.get(), 3).name, "ok");
  EXPECT_EQ(ArchiveEntryProblem(archive.get(), 3), "");
}

TEST_F(ArchiveTest, ExtraFieldsEndingInPaddingAreRead) {
  // Alignment tools pad a field with 1-3 bytes that are no block; the last
  // entry's padding sits right before the end record.
  for (const char pad : {'\0', '\xff'}) {
    for (size_t n = 1; n <= 3; ++n) {
      for (const std::string& first : {std::string(), UtBlock(1, {5})}) {
        const std::string field = first + std::string(n, pad);
        ZipEntryDef e = Entry("padded.txt", "text", 0);
        e.extra_local = e.extra_central = field;
        const std::string bytes = Bytes(ZipWriter().Add(e));
        ArchivePtr archive = OpenInMemory(bytes);
        const std::string what = std::to_string(n) + " bytes of " +
                                 std::to_string(pad & 0xFF) + " after " +
                                 std::to_string(first.size());
        ASSERT_NE(archive, nullptr) << what;
        const ArchiveEntry entry = Get(archive.get(), 0);
        EXPECT_EQ(entry.write_time,
                  Seconds(first.empty() ? kDefaultDosSeconds : 5))
            << what;
        EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("p")), ArchiveOk)
            << what;
        EXPECT_EQ(ReadFile(tmp_.Join("p")), "text") << what;
        unlink(tmp_.Join("p").c_str());
      }
    }
  }
}

TEST_F(ArchiveTest, TimesFromTheFirstUtBlockOfTheLocalExtraField) {
  struct Case {
    const char* what;
    std::string local;
    std::string central;
    int64_t write, access, creation;  // d: the DOS time
  };
  constexpr int64_t d = INT64_MIN;
  const Case cases[] = {
      {"flags 7", UtBlock(7, {1000000000, 1100000000, 900000000}), "",
       1000000000, 1100000000, 900000000},
      {"flags 1", UtBlock(1, {1000000000}), "", 1000000000, d, d},
      {"flags 2", UtBlock(2, {1100000000}), "", d, 1100000000, d},
      {"other ids only",
       ExtraBlock(0x7875, "\x01\x04\xe8\x03\x00\x00\x04\xe8\x03\x00\x00") +
           ExtraBlock(0x000A, std::string(32, '\0')),
       "", d, d, d},
      {"a big block first",
       ExtraBlock(0xCAFE, std::string(300, 'U')) + UtBlock(1, {1000000000}), "",
       1000000000, d, d},
      {"only the first UT counts",
       UtBlock(1, {1000000000}) + UtBlock(1, {1200000000}), "", 1000000000, d,
       d},
      {"central UT ignored", "", UtBlock(1, {1000000000}), d, d, d},
      {"four bytes are not walked", std::string("UT\x05\0", 4), "", d, d, d},
      {"values past the field are not read", UtBlock(7, {1000000000}), "",
       1000000000, d, d},
      {"truncated value", UtBlock(1, {1000000000}).substr(0, 7), "", d, d, d},
      {"negative seconds", UtBlock(3, {-86400, -1}), "", -86400, -1, d},
  };
  ZipWriter zip;
  for (const Case& c : cases) {
    ZipEntryDef e = Entry(c.what, "x");
    e.extra_local = c.local;
    e.extra_central = c.central;
    zip.Add(e);
  }
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i) {
    const Case& c = cases[i];
    ArchiveEntry entry = Get(archive.get(), i);
    auto expect = [](int64_t v) {
      return Seconds(v == d ? kDefaultDosSeconds : v);
    };
    EXPECT_EQ(entry.write_time, expect(c.write)) << c.what;
    EXPECT_EQ(entry.access_time, expect(c.access)) << c.what;
    EXPECT_EQ(entry.creation_time, expect(c.creation)) << c.what;
  }
  EXPECT_EQ(Get(archive.get(), 10).access_time.value(),
            static_cast<uint64_t>(kSecondsFrom1601To1970 - 1) * 10000000);
}

TEST_F(ArchiveTest, UtTimesWithTheTopBitSetGoTheWayTheDosDateGoes) {
  // 2076-06-01 12:00:00 and 1969-07-20 20:17:40 UTC, as 32 bits; a file of
  // 1969 has 1980-01-01 as its DOS date, the earliest there is.
  constexpr int64_t k2076 = 3358238400;
  constexpr int64_t k1969 = -14182940;
  const uint32_t dos2076 = ((96u << 9 | 6u << 5 | 1u) << 16) | 12u << 11;
  const uint32_t dos1980 = (1u << 5 | 1u) << 16;
  struct Case {
    const char* name;
    int64_t ut;
    uint32_t dos;
    int64_t expected;
  } const cases[] = {
      {"2076", k2076, dos2076, k2076},
      {"1969", k1969, dos1980, k1969},
      {"2076 with a DOS date of 2020", k2076, 0x50CF6300, k2076},
      {"no valid DOS date: unsigned", k1969, 0, k1969 + (int64_t{1} << 32)},
  };
  ZipWriter zip;
  for (const Case& c : cases) {
    ZipEntryDef e = Entry(c.name, "x");
    e.dos_date_time = c.dos;
    e.extra_local =
        UtBlock(3, {static_cast<int32_t>(c.ut), static_cast<int32_t>(c.ut)});
    zip.Add(e);
  }
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i) {
    const ArchiveEntry entry = Get(archive.get(), i);
    EXPECT_EQ(entry.write_time, Seconds(cases[i].expected)) << entry.name;
    EXPECT_EQ(entry.access_time, Seconds(cases[i].expected)) << entry.name;
    ASSERT_EQ(ExtractTo(archive.get(), i, tmp_.Join(entry.name)), ArchiveOk);
    EXPECT_EQ(testing::UnixSeconds(Stat(tmp_.Join(entry.name)).write_time),
              cases[i].expected)
        << entry.name;
  }
}

TEST_F(ArchiveTest, InvalidDosDateGivesZeroTimes) {
  ZipWriter zip;
  ZipEntryDef zero = Entry("zero", "x");
  zero.dos_date_time = 0;
  ZipEntryDef month13 = Entry("month13", "x");
  month13.dos_date_time = (40u << 25) | (13u << 21) | (1u << 16);
  ZipEntryDef stamped = Entry("stamped", "x");
  stamped.dos_date_time = 0;
  stamped.extra_local = UtBlock(1, {1000000000});
  zip.Add(zero).Add(month13).Add(stamped);
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (int32_t i : {0, 1}) {
    ArchiveEntry entry = Get(archive.get(), i);
    EXPECT_EQ(entry.write_time.value(), 0u) << entry.name;
    EXPECT_EQ(entry.access_time.value(), 0u) << entry.name;
    EXPECT_EQ(entry.creation_time.value(), 0u) << entry.name;
  }
  ArchiveEntry entry = Get(archive.get(), 2);
  EXPECT_EQ(entry.write_time, Seconds(1000000000));
  EXPECT_EQ(entry.access_time.value(), 0u);

  // Extraction then leaves the times the file system gave the new file.
  const time_t before = time(nullptr);
  ASSERT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("zero")), ArchiveOk);
  FileInfo st = Stat(tmp_.Join("zero"));
  EXPECT_GE(testing::UnixSeconds(st.write_time), before - 5);
  EXPECT_GE(testing::UnixSeconds(st.access_time), before - 5);
  ASSERT_EQ(ExtractTo(archive.get(), 2, tmp_.Join("stamped")), ArchiveOk);
  st = Stat(tmp_.Join("stamped"));
  EXPECT_EQ(testing::UnixSeconds(st.write_time), 1000000000);
  EXPECT_GE(testing::UnixSeconds(st.access_time), before - 5);
}

// --- Extraction to files and descriptors ----------------------------------

TEST_F(ArchiveTest, ExtractsStoredAndDeflatedEntriesWithTheirTimes) {
  const std::string image = Noise(100000, 7);
  const std::string text = "<html>" + std::string(70000, 'p') + "</html>";
  ZipWriter zip;
  ZipEntryDef stamped = Entry("image.jpg", image, 8);
  stamped.extra_local = UtBlock(3, {1234567890, 1234500000});
  zip.Add(stamped).Add(Entry("page.html", text, 0)).Add(Entry("empty", "", 8));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);

  ASSERT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("image.jpg")), ArchiveOk);
  ASSERT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("page.html")), ArchiveOk);
  ASSERT_EQ(ExtractTo(archive.get(), 2, tmp_.Join("empty")), ArchiveOk);
  // Times first: reading a file may move its access time.
  FileInfo st = Stat(tmp_.Join("image.jpg"));
  EXPECT_EQ(testing::UnixSeconds(st.write_time), 1234567890);
  EXPECT_EQ(FileTimeToUnixTime(st.write_time).tv_nsec, 0);
  EXPECT_EQ(testing::UnixSeconds(st.access_time), 1234500000);
  EXPECT_NE(st.permissions & 0200, 0u);
  st = Stat(tmp_.Join("page.html"));
  EXPECT_EQ(testing::UnixSeconds(st.write_time), kDefaultDosSeconds)
      << "the DOS time read as UTC";

  EXPECT_EQ(ReadFile(tmp_.Join("image.jpg")), image);
  EXPECT_EQ(ReadFile(tmp_.Join("page.html")), text);
  EXPECT_EQ(ReadFile(tmp_.Join("empty")), "");
}

TEST_F(ArchiveTest, DirectoryEntriesCreateNothing) {
  ZipWriter zip;
  zip.AddDir("tour/");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("tour")), ArchiveOk);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("missing/tour")), ArchiveOk);
  int fd = open(tmp_.Join("target").c_str(), O_WRONLY | O_CREAT, 0600);
  EXPECT_EQ(ExtractToFd(archive.get(), 0, fd), ArchiveOk);
  EXPECT_EQ(ExtractToFd(archive.get(), 0, -1), ArchiveOk);
  close(fd);
  EXPECT_EQ(tmp_.List(), (std::vector<std::string>{"a.zip", "target"}));
  EXPECT_EQ(ReadFile(tmp_.Join("target")), "");
}

TEST_F(ArchiveTest, ReplacesAWritableFileButNoReadOnlyOne) {
  ZipWriter zip;
  ZipEntryDef locked = Entry("locked.txt", "locked");
  locked.external_attributes = 0x81240000;  // r--r--r--
  zip.AddFile("new.txt", "new").Add(locked);
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);

  WriteFile(tmp_.Join("old.txt"), std::string(1000, 'o'));
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("old.txt")), ArchiveOk);
  EXPECT_EQ(ReadFile(tmp_.Join("old.txt")), "new") << "replaced and truncated";

  // A read-only record gives a file without write bits, which the next
  // extraction must not replace, even when we run as root.
  ASSERT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("locked.txt")), ArchiveOk);
  EXPECT_EQ(Stat(tmp_.Join("locked.txt")).permissions & 0222, 0u);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("locked.txt")),
            ArchiveNoFile);
  EXPECT_EQ(ReadFile(tmp_.Join("locked.txt")), "locked");

  // Replacing a writable file with a read-only record takes the write bits.
  WriteFile(tmp_.Join("was-writable"), "x");
  ASSERT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("was-writable")), ArchiveOk);
  EXPECT_EQ(Stat(tmp_.Join("was-writable")).permissions & 0222, 0u);
}

TEST_F(ArchiveTest, FilesKeepTheAttributesTheirRecordsGive) {
  // POSIX keeps read-only alone, as a mode; Windows keeps hidden and system
  // too. Wine reports every file as marked for archiving, so the archive
  // attribute is only expected where the record gives it.
#ifdef _WIN32
  constexpr uint32_t kKept = kAttrReadOnly | kAttrHidden | kAttrSystem;
#else
  constexpr uint32_t kKept = kAttrReadOnly;
#endif
  const uint32_t externals[] = {0x81800000, 0x81800002, 0x81800004, 0x81800020,
                                0x81800027};
  ZipWriter zip;
  for (size_t i = 0; i < std::size(externals); ++i) {
    ZipEntryDef e = Entry("e" + std::to_string(i), "data");
    e.external_attributes = externals[i];
    zip.Add(e);
  }
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  auto expect_as_recorded = [&](int32_t index, const std::string& path) {
    const uint32_t recorded = Get(archive.get(), index).attributes;
    const uint32_t on_disk = Stat(path).attributes;
    EXPECT_EQ(on_disk & kKept, recorded & kKept)
        << std::hex << "record 0x" << recorded << ", file 0x" << on_disk;
    if (kKept & kAttrHidden) {
      EXPECT_EQ(on_disk & recorded & kAttrArchive, recorded & kAttrArchive);
    }
  };
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(externals)); ++i) {
    const std::string path = tmp_.Join("e" + std::to_string(i));
    ASSERT_EQ(ExtractTo(archive.get(), i, path), ArchiveOk) << i;
    expect_as_recorded(i, path);
  }
  // A hidden file is replaced by a plain one, and the other way round.
  ASSERT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("e1")), ArchiveOk);
  expect_as_recorded(0, tmp_.Join("e1"));
  ASSERT_EQ(ExtractTo(archive.get(), 2, tmp_.Join("e0")), ArchiveOk);
  expect_as_recorded(2, tmp_.Join("e0"));
  ASSERT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("e0")), ArchiveOk);
  expect_as_recorded(1, tmp_.Join("e0"));
}

TEST_F(ArchiveTest, NoFileWhereNoPlainFileCanBeWritten) {
  ZipWriter zip;
  zip.AddFile("a.txt", "alpha");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  WriteFile(tmp_.Join("elsewhere"), "keep");
  if (kCanPlantLinks) {
    ASSERT_EQ(
        symlink(tmp_.Join("elsewhere").c_str(), tmp_.Join("link").c_str()), 0);
    ASSERT_EQ(
        symlink(tmp_.Join("nowhere").c_str(), tmp_.Join("dangling").c_str()),
        0);
  }
  ASSERT_EQ(mkdir(tmp_.Join("folder").c_str(), 0700), 0);
  if (kCanPlantFifos) {
    ASSERT_EQ(mkfifo(tmp_.Join("fifo").c_str(), 0600), 0);
  }

  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("missing/a.txt")),
            ArchiveNoFile);
  EXPECT_FALSE(testing::Exists(tmp_.Join("missing")));
  if (kCanPlantLinks) {
    EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("link")), ArchiveNoFile);
    EXPECT_EQ(ReadFile(tmp_.Join("elsewhere")), "keep");
    EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("dangling")),
              ArchiveNoFile);
    EXPECT_FALSE(testing::Exists(tmp_.Join("nowhere")));
  }
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("folder")), ArchiveNoFile);
  if (kCanPlantFifos) {
    EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("fifo")), ArchiveNoFile);
  }
  EXPECT_EQ(ExtractToFd(archive.get(), 0, -1), ArchiveNoFile);
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, nullptr, 0,
                                ArchiveIoKind::ByFileName),
            ArchiveNoFile);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("a.txt")), ArchiveOk)
      << "the handle stays usable";
}

TEST_F(ArchiveTest, WritesToADescriptorFromItsPositionAndLeavesItOpen) {
  ZipWriter zip;
  ZipEntryDef stamped = Entry("a.txt", "alpha");
  stamped.extra_local = UtBlock(1, {1400000000});
  zip.Add(stamped).AddFile("b.txt", "beta");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);

  int fd = open(tmp_.Join("out").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "HEAD:", 5), 5);
  EXPECT_EQ(ExtractToFd(archive.get(), 0, fd), ArchiveOk);
  EXPECT_EQ(ExtractToFd(archive.get(), 1, fd), ArchiveOk);
  EXPECT_EQ(write(fd, ":TAIL", 5), 5) << "the descriptor is still ours";
  close(fd);
  EXPECT_EQ(ReadFile(tmp_.Join("out")), "HEAD:alphabeta:TAIL");

  // A pipe takes the data but has no times to set.
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  EXPECT_EQ(ExtractToFd(archive.get(), 0, pipe_fds[1]), ArchiveOk);
  char got[16] = {};
  EXPECT_EQ(read(pipe_fds[0], got, sizeof got), 5);
  EXPECT_STREQ(got, "alpha");
  close(pipe_fds[0]);
  close(pipe_fds[1]);
}

TEST_F(ArchiveTest, FullDiskFailsTheExtractionAndKeepsWhatWasWritten) {
  ZipWriter zip;
  zip.Add(Entry("big", Noise(50000, 3)));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  {
    testing::FaultyFiles disk;
    disk.FillAfter(20000);
    ScopedFileSystem scoped(&disk);
    EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("big")),
              ArchiveWriteFailed);
  }
  EXPECT_EQ(ReadFile(tmp_.Join("big")).size(), 20000u);
  EXPECT_NE(testing::UnixSeconds(Stat(tmp_.Join("big")).write_time),
            kDefaultDosSeconds)
      << "no times after a failure";
}

// --- Hostile archives -----------------------------------------------------

TEST_F(ArchiveTest, UnsupportedMethodIsCorrupt) {
  const std::string data = "pretend this is bzip2";
  ZipWriter zip;
  zip.Add(RawEntry("method12", data, 12, 100, 0)).AddFile("ok.txt", "ok");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ArchiveCorrupt);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("method12")), ArchiveCorrupt);
  EXPECT_FALSE(testing::Exists(tmp_.Join("method12")));
  int fd = open(tmp_.Join("fd").c_str(), O_WRONLY | O_CREAT, 0600);
  EXPECT_EQ(ExtractToFd(archive.get(), 0, fd), ArchiveCorrupt);
  close(fd);
  std::vector<ArchiveResult> results;
  EXPECT_EQ(ReadInChunks(archive.get(), 0, 64, &results), "");
  EXPECT_EQ(results, std::vector<ArchiveResult>{ArchiveInflateFailed})
      << "the stored bytes are never handed out";
  EXPECT_STREQ(Get(archive.get(), 1).name, "ok.txt");
}

TEST_F(ArchiveTest, EncryptedEntriesAreReadButNeverExtracted) {
  ZipEntryDef secret;
  secret.name = "secret.txt";
  secret.data = "the plain text of an encrypted entry";
  secret.method = 0;  // stored: cipher text would come out as it is
  secret.password = "tour";
  ZipWriter zip;
  zip.AddFile("a.txt", "a").Add(secret).AddFile("b.txt", "b");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  // The record is fine: the unpack gets as far as this entry's name.
  EXPECT_STREQ(Get(archive.get(), 1).name, "secret.txt");
  ArchiveEntryFormat format;
  ASSERT_EQ(ArchiveGetEntryFormat(archive.get(), 1, &format), ArchiveOk);
  EXPECT_TRUE(format.encrypted);
  EXPECT_EQ(format.method, 0u);
  EXPECT_STREQ(format.name, "secret.txt");
  // No kind of extraction hands out a byte of it.
  EXPECT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("secret.txt")),
            ArchiveWriteFailed);
  EXPECT_FALSE(testing::Exists(tmp_.Join("secret.txt")));
  const int fd = open(tmp_.Join("fd").c_str(), O_WRONLY | O_CREAT, 0600);
  EXPECT_EQ(ExtractToFd(archive.get(), 1, fd), ArchiveWriteFailed);
  close(fd);
  EXPECT_EQ(testing::ReadFile(tmp_.Join("fd")), "");
  std::vector<ArchiveResult> results;
  EXPECT_EQ(ReadInChunks(archive.get(), 1, 64, &results), "");
  EXPECT_EQ(results, std::vector<ArchiveResult>{ArchiveInflateFailed});
  // The entries around it are untouched.
  EXPECT_EQ(ExtractTo(archive.get(), 2, tmp_.Join("b.txt")), ArchiveOk);
  ASSERT_EQ(ArchiveGetEntryFormat(archive.get(), 2, &format), ArchiveOk);
  EXPECT_FALSE(format.encrypted);
  EXPECT_EQ(format.method, 8u);

  EXPECT_EQ(ArchiveMethodName(12), "bzip2 (method 12)");
  EXPECT_EQ(ArchiveMethodName(14), "LZMA (method 14)");
  EXPECT_EQ(ArchiveMethodName(77), "method 77");
}

TEST_F(ArchiveTest, DataShorterThanDeclaredFailsTheExtraction) {
  const std::string data(50, 'd');
  ZipWriter zip;
  zip.Add(RawEntry("stored", data, 0, 100, Crc(data)))
      .Add(RawEntry("deflated", RawDeflate(data), 8, 100, Crc(data)));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (int32_t i : {0, 1}) {
    EXPECT_EQ(Get(archive.get(), i).uncompressed_size, 100u);
    const std::string path = tmp_.Join(Get(archive.get(), i).name);
    EXPECT_EQ(ExtractTo(archive.get(), i, path), ArchiveWriteFailed) << path;
    EXPECT_EQ(ReadFile(path), data);
    int fd = open((path + ".fd").c_str(), O_WRONLY | O_CREAT, 0600);
    EXPECT_EQ(ExtractToFd(archive.get(), i, fd), ArchiveWriteFailed) << path;
    close(fd);
  }
}

TEST_F(ArchiveTest, NeverWritesMoreThanDeclared) {
  const std::string data(100, 'd');
  ZipWriter zip;
  zip.Add(RawEntry("stored", data, 0, 60, Crc(data)))
      .Add(RawEntry("deflated", RawDeflate(data), 8, 60, Crc(data)));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (int32_t i : {0, 1}) {
    // minizip stops at the declared size; what lies beyond is never read.
    const std::string path = tmp_.Join(Get(archive.get(), i).name);
    EXPECT_EQ(ExtractTo(archive.get(), i, path), ArchiveOk);
    EXPECT_EQ(ReadFile(path), data.substr(0, 60)) << path;
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ArchiveExtractEntry(archive.get(), i, buffer, sizeof buffer,
                                  ArchiveIoKind::ByMemory),
              ArchiveMore);
    EXPECT_EQ(std::string(buffer, 80),
              data.substr(0, 60) + std::string(20, '#'));
    EXPECT_EQ(ArchiveExtractEntry(archive.get(), i, buffer, sizeof buffer,
                                  ArchiveIoKind::ByMemory),
              ArchiveOk);
  }
}

TEST_F(ArchiveTest, DataLongerThanDeclaredIsCutThereForEveryKind) {
  // A stored entry with more bytes than declared, and deflate streams that
  // inflate beyond the declared size (noise, and a megabyte of zeros).
  constexpr uint32_t kDeclared = 40000;
  const std::string noise = Noise(100000, 7);
  const std::string zeros(1 << 20, '\0');
  const std::string contents[] = {noise, noise, zeros};
  ZipWriter zip;
  zip.Add(RawEntry("stored", noise, 0, kDeclared,
                   Crc(noise.substr(0, kDeclared))))
      .Add(RawEntry("deflated", RawDeflate(noise), 8, kDeclared,
                    Crc(noise.substr(0, kDeclared))))
      .Add(RawEntry("zeros", RawDeflate(zeros), 8, kDeclared,
                    Crc(zeros.substr(0, kDeclared))));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  for (int32_t i = 0; i < 3; ++i) {
    const std::string name = Get(archive.get(), i).name;
    SCOPED_TRACE(name);
    const std::string expected = contents[i].substr(0, kDeclared);

    EXPECT_EQ(ExtractTo(archive.get(), i, tmp_.Join(name)), ArchiveOk);
    EXPECT_EQ(ReadFile(tmp_.Join(name)), expected);

    const std::string fd_path = tmp_.Join(name + ".fd");
    int fd = open(fd_path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ExtractToFd(archive.get(), i, fd), ArchiveOk);
    EXPECT_EQ(write(fd, "|", 1), 1) << "nothing more was written before this";
    close(fd);
    EXPECT_EQ(ReadFile(fd_path), expected + "|");

    // 5,000 divides the declared size: eight full chunks, then the end.
    std::vector<ArchiveResult> results;
    EXPECT_EQ(ReadInChunks(archive.get(), i, 5000, &results), expected);
    std::vector<ArchiveResult> chunks(8, ArchiveMore);
    chunks.push_back(ArchiveOk);
    EXPECT_EQ(results, chunks);
  }
}

// Data that deflate codes with Huffman tables rather than storing it, so that
// inflating it is real work: bytes of six bits.
std::string Coded(size_t size, uint32_t seed) {
  std::string out = Noise(size, seed);
  for (char& c : out) c = static_cast<char>(c & 0x3F);
  return out;
}

// Raw deflate of data in two parts: the first `split` bytes end on a full
// flush, so the second part's bytes can be damaged without touching what
// the first part inflates to. *second is where the second part starts.
std::string RawDeflateInTwo(const std::string& data, size_t split,
                            size_t* second) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY),
            Z_OK);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(split);
  EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
  *second = z.total_out;
  z.avail_in = static_cast<uInt>(data.size() - split);
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST_F(ArchiveTest, LargeAndSmallEntriesGiveTheSameResults) {
  // Entries up to kWholeEntryLimit are inflated whole, larger ones streamed:
  // every kind of data gives the same result and the same bytes either way.
  for (const size_t size : {kWholeEntryLimit / 4, kWholeEntryLimit * 3 / 2}) {
    SCOPED_TRACE(size);
    const std::string data = Coded(size, static_cast<uint32_t>(size));
    const uint32_t full = static_cast<uint32_t>(size);
    size_t second = 0;
    std::string tail_damaged = RawDeflateInTwo(data, size / 2, &second);
    for (size_t at = second + 10; at < tail_damaged.size(); at += 97)
      tail_damaged[at] = '\xFF';
    const std::string deflated = RawDeflate(data);
    struct Case {
      const char* what;
      ZipEntryDef entry;
      ArchiveResult result;
      std::string expected;  // the file's bytes (a prefix for a failure)
    } cases[] = {
        {"intact", RawEntry("intact", deflated, 8, full, Crc(data)), ArchiveOk,
         data},
        {"longer than declared",
         RawEntry("longer", deflated, 8, full - 1000, 0), ArchiveOk,
         data.substr(0, size - 1000)},
        {"damaged after the declared bytes",
         RawEntry("tail", tail_damaged, 8, full / 2, 0), ArchiveOk,
         data.substr(0, size / 2)},
        {"ends before the declared bytes",
         RawEntry("shorter", deflated, 8, full + 1000, 0), ArchiveWriteFailed,
         data},
        {"stored bytes cut short",
         RawEntry("cut", deflated.substr(0, deflated.size() / 2), 8, full, 0),
         ArchiveWriteFailed, data.substr(0, size / 2)},
        {"stored", RawEntry("stored", data, 0, full - 1, 0), ArchiveOk,
         data.substr(0, size - 1)},
        // All of it from the first few stored bytes.
        {"compressed to little",
         RawEntry("zeros", RawDeflate(std::string(size, '\0')), 8, full, 0),
         ArchiveOk, std::string(size, '\0')},
    };
    ZipWriter zip;
    for (const Case& c : cases) zip.Add(c.entry);
    ArchivePtr archive = OpenWritten(zip);
    ASSERT_NE(archive, nullptr);
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i) {
      const Case& c = cases[i];
      SCOPED_TRACE(c.what);
      const std::string path = tmp_.Join(c.entry.name);
      EXPECT_EQ(ExtractTo(archive.get(), i, path), c.result);
      const std::string written = ReadFile(path);
      if (c.result == ArchiveOk) {
        EXPECT_TRUE(written == c.expected) << written.size();
      } else {
        // As far as the data could be inflated, and right that far.
        EXPECT_LT(written.size(), Get(archive.get(), i).uncompressed_size);
        EXPECT_GE(written.size(), c.expected.size() / 2);
        EXPECT_TRUE(written == data.substr(0, written.size()));
      }
    }
  }
}

TEST_F(ArchiveTest, CrcMismatchChangesNoResult) {
  ZipWriter zip;
  zip.Add(RawEntry("wrong-crc", "abc", 0, 3, 0x12345678))
      .Add(RawEntry("wrong-crc-deflated", RawDeflate("abcabc"), 8, 6, 1));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("a")), ArchiveOk);
  EXPECT_EQ(ReadFile(tmp_.Join("a")), "abc");
  EXPECT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("b")), ArchiveOk);
  EXPECT_EQ(ReadFile(tmp_.Join("b")), "abcabc");
  std::vector<ArchiveResult> results;
  EXPECT_EQ(ReadInChunks(archive.get(), 0, 3, &results), "abc");
  EXPECT_EQ(results, (std::vector<ArchiveResult>{ArchiveMore, ArchiveOk}));
}

TEST_F(ArchiveTest, VerifyComparesTheDataWithTheCentralRecord) {
  const std::string data = Noise(40000, 7);
  const std::string fifty(50, 'd');
  ZipWriter zip;
  zip.Add(Entry("good", data))                                        // 0
      .Add(Entry("good-stored", data, 0))                             // 1
      .AddDir("folder/")                                              // 2
      .Add(RawEntry("wrong-crc", "abc", 0, 3, 0x12345678))            // 3
      .Add(RawEntry("short", RawDeflate(fifty), 8, 100, Crc(fifty)))  // 4
      .Add(RawEntry("long", fifty, 0, 30, Crc(fifty)))                // 5
      .Add(RawEntry("garbage", "not deflate data", 8, 9, 1));         // 6
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  auto verify = [&](int32_t index) {
    ArchiveEntryCheck check;
    EXPECT_EQ(ArchiveVerifyEntry(archive.get(), index, &check), ArchiveOk);
    return check;
  };
  for (int32_t i : {0, 1}) {
    ArchiveEntryCheck check = verify(i);
    EXPECT_TRUE(check.intact()) << i;
    EXPECT_EQ(check.crc, Crc(data));
    EXPECT_EQ(check.size, data.size());
  }
  EXPECT_TRUE(verify(2).intact());

  ArchiveEntryCheck check = verify(3);
  EXPECT_FALSE(check.intact());
  EXPECT_TRUE(check.readable);
  EXPECT_EQ(check.recorded_crc, 0x12345678u);
  EXPECT_EQ(check.crc, Crc("abc"));
  EXPECT_EQ(check.size, 3u);

  check = verify(4);
  EXPECT_FALSE(check.intact());
  EXPECT_EQ(check.crc, check.recorded_crc);
  EXPECT_EQ(check.size, 50u);
  EXPECT_EQ(check.recorded_size, 100u);

  // Data beyond the recorded size is never read; the CRC-32 shows it.
  check = verify(5);
  EXPECT_FALSE(check.intact());
  EXPECT_EQ(check.size, 30u);
  EXPECT_EQ(check.crc, Crc(fifty.substr(0, 30)));

  EXPECT_FALSE(verify(6).readable);

  // The handle stays usable, and the usual argument checks apply.
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("out")), ArchiveOk);
  EXPECT_EQ(ReadFile(tmp_.Join("out")), data);
  EXPECT_EQ(ArchiveVerifyEntry(archive.get(), 7, &check), ArchiveBadArguments);
  EXPECT_EQ(ArchiveVerifyEntry(archive.get(), -1, &check), ArchiveBadArguments);
  EXPECT_EQ(ArchiveVerifyEntry(nullptr, 0, &check), ArchiveBadArguments);
}

TEST_F(ArchiveTest, NamesThatDoNotFitTheRecordAreCorrupt) {
  const std::string longest(259, 'n');
  ZipWriter zip;
  zip.AddFile(longest, "fits")
      .AddFile(std::string(260, 'm'), "too long")
      .AddFile(std::string(300, 'l'), "too long")
      .AddFile("bad_name.txt", "nul");
  std::string bytes = Bytes(zip);
  ASSERT_EQ(Patch(&bytes, "bad_name.txt", std::string("bad\0name.txt", 12)), 2)
      << "the local and the central name";
  WriteFile(archive_path(), bytes);
  ArchivePtr archive = OpenByName(archive_path());
  ASSERT_NE(archive, nullptr);

  ArchiveEntry entry = Get(archive.get(), 0);
  EXPECT_EQ(std::string(entry.name), longest);
  for (int32_t i : {1, 2, 3}) {
    ArchiveEntry untouched;
    untouched.index = 42;
    EXPECT_EQ(ArchiveGetEntry(archive.get(), i, &untouched), ArchiveCorrupt)
        << i;
    EXPECT_EQ(untouched.index, 42);
    EXPECT_EQ(ExtractTo(archive.get(), i, tmp_.Join("out")), ArchiveCorrupt)
        << i;
  }
  EXPECT_FALSE(testing::Exists(tmp_.Join("out")));
  EXPECT_EQ(Get(archive.get(), 0), entry);
}

TEST_F(ArchiveTest, LocalHeaderThatDisagreesIsCorrupt) {
  ZipWriter zip;
  zip.AddFile("first.txt", "first").AddFile("second.txt", "second");
  std::string bytes = Bytes(zip);
  // The second local header's signature.
  const size_t second = bytes.find("PK\x03\x04", 4);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 3] = '\x05';
  ArchivePtr archive = OpenInMemory(bytes);
  ASSERT_NE(archive, nullptr);
  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 1, &entry), ArchiveCorrupt);
  EXPECT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("second.txt")),
            ArchiveCorrupt);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("first.txt")), ArchiveOk);
}

TEST_F(ArchiveTest, UnreadableLocalExtraFieldIsAReadFailure) {
  ZipWriter zip;
  zip.AddFile("a.txt", "alpha");
  std::string bytes = Bytes(zip);
  ASSERT_EQ(bytes.compare(0, 4, "PK\x03\x04"), 0);
  bytes[28] = '\xFF';  // local extra length: far past the end of the archive
  bytes[29] = '\xFF';
  ArchivePtr archive = OpenInMemory(bytes);
  ASSERT_NE(archive, nullptr);
  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 0, &entry), ArchiveReadFailed);
  EXPECT_EQ(ExtractTo(archive.get(), 0, tmp_.Join("a.txt")), ArchiveReadFailed);
}

TEST_F(ArchiveTest, DirectoryThatCannotBeWalkedStopsWithCorrupt) {
  ZipWriter zip;
  zip.AddFile("a", "1").AddFile("b", "2").AddFile("c", "3");
  std::string bytes = Bytes(zip);
  const size_t central = bytes.find("PK\x01\x02");
  const size_t second = bytes.find("PK\x01\x02", central + 1);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 3] = '\x07';
  ArchivePtr archive = OpenInMemory(bytes);
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(Get(archive.get(), -1).index, 3);
  ArchiveEntry entry;
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 2, &entry), ArchiveCorrupt);
  EXPECT_EQ(ArchiveGetEntry(archive.get(), 1, &entry), ArchiveCorrupt);
  EXPECT_EQ(ExtractTo(archive.get(), 2, tmp_.Join("c")), ArchiveCorrupt);
  char buffer[4];
  EXPECT_EQ(
      ArchiveExtractEntry(archive.get(), 2, buffer, 4, ArchiveIoKind::ByMemory),
      ArchiveInflateFailed);
  EXPECT_STREQ(Get(archive.get(), 0).name, "a") << "the walk starts over";
}

TEST_F(ArchiveTest, DamagedArchivesNeverCrash) {
  ZipWriter zip;
  ZipEntryDef stamped = Entry("dir/a.txt", std::string(300, 'a'));
  stamped.extra_local = UtBlock(7, {1, 2, 3});
  zip.AddDir("dir/").Add(stamped).Add(Entry("b.bin", Noise(200, 9), 0));
  const std::string good = Bytes(zip);
  auto exercise = [&](const std::string& bytes) {
    ArchivePtr archive = OpenInMemory(bytes);
    if (archive == nullptr) return;
    ArchiveEntry entry;
    ArchiveGetEntry(archive.get(), -1, &entry);
    for (int32_t i = 0; i < entry.index && i < 8; ++i) {
      ArchiveEntry record;
      const bool valid =
          ArchiveGetEntry(archive.get(), i, &record) == ArchiveOk;
      std::vector<ArchiveResult> results;
      std::string data = ReadInChunks(archive.get(), i, 100, &results);
      if (valid) {
        EXPECT_LT(data.size(), record.uncompressed_size + 100);
      }
      int fd =
          open(tmp_.Join("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ExtractToFd(archive.get(), i, fd);
      close(fd);
      if (ArchiveGetEntry(archive.get(), i, &record) == ArchiveOk) {
        EXPECT_LE(ReadFile(tmp_.Join("out")).size(), record.uncompressed_size);
      }
    }
  };
  for (size_t cut = 0; cut < good.size(); ++cut) exercise(good.substr(0, cut));
  for (size_t at = 0; at < good.size(); ++at) {
    for (unsigned char value : {0x00, 0xFF, 0x7F}) {
      std::string bytes = good;
      bytes[at] = static_cast<char>(value);
      exercise(bytes);
    }
  }
}

// --- Extraction to memory -------------------------------------------------

TEST_F(ArchiveTest, MemoryExtractionComesInChunks) {
  const std::string hundred = Noise(100, 5);
  ZipWriter zip;
  zip.Add(Entry("hundred", hundred))
      .AddDir("dir/")
      .Add(Entry("stored", "stored", 0));
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  Get(archive.get(), 2);

  char buffer[64];
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, buffer, 64,
                                ArchiveIoKind::ByMemory),
            ArchiveMore);
  EXPECT_EQ(std::string(buffer, 64), hundred.substr(0, 64));
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, buffer, 64,
                                ArchiveIoKind::ByMemory),
            ArchiveMore);
  EXPECT_EQ(std::string(buffer, 36), hundred.substr(64));
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, buffer, 64,
                                ArchiveIoKind::ByMemory),
            ArchiveOk);
  EXPECT_EQ(archive->reader->current_entry, -1);
  EXPECT_EQ(archive->reader->cached_index, 2)
      << "memory extraction leaves the cache";

  std::vector<ArchiveResult> results;
  EXPECT_EQ(ReadInChunks(archive.get(), 1, 64, &results), "");
  EXPECT_EQ(results, std::vector<ArchiveResult>{ArchiveOk})
      << "a directory has no data";
  results.clear();
  EXPECT_EQ(ReadInChunks(archive.get(), 2, 3, &results), "stored");
  EXPECT_EQ(results.size(), 3u);
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 0, nullptr, 64,
                                ArchiveIoKind::ByMemory),
            ArchiveBadArguments);
}

TEST_F(ArchiveTest, OtherCallsCloseTheMemoryEntry) {
  const std::string hundred = Noise(100, 6);
  ZipWriter zip;
  zip.Add(Entry("hundred", hundred)).AddFile("other", "other");
  ArchivePtr archive = OpenWritten(zip);
  ASSERT_NE(archive, nullptr);
  char buffer[64];
  auto first_chunk_again = [&] {
    return ArchiveExtractEntry(archive.get(), 0, buffer, 64,
                               ArchiveIoKind::ByMemory) == ArchiveMore &&
           std::string(buffer, 64) == hundred.substr(0, 64);
  };
  ASSERT_TRUE(first_chunk_again());
  Get(archive.get(), 0);
  EXPECT_TRUE(first_chunk_again()) << "after a record";
  EXPECT_EQ(ExtractTo(archive.get(), 1, tmp_.Join("other")), ArchiveOk);
  EXPECT_TRUE(first_chunk_again()) << "after a file extraction";
  EXPECT_EQ(ArchiveExtractEntry(archive.get(), 1, buffer, 64,
                                ArchiveIoKind::ByMemory),
            ArchiveMore);
  EXPECT_TRUE(first_chunk_again()) << "after another index";
  EXPECT_EQ(archive->reader->current_entry, 0);
  // Closing with an entry open releases everything (the sanitizer build
  // checks for leaks).
}

}  // namespace
}  // namespace morva
