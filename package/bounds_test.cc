#include "package/bounds.h"

#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "package/unpack.h"
#include "platform/files.h"
#include "tests/faulty_files.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::FaultyFiles;
using testing::LittleEndian32;
using testing::ZipEntryDef;
using testing::ZipWriter;
using Tree = std::vector<std::string>;

constexpr uint64_t kMiB = 1 << 20;
// The largest size a record can declare without ZIP64.
constexpr uint32_t kMaxDeclared = 0xFFFFFFFF;

std::string LittleEndian16(uint16_t value) {
  return LittleEndian32(value).substr(0, 2);
}

// `count` zero bytes as a raw deflate stream, made in pieces so that no
// buffer of that size is ever held. *crc receives their CRC-32.
std::string DeflateZeros(uint64_t count, uint32_t* crc) {
  const std::string zeros(kMiB, '\0');
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY),
            Z_OK);
  std::string out;
  char buffer[65536];
  uLong sum = crc32(0, nullptr, 0);
  for (uint64_t left = count;;) {
    const uInt piece =
        static_cast<uInt>(std::min<uint64_t>(left, zeros.size()));
    left -= piece;
    sum = crc32(sum, reinterpret_cast<const Bytef*>(zeros.data()), piece);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = piece;
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    int rc;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buffer);
      z.avail_out = sizeof buffer;
      rc = deflate(&z, flush);
      out.append(buffer, sizeof buffer - z.avail_out);
    } while (z.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
    if (left == 0) break;
  }
  deflateEnd(&z);
  *crc = static_cast<uint32_t>(sum);
  return out;
}

// An entry whose records declare `declared` bytes but store `stored`
// (already deflated).
ZipEntryDef Deflated(const std::string& name, const std::string& stored,
                     uint32_t declared, uint32_t crc) {
  ZipEntryDef e;
  e.name = name;
  e.data = stored;
  e.raw = true;
  e.raw_uncompressed_size = declared;
  e.raw_crc = crc;
  return e;
}

// ZIP records written byte by byte, for layouts no writer produces.
struct Record {
  std::string name;
  uint16_t method = 0;
  uint16_t flags = 0;  // bit 3: sizes and CRC in a descriptor after the data
  uint32_t crc = 0;
  uint32_t compressed = 0;
  uint32_t uncompressed = 0;
  std::string extra;  // local extra field
};

std::string LocalHeader(const Record& r) {
  const bool descriptor = (r.flags & 8) != 0;
  return "PK\x03\x04" + LittleEndian16(20) + LittleEndian16(r.flags) +
         LittleEndian16(r.method) + LittleEndian32(0x50CF6300) +
         LittleEndian32(descriptor ? 0 : r.crc) +
         LittleEndian32(descriptor ? 0 : r.compressed) +
         LittleEndian32(descriptor ? 0 : r.uncompressed) +
         LittleEndian16(static_cast<uint16_t>(r.name.size())) +
         LittleEndian16(static_cast<uint16_t>(r.extra.size())) + r.name +
         r.extra;
}

std::string CentralRecord(const Record& r, uint32_t offset) {
  return "PK\x01\x02" + LittleEndian16(0x0314) + LittleEndian16(20) +
         LittleEndian16(r.flags) + LittleEndian16(r.method) +
         LittleEndian32(0x50CF6300) + LittleEndian32(r.crc) +
         LittleEndian32(r.compressed) + LittleEndian32(r.uncompressed) +
         LittleEndian16(static_cast<uint16_t>(r.name.size())) +
         std::string(8, '\0') + LittleEndian32(0x81A40000) +
         LittleEndian32(offset) + r.name;
}

