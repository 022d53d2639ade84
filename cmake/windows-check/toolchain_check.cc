// Proves the Windows toolchain and its libraries on what the player needs
// from them: minizip writing and reading an archive through wide paths
// (iowin32), RE2 in Latin-1 mode and with its rebuilt Unicode tables,
// CLI11, std::thread on the posix-threads runtime, and GoogleTest/gMock
// themselves as the test runner.
#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <re2/re2.h>
#include <windows.h>
#include <zlib.h>

// Not self-contained: needs ioapi.h (through unzip.h) first.
#include <minizip/iowin32.h>

#include <CLI/CLI.hpp>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gmock/gmock.h"
#include "gtest/gtest.h"

namespace {

// A folder under the Windows temporary folder whose name no ANSI code page
// holds, so that only wide paths reach what is inside; removed with its
// files when the test ends.
class WideTempFolder {
 public:
  WideTempFolder() {
    wchar_t temp[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_GT(n, 0u);
    path_ = std::wstring(temp, n) + L"check \u03a9\u0436 " +
            std::to_wstring(GetCurrentProcessId());
    EXPECT_TRUE(CreateDirectoryW(path_.c_str(), nullptr)) << GetLastError();
  }
  ~WideTempFolder() {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((path_ + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
          DeleteFileW((path_ + L"\\" + name).c_str());
      } while (FindNextFileW(find, &found));
      FindClose(find);
    }
    RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

struct Entry {
  std::string name;
  int method;
  std::string data;
};

TEST(Minizip, WritesAndReadsBackThroughWidePaths) {
  std::string big;
  for (int i = 0; i < (1 << 20); ++i)
    big.push_back(static_cast<char>((i * 7) ^ (i >> 9)));
  const std::vector<Entry> entries = {
      {"_flash/autorun.inf", Z_DEFLATED,
       "[autorun]\r\nshellexecute=Tour.html\r\n"},
      {"_flash/scene \xe9t\xe9.bin", Z_DEFLATED, big},
      {"stored.txt", 0, std::string("bytes\0kept\r\n\x1a", 14)},
  };

  WideTempFolder folder;
  const std::wstring archive = folder.path() + L"\\tour \u03a9.zip";
  zlib_filefunc64_def wide;
  fill_win32_filefunc64W(&wide);

  zipFile zf =
      zipOpen2_64(archive.c_str(), APPEND_STATUS_CREATE, nullptr, &wide);
  ASSERT_NE(zf, nullptr);
  for (const Entry& e : entries) {
    zip_fileinfo info = {};
    ASSERT_EQ(
        zipOpenNewFileInZip64(zf, e.name.c_str(), &info, nullptr, 0, nullptr, 0,
                              nullptr, e.method, Z_DEFAULT_COMPRESSION,
                              /*zip64=*/0),
        ZIP_OK);
    ASSERT_EQ(zipWriteInFileInZip(zf, e.data.data(),
                                  static_cast<unsigned>(e.data.size())),
              ZIP_OK);
    ASSERT_EQ(zipCloseFileInZip(zf), ZIP_OK);
  }
  ASSERT_EQ(zipClose(zf, nullptr), ZIP_OK);
  EXPECT_NE(GetFileAttributesW(archive.c_str()), INVALID_FILE_ATTRIBUTES);

  unzFile uf = unzOpen2_64(archive.c_str(), &wide);
  ASSERT_NE(uf, nullptr);
  unz_global_info64 global;
  ASSERT_EQ(unzGetGlobalInfo64(uf, &global), UNZ_OK);
  ASSERT_EQ(global.number_entry, entries.size());
  ASSERT_EQ(unzGoToFirstFile(uf), UNZ_OK);
  for (const Entry& e : entries) {
    char name[256];
    unz_file_info64 info;
    ASSERT_EQ(unzGetCurrentFileInfo64(uf, &info, name, sizeof name, nullptr, 0,
                                      nullptr, 0),
              UNZ_OK);
    EXPECT_EQ(name, e.name);
    EXPECT_EQ(info.compression_method, static_cast<unsigned long>(e.method));
    EXPECT_EQ(info.uncompressed_size, e.data.size());
    EXPECT_EQ(info.crc, crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                              static_cast<uInt>(e.data.size())));
    ASSERT_EQ(unzOpenCurrentFile(uf), UNZ_OK);
    std::string data(e.data.size() + 1, '\0');
    int got =
        unzReadCurrentFile(uf, data.data(), static_cast<unsigned>(data.size()));
    ASSERT_EQ(got, static_cast<int>(e.data.size()));
    data.resize(got);
    EXPECT_TRUE(data == e.data) << e.name;
    EXPECT_EQ(unzCloseCurrentFile(uf), UNZ_OK);  // also checks the CRC
    int next = unzGoToNextFile(uf);
    ASSERT_TRUE(next == UNZ_OK || next == UNZ_END_OF_LIST_OF_FILE);
  }
  EXPECT_EQ(unzClose(uf), UNZ_OK);

  // The narrow (ANSI) functions cannot reach it: its folder's name exists in
  // no code page, which is why the player goes through the wide ones.
  char narrow[MAX_PATH * 2];
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, archive.c_str(), -1, narrow,
                                sizeof narrow, nullptr, nullptr),
            0);
  EXPECT_EQ(unzOpen64(narrow), nullptr) << narrow;
}

TEST(Re2, MatchesLatin1BytesAndUnicodeTables) {
  RE2::Options latin1;
  latin1.set_encoding(RE2::Options::EncodingLatin1);
  latin1.set_case_sensitive(false);
  RE2 popup(
      R"(javascript:window\.open\('([^']*)','[^']+','[^']*width=(\d+),height=(\d+)'\))",
      latin1);
  ASSERT_TRUE(popup.ok()) << popup.error();
  const std::string page =
      "<a onclick=\"JavaScript:Window.Open('Tour%20p\xe9ge.html','_blank',"
      "'status=yes,resizable=yes,top=0,left=0,width=1024,height=768')\">";
  std::string target;
  int width = 0, height = 0;
  ASSERT_TRUE(RE2::PartialMatch(page, popup, &target, &width, &height));
  EXPECT_EQ(target, "Tour%20p\xe9ge.html");
  EXPECT_EQ(width, 1024);
  EXPECT_EQ(height, 768);

  // The tables the source package leaves out, made again at build time.
  EXPECT_TRUE(
      RE2::FullMatch("\u03a9\u03bc\u03ad\u03b3\u03b1", R"(\p{Greek}+)"));
  EXPECT_TRUE(RE2::FullMatch("\u03a3\u038a\u03a3\u03a5\u03a6\u039f\u03a3",
                             "(?i)\u03c3\u03af\u03c3\u03c5\u03c6\u03bf\u03c2"));
  EXPECT_TRUE(RE2::FullMatch("a1 _", R"([[:alpha:]]\d\s\w)"));
  EXPECT_FALSE(RE2::FullMatch("\u0436", R"(\p{Latin})"));
}

TEST(Runtime, ThreadsAndCommandLine) {
  std::mutex mutex;
  std::vector<int> seen;
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i] {
      std::lock_guard<std::mutex> lock(mutex);
      seen.push_back(i);
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_THAT(seen, testing::UnorderedElementsAre(0, 1, 2, 3));

  CLI::App app("check");
  std::string tour;
  bool force = false;
  app.add_option("tour", tour)->required();
  app.add_flag("--force", force);
  app.parse(std::vector<std::string>{"C:\\tours\\t\u03a9.exe",
                                     "--force"});  // reversed
  EXPECT_EQ(tour, "C:\\tours\\t\u03a9.exe");
  EXPECT_TRUE(force);
}

}  // namespace
