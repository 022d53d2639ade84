// Shared helpers for the tests: a scoped temporary folder that TMPDIR points
// at, small file helpers, and a ZIP writer on minizip's zip API. Listing and
// removing trees: ListTree (platform/files.h) and RemoveTree
// (package/cleanup.h).
#ifndef MORVA_TESTS_TEST_UTIL_H_
#define MORVA_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "package/temp_folder.h"
#include "platform/files.h"

namespace morva::testing {

// A ScopedTempFolder under $MORVA_TEST_TMP (else /tmp) that fails the test
// when it cannot be made, with a writer for test files.
class ScopedTempDir : public ScopedTempFolder {
 public:
  ScopedTempDir();

  // Writes bytes to name (which may hold "/"-separated folders, created as
  // needed) and returns the file's full path.
  std::string Write(const std::string& name, std::string_view bytes) const;
  // List() without `name`.
  std::vector<std::string> ListAllBut(const std::string& name) const;
};

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// What the real file system says of path, links not followed; fails the
// test (and gives an empty record) when it cannot.
FileInfo InfoOf(const std::string& path);
// Expects the file or folder at path shut to other users: on POSIX with
// exactly these permission bits; Windows has none and keeps it private by
// the per-user folder it is in.
void ExpectPrivate(const std::string& path, uint32_t posix_permissions);
// The descriptors (on Windows: handles) this process holds, for tests that
// check that nothing is left open.
int OpenHandleCount();
// path with "/" made the platform's separator, for expected paths.
std::string Native(std::string path);
// Seconds since 1970 of a file time.
int64_t UnixSeconds(FileTime time);
// Sets the access and write times (seconds since 1970) of the file at path.
bool SetFileTimes(const std::string& path, int64_t access, int64_t write);

// "executable" bytes + archive + the archive's length, little-endian.
std::string AppendPackage(const std::string& exe, const std::string& archive);
std::string LittleEndian32(uint32_t value);

// Writes real ZIP archives through minizip's zip API.
struct ZipEntryDef {
  std::string name;
  std::string data;
  int method = 8;                       // 0 stored, 8 deflated
  uint32_t external_attributes = 0;     // 0: regular file 0644, or folder 0755
  bool external_as_given = false;       // write 0 as 0 (as Java's writer does)
  uint32_t dos_date_time = 0x50CF6300;  // 2020-06-15 12:24:00; written as is
  std::string extra_local;              // local extra field, as is
  std::string extra_central;
  // Raw mode: data is written as the stored bytes of an entry of `method`,
  // with the given uncompressed size and CRC-32 in the records. Methods the
  // zip API refuses (12, say) are written as 0 and patched in afterwards.
  bool raw = false;
  uint32_t raw_uncompressed_size = 0;
  uint32_t raw_crc = 0;
  // Fields of the central record that say 0xFFFFFFFF and are held in a
  // ZIP64 extra block put before extra_central, as streaming writers do:
  // kZip64Sizes, kZip64Offset or both.
  int central_zip64 = 0;
  // Not empty: the data is encrypted with this password (traditional PKWARE
  // encryption, general-purpose flag bit 0).
  std::string password;
};
constexpr int kZip64Sizes = 1;
constexpr int kZip64Offset = 2;

class ZipWriter {
 public:
  ZipWriter& Add(ZipEntryDef entry);
  ZipWriter& AddFile(const std::string& name, const std::string& data);
  ZipWriter& AddDir(const std::string& name);  // name should end in "/"
  // Writes the archive to path; fails the test on error.
  void Write(const std::string& path) const;
  // The archive's bytes (written through a scratch file in scratch_folder).
  std::string Bytes(const std::string& scratch_folder) const;

 private:
  std::vector<ZipEntryDef> entries_;
};

// A "UT" extended-timestamp block with the given flags and times.
std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times);
// An extra block with any id and payload.
std::string ExtraBlock(uint16_t id, const std::string& payload);

}  // namespace morva::testing

#endif  // MORVA_TESTS_TEST_UTIL_H_