// Appends the central directory and its end record to `entries` (the local
// headers and data).
std::string Finish(const std::string& entries,
                   const std::vector<std::string>& central) {
  std::string directory;
  for (const std::string& c : central) directory += c;
  const uint16_t count = static_cast<uint16_t>(central.size());
  return entries + directory + "PK\x05\x06" + std::string(4, '\0') +
         LittleEndian16(count) + LittleEndian16(count) +
         LittleEndian32(static_cast<uint32_t>(directory.size())) +
         LittleEndian32(static_cast<uint32_t>(entries.size())) +
         LittleEndian16(0);
}

Record Stored(const std::string& name, const std::string& data) {
  const uint32_t size = static_cast<uint32_t>(data.size());
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(data.data()), size));
  return Record{name, 0, 0, crc, size, size, ""};
}

class BoundsTest : public ::testing::Test {
 protected:
  // Unpacks the archive bytes as the player would, with `files` installed.
  int Unpack(const std::string& bytes, FileSystem* files = RealFiles()) {
    zip_path_ = tmp_.Join("QZARCHIVE.tmp");
    testing::WriteFile(zip_path_, bytes);
    ScopedFileSystem scope(files);
    content_.clear();
    work_.clear();
    return UnpackTempZip(&zip_path_, &content_, &work_, &report_);
  }
  int Unpack(const ZipWriter& zip, FileSystem* files = RealFiles()) {
    return Unpack(zip.Bytes(tmp_.path()), files);
  }
  // A refusal leaves the work folder empty: not one entry was written.
  void ExpectRefused(UnpackStatus status) {
    EXPECT_EQ(report_.status, status);
    EXPECT_EQ(content_, work_);
    EXPECT_EQ(ListTree(work_), Tree{});
    EXPECT_FALSE(testing::Exists(tmp_.Join("QZARCHIVE.tmp")));
  }
  ArchivePtr Open(const std::string& bytes) {
    testing::WriteFile(tmp_.Join("open.zip"), bytes);
    return ArchivePtr(ArchiveOpen(tmp_.Join("open.zip").c_str(), 0,
                                  ArchiveIoKind::ByFileName));
  }

  testing::ScopedTempDir tmp_;
  std::string zip_path_, content_, work_;
  UnpackReport report_;
};

// --- Records that overlap -----------------------------------------------

TEST_F(BoundsTest, ManyRecordsOnOneLocalHeaderAreRefused) {
  // One megabyte of zeros, deflated once, named by 50 central records: the
  // archive is about a kilobyte and unpacks to 50 MB.
  uint32_t crc = 0;
  const std::string kernel = DeflateZeros(kMiB, &crc);
  Record r{"k0000", 8, 0, crc, static_cast<uint32_t>(kernel.size()), kMiB, ""};
  std::vector<std::string> central;
  for (int i = 0; i < 50; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "k%04d", i);
    Record named = r;
    named.name = name;  // same length as the local name, as minizip checks
    central.push_back(CentralRecord(named, 0));
  }
  const std::string bomb = Finish(LocalHeader(r) + kernel, central);
  ASSERT_LT(bomb.size(), 10000u);

  // Without the check the reader would indeed give a megabyte per record.
  {
    ArchivePtr archive = Open(bomb);
    ASSERT_NE(archive, nullptr);
    for (int32_t i : {0, 49}) {
      const std::string out = tmp_.Join("out" + std::to_string(i));
      EXPECT_EQ(
          ArchiveExtractEntry(archive.get(), i, const_cast<char*>(out.c_str()),
                              0, ArchiveIoKind::ByFileName),
          ArchiveOk);
      EXPECT_EQ(testing::ReadFile(out).size(), kMiB);
      ASSERT_TRUE(RemoveFile(out));
    }
  }
  RemoveFile(tmp_.Join("open.zip"));

  EXPECT_EQ(Unpack(bomb), 0);
  ExpectRefused(UnpackStatus::kOverlapping);
  EXPECT_EQ(report_.entry, "k0001");
}

