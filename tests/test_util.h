// Shared helpers for the tests: a scoped temporary folder that TMPDIR points
// at, small file helpers, and a ZIP writer on minizip's zip API.
#ifndef MORVA_TESTS_TEST_UTIL_H_
#define MORVA_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morva::testing {

// Makes a fresh folder, points TMPDIR at it, and on destruction restores
// TMPDIR and removes the folder with everything in it (read-only files and
// folders included). Created under $MORVA_TEST_TMP when set, else /tmp.
class ScopedTempDir {
 public:
  ScopedTempDir();
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string Join(const std::string& name) const { return path_ + "/" + name; }
  // Writes bytes to name (which may hold "/"-separated folders, created as
  // needed) and returns the file's full path.
  std::string Write(const std::string& name, std::string_view bytes) const;
  // Names in the folder (not recursive), sorted.
  std::vector<std::string> List() const;

 private:
  std::string path_;
  std::string old_tmpdir_;
  bool had_tmpdir_ = false;
};

void WriteFile(const std::string& path, const std::string& data);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Every path below folder, relative to it, sorted; folders end in "/".
std::vector<std::string> ListTree(const std::string& folder);
// Removes a tree without following links, whatever its modes.
void RemoveTree(const std::string& path);

// "executable" bytes + archive + the archive's length, little-endian.
std::string AppendPackage(const std::string& exe, const std::string& archive);
std::string LittleEndian32(uint32_t value);

// Writes real ZIP archives through minizip's zip API.
struct ZipEntryDef {
  std::string name;
  std::string data;
  int method = 8;                    // 0 stored, 8 deflated
  uint32_t external_attributes = 0;  // 0: regular file 0644, or folder 0755
  uint32_t dos_date_time = 0x50CF6300;  // 2020-06-15 12:24:00; written as is
  std::string extra_local;           // local extra field, as is
  std::string extra_central;
  // Raw mode: data is written as the stored bytes of an entry of `method`,
  // with the given uncompressed size and CRC-32 in the records. Methods the
  // zip API refuses (12, say) are written as 0 and patched in afterwards.
  bool raw = false;
  uint32_t raw_uncompressed_size = 0;
  uint32_t raw_crc = 0;
};

class ZipWriter {
 public:
  ZipWriter& Add(ZipEntryDef entry);
  ZipWriter& AddFile(const std::string& name, const std::string& data);
  ZipWriter& AddDir(const std::string& name);  // name should end in "/"
  // Writes the archive to path; fails the test on error.
  void Write(const std::string& path) const;
  // The archive's bytes (written through a temporary file next to path_hint).
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
