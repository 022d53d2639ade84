#include "tests/test_util.h"

#include <minizip/zip.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "gtest/gtest.h"
#include "package/trailer.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva::testing {

namespace {

std::string TestTempRoot() {
  const char* base = std::getenv("MORVA_TEST_TMP");
  std::string root =
      base != nullptr && base[0] != '\0' ? std::string(base) : TempFolder();
  MakeFolder(root, 0700);
  return root;
}

}  // namespace

ScopedTempDir::ScopedTempDir()
    : ScopedTempFolder(TestTempRoot(), "morva-test-") {
  if (!ok()) ADD_FAILURE() << error();
}

std::string ScopedTempDir::Write(const std::string& name,
                                 std::string_view bytes) const {
  std::string full = Join(name);
  for (size_t slash = full.find('/', path().size() + 1);
       slash != std::string::npos; slash = full.find('/', slash + 1)) {
    MakeFolder(full.substr(0, slash), 0700);
  }
  WriteFile(full, std::string(bytes));
  return full;
}

std::vector<std::string> ScopedTempDir::ListAllBut(
    const std::string& name) const {
  std::vector<std::string> names = List();
  std::erase(names, name);
  return names;
}

// Both through the real file system, whatever a test installed, so that
// names reach the disk as the code under test writes them (UTF-8 on every
// system, where the C++ streams take Windows' ANSI code page).
void WriteFile(const std::string& path, const std::string& data) {
  FileSystem* fs = RealFiles();
  const FileHandle fd = fs->OpenAt(
      kCurrentFolder, path, kOpenWrite | kOpenCreate | kOpenTruncate, 0666);
  bool written = fd >= 0;
  for (size_t done = 0; written && done < data.size();) {
    const int64_t n = fs->Write(fd, data.data() + done, data.size() - done);
    written = n > 0;
    if (written) done += static_cast<size_t>(n);
  }
  if (fd >= 0 && fs->Close(fd) != 0) ADD_FAILURE() << "cannot close " << path;
  ASSERT_TRUE(written) << "cannot write " << path;
}

std::string ReadFile(const std::string& path) {
  FileSystem* fs = RealFiles();
  const FileHandle fd = fs->OpenAt(kCurrentFolder, path, kOpenRead, 0);
  std::string bytes;
  if (fd < 0) return bytes;
  char buffer[65536];
  for (int64_t n; (n = fs->Read(fd, buffer, sizeof buffer)) > 0;) {
    bytes.append(buffer, static_cast<size_t>(n));
  }
  fs->Close(fd);
  return bytes;
}

bool Exists(const std::string& path) { return PathExists(path); }

FileInfo InfoOf(const std::string& path) {
  FileInfo info;
  EXPECT_EQ(RealFiles()->StatAt(kCurrentFolder, path, &info, false), 0) << path;
  return info;
}

void ExpectPrivate(const std::string& path, uint32_t posix_permissions) {
  const FileInfo info = InfoOf(path);
  EXPECT_TRUE(info.shut_to_others) << path;
#ifndef _WIN32
  EXPECT_EQ(info.permissions & 0777, posix_permissions) << path;
#else
  static_cast<void>(posix_permissions);
#endif
}

int OpenHandleCount() {
#ifdef _WIN32
  // Handle values are small multiples of 4. GetProcessHandleCount would do,
  // but Wine answers 0.
  int count = 0;
  DWORD flags = 0;
  for (uintptr_t value = 4; value < (1u << 14); value += 4) {
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
#else
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
#endif
}

std::string Native(std::string path) {
  std::replace(path.begin(), path.end(), '/', kPathSeparator);
  return path;
}

int64_t UnixSeconds(FileTime time) { return FileTimeToUnixSeconds(time); }

bool SetFileTimes(const std::string& path, int64_t access, int64_t write) {
  FileSystem* fs = RealFiles();
  const FileHandle file =
      fs->OpenAt(kCurrentFolder, path, kOpenWrite | kOpenNoFollow, 0);
  if (file < 0) return false;
  const FileTime a = UnixSecondsToFileTime(access);
  const FileTime w = UnixSecondsToFileTime(write);
  const bool set = fs->SetTimes(file, nullptr, &a, &w) == 0;
  fs->Close(file);
  return set;
}

std::string LittleEndian32(uint32_t value) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i)
    out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

std::string AppendPackage(const std::string& exe, const std::string& archive) {
  return exe + archive + EncodeTrailer(static_cast<uint32_t>(archive.size()));
}

ZipWriter& ZipWriter::Add(ZipEntryDef entry) {
  entries_.push_back(std::move(entry));
  return *this;
}

ZipWriter& ZipWriter::AddFile(const std::string& name,
                              const std::string& data) {
  ZipEntryDef e;
  e.name = name;
  e.data = data;
  return Add(std::move(e));
}

ZipWriter& ZipWriter::AddDir(const std::string& name) {
  ZipEntryDef e;
  e.name = name;
  e.method = 0;
  e.external_attributes = 0x41ED0010;  // folder, 0755, DOS directory bit
  return Add(std::move(e));
}