TEST_F(BoundsTest, AHeaderInsideAnotherEntrysBytesIsRefused) {
  const std::string inner = LocalHeader(Stored("b", "bbbb")) + "bbbb";
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      // Entry a's stored data quotes entry b whole, header included.
      {"in the data", Finish(LocalHeader(Stored("a", inner)) + inner,
                             {CentralRecord(Stored("a", inner), 0),
                              CentralRecord(Stored("b", "bbbb"), 31)})},
      // Entry a's local extra field holds entry b; a's own data follows.
      {"in the extra field",
       [&] {
         Record a = Stored("a", "aa");
         a.extra = inner;
         return Finish(
             LocalHeader(a) + "aa",
             {CentralRecord(a, 0), CentralRecord(Stored("b", "bbbb"), 31)});
       }()},
      // b's header starts on a's last data byte.
      {"on the last byte",
       [&] {
         const std::string b_bytes = LocalHeader(Stored("b", "bbbb")) + "bbbb";
         const Record a = Stored("a", "aaa");
         std::string entries = LocalHeader(a) + "aa" + b_bytes;
         return Finish(entries, {CentralRecord(a, 0),
                                 CentralRecord(Stored("b", "bbbb"), 31 + 2)});
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      ArchivePtr archive = Open(c.bytes);
      ASSERT_NE(archive, nullptr);
      ArchiveEntry b;
      ASSERT_EQ(ArchiveGetEntry(archive.get(), 1, &b), ArchiveOk)
          << "each record is readable on its own";
    }
    EXPECT_EQ(Unpack(c.bytes), 0);
    ExpectRefused(UnpackStatus::kOverlapping);
    EXPECT_EQ(report_.entry, "b");
  }
}

TEST_F(BoundsTest, LayoutsWritersProduceArePassed) {
  // Data descriptors and junk between entries leave gaps; a central
  // directory may list the entries in another order than they lie.
  Record a = Stored("a.txt", "alpha");
  a.flags = 8;
  const std::string descriptor = "PK\x07\x08" + LittleEndian32(a.crc) +
                                 LittleEndian32(5) + LittleEndian32(5);
  const std::string first = LocalHeader(a) + "alpha" + descriptor + "junk";
  const Record b = Stored("qzviewer.swf", "FWS");
  const std::string bytes =
      Finish(first + LocalHeader(b) + "FWS",
             {CentralRecord(b, static_cast<uint32_t>(first.size())),
              CentralRecord(a, 0)});
  EXPECT_EQ(Unpack(bytes), 1);
  EXPECT_EQ(report_.status, UnpackStatus::kOk);
  EXPECT_EQ(ListTree(work_), (Tree{"a.txt", "qzviewer.swf"}));
  EXPECT_EQ(testing::ReadFile(work_ + "/a.txt"), "alpha");
}

TEST_F(BoundsTest, AnUnreadableLocalHeaderRefusesTheWholePackage) {
  // The second entry's header is damaged: nothing is written, not even the
  // first entry, which a walk without the check would have unpacked.
  std::string bytes = ZipWriter()
                          .AddFile("first", "1")
                          .AddFile("second", "2")
                          .Bytes(tmp_.path());
  const size_t second = bytes.find("PK\x03\x04", 4);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 3] = 'X';
  EXPECT_EQ(Unpack(bytes), 0);
  ExpectRefused(UnpackStatus::kBadRecord);
  EXPECT_EQ(report_.entry, "#1");
  EXPECT_EQ(report_.archive_result, ArchiveCorrupt);
}

// --- Declared sizes and free space ----------------------------------------