void ZipWriter::Write(const std::string& path) const {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  ASSERT_NE(zip, nullptr) << "zipOpen64(" << path << ")";
  std::vector<const ZipEntryDef*> patch_method;
  for (const ZipEntryDef& e : entries_) {
    const bool known_method = e.method == 0 || e.method == Z_DEFLATED;
    if (e.raw && !known_method) patch_method.push_back(&e);
    zip_fileinfo info{};
    // minizip takes a dosDate of 0 as "convert tmz_date instead"; these
    // fields make that conversion come out as 0 too (the month wraps to 0).
    info.dosDate = e.dos_date_time;
    if (e.dos_date_time == 0) info.tmz_date.tm_mon = static_cast<uInt>(-1);
    info.external_fa = e.external_attributes != 0 || e.external_as_given
                           ? e.external_attributes
                           : 0x81A40000;  // file, 0644
    // Room for the ZIP64 block, filled in below.
    const int moved = ((e.central_zip64 & kZip64Sizes) ? 2 : 0) +
                      ((e.central_zip64 & kZip64Offset) ? 1 : 0);
    const std::string extra_central =
        moved == 0
            ? e.extra_central
            : ExtraBlock(1, std::string(8 * moved, '\0')) + e.extra_central;
    int level = e.method == 0 ? 0 : Z_DEFAULT_COMPRESSION;
    int rc = zipOpenNewFileInZip4_64(
        zip, e.name.c_str(), &info,
        e.extra_local.empty() ? nullptr : e.extra_local.data(),
        static_cast<uInt>(e.extra_local.size()),
        extra_central.empty() ? nullptr : extra_central.data(),
        static_cast<uInt>(extra_central.size()), nullptr,
        known_method ? e.method : 0, level, e.raw ? 1 : 0, -MAX_WBITS,
        DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY,
        e.password.empty() ? nullptr : e.password.c_str(),
        crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
              static_cast<uInt>(e.data.size())),
        (3 << 8) | 20 /* Unix host */, 0, 0);
    ASSERT_EQ(rc, ZIP_OK) << "zipOpenNewFileInZip4_64(" << e.name << ")";
    if (!e.data.empty()) {
      ASSERT_EQ(zipWriteInFileInZip(zip, e.data.data(),
                                    static_cast<unsigned>(e.data.size())),
                ZIP_OK);
    }
    if (e.raw) {
      ASSERT_EQ(zipCloseFileInZipRaw64(zip, e.raw_uncompressed_size, e.raw_crc),
                ZIP_OK);
    } else {
      ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
  }
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
  const bool zip64 =
      std::any_of(entries_.begin(), entries_.end(),
                  [](const ZipEntryDef& e) { return e.central_zip64 != 0; });
  if (patch_method.empty() && !zip64) return;

  // Set the method field of the local header (offset 8, name at 30) and the
  // central record (offset 10, name at 46) of each such entry.
  std::string bytes = ReadFile(path);
  auto patch = [&](const std::string& signature, size_t method_at,
                   size_t name_at, const ZipEntryDef& e) {
    for (size_t p = bytes.find(signature); p != std::string::npos;
         p = bytes.find(signature, p + 1)) {
      if (bytes.compare(p + name_at, e.name.size(), e.name) != 0) continue;
      bytes[p + method_at] = static_cast<char>(e.method & 0xFF);
      bytes[p + method_at + 1] = static_cast<char>(e.method >> 8);
    }
  };
  for (const ZipEntryDef* e : patch_method) {
    patch(std::string("PK\x03\x04", 4), 8, 30, *e);
    patch(std::string("PK\x01\x02", 4), 10, 46, *e);
  }
  // Move the central record's fields into its ZIP64 block, in the block's
  // order: uncompressed size (at 24), compressed size (20), offset (42).
  const std::string central("PK\x01\x02", 4);
  size_t p = bytes.find(central);
  for (const ZipEntryDef& e : zip64 ? entries_ : std::vector<ZipEntryDef>{}) {
    for (; p != std::string::npos; p = bytes.find(central, p + 1)) {
      if (bytes.compare(p + 46, e.name.size(), e.name) == 0) break;
    }
    ASSERT_NE(p, std::string::npos) << e.name;
    size_t block = p + 46 + e.name.size() + 4;
    for (size_t field : {24, 20, 42}) {
      const bool moved = field == 42 ? (e.central_zip64 & kZip64Offset) != 0
                                     : (e.central_zip64 & kZip64Sizes) != 0;
      if (!moved) continue;
      bytes.replace(block, 4, bytes, p + field, 4);
      bytes.replace(p + field, 4, 4, '\xff');
      block += 8;
    }
    p = bytes.find(central, p + 1);
  }
  WriteFile(path, bytes);
}

std::string ZipWriter::Bytes(const std::string& scratch_folder) const {
  std::string path = scratch_folder + "/.zipwriter-scratch.zip";
  Write(path);
  std::string bytes = ReadFile(path);
  unlink(path.c_str());
  return bytes;
}

std::string ExtraBlock(uint16_t id, const std::string& payload) {
  std::string out;
  out += static_cast<char>(id & 0xFF);
  out += static_cast<char>(id >> 8);
  out += static_cast<char>(payload.size() & 0xFF);
  out += static_cast<char>((payload.size() >> 8) & 0xFF);
  return out + payload;
}

std::string UtBlock(uint8_t flags, const std::vector<int32_t>& times) {
  std::string payload(1, static_cast<char>(flags));
  for (int32_t t : times) payload += LittleEndian32(static_cast<uint32_t>(t));
  return ExtraBlock(0x5455, payload);
}

}  // namespace morva::testing