TEST_F(BoundsTest, AHighlyCompressedEntryCountsWithItsDeclaredSize) {
  // 200 MB of zeros deflate to about 200 KB.
  constexpr uint32_t kZeros = 200 * kMiB;
  uint32_t crc = 0;
  const std::string zeros = DeflateZeros(kZeros, &crc);
  ASSERT_LT(zeros.size(), 250000u);
  ZipEntryDef folder;
  folder.name = "big/";
  folder.external_attributes = 0x41ED0010;
  folder.raw = true;
  // A folder writes no data, whatever it declares. (minizip's writer takes
  // 0xFFFFFFFF for its ZIP64 marker, so one less.)
  folder.raw_uncompressed_size = kMaxDeclared - 1;
  ZipWriter zip;
  zip.Add(folder)
      .AddFile("qzviewer.swf", "FWS")
      .Add(Deflated("big/zeros.bin", zeros, kZeros, crc))
      .AddFile("autorun.inf", "[autorun]");
  const std::string bytes = zip.Bytes(tmp_.path());
  const uint64_t total = kZeros + 3 + 9;

  ArchivePtr archive = Open(bytes);
  ASSERT_NE(archive, nullptr);
  uint64_t declared = 0;
  ASSERT_TRUE(DeclaredSize(archive.get(), &declared, &report_));
  EXPECT_EQ(declared, total);
  FaultyFiles disk;
  disk.SetFreeSpace(total);
  {
    ScopedFileSystem scope(&disk);
    EXPECT_TRUE(MayUnpack(archive.get(), tmp_.path(), &report_))
        << "exactly fits";
  }
  archive.reset();

  disk.SetFreeSpace(total - 1);
  EXPECT_EQ(Unpack(bytes, &disk), 0);
  ExpectRefused(UnpackStatus::kTooLarge);
}

// `count` records that each declare 4 GiB - 1 and store one deflated byte.
std::string Declaring4GiB(uint64_t count) {
  uint32_t crc = 0;
  const std::string tiny = DeflateZeros(1, &crc);
  std::string entries;
  std::vector<std::string> central;
  for (uint64_t i = 0; i < count; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "f%05u", static_cast<unsigned>(i));
    const Record r{name,         8, 0, crc, static_cast<uint32_t>(tiny.size()),
                   kMaxDeclared, ""};
    central.push_back(CentralRecord(r, static_cast<uint32_t>(entries.size())));
    entries += LocalHeader(r) + tiny;
  }
  return Finish(entries, central);
}

TEST_F(BoundsTest, SizesAreAddedIn64Bits) {
  // Three records declare almost 12 GiB; a 32-bit sum would wrap round to
  // just under 4 GiB and fit into 5 GiB.
  FaultyFiles disk;
  disk.SetFreeSpace(5ull << 30);
  EXPECT_EQ(Unpack(Declaring4GiB(3), &disk), 0);
  ExpectRefused(UnpackStatus::kTooLarge);

  // One such record fits those 5 GiB and passes the check; its data then
  // runs out long before the declared size, which fails the entry.
  EXPECT_EQ(Unpack(Declaring4GiB(1), &disk), 0);
  EXPECT_EQ(report_.status, UnpackStatus::kEntryFailed);
  EXPECT_EQ(report_.archive_result, ArchiveWriteFailed);
}

TEST_F(BoundsTest, MoreThanTheRealDiskHoldsIsRefused) {
  uint64_t free_bytes = 0;
  ASSERT_EQ(RealFiles()->FreeSpace(tmp_.path(), &free_bytes), 0);
  const uint64_t records = free_bytes / kMaxDeclared + 2;
  if (records > 65535)
    GTEST_SKIP() << "a disk larger than any archive can declare";
  EXPECT_EQ(Unpack(Declaring4GiB(records)), 0);
  ExpectRefused(UnpackStatus::kTooLarge);
}

TEST_F(BoundsTest, UnknownFreeSpaceLeavesTheFullDiskToTheWrites) {
  FaultyFiles disk;
  disk.FailFreeSpace(EIO);
  {
    ScopedFileSystem scope(&disk);
    EXPECT_EQ(FreeSpaceAt(tmp_.path()), -1);
  }
  EXPECT_EQ(Unpack(ZipWriter().AddFile("qzviewer.swf", "FWS"), &disk), 1);
  EXPECT_EQ(ListTree(work_), Tree{"qzviewer.swf"});
}

}  // namespace
}  // namespace morva
