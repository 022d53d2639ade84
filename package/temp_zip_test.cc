#include "package/temp_zip.h"

#include <cerrno>

#include "gtest/gtest.h"
#include "platform/files.h"
#include "platform/trace.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva {
namespace {

using testing::AppendPackage;
using testing::LittleEndian32;
using testing::ScopedTempDir;

std::string Pattern(size_t size, unsigned seed) {
  std::string s(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

class CreateTempZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_sink_ =
        SetTraceSink([this](const std::string& l) { trace_.push_back(l); });
  }
  void TearDown() override { SetTraceSink(old_sink_); }

  // Writes the executable and runs CreateTempZip with it as the module.
  int Run(const std::string& exe_bytes) {
    exe_path_ = tmp_.Join("tour.exe");
    testing::WriteFile(exe_path_, exe_bytes);
    return RunWithModule(exe_path_);
  }
  int RunWithModule(const std::string& module, FileSystem* base = nullptr) {
    ModuleOverride files(module);
    ScopedFileSystem scope(base != nullptr ? base : &files);
    return CreateTempZip(&zip_path_);
  }
  // Names in the temporary folder other than the executable.
  std::vector<std::string> TempFiles() { return tmp_.ListAllBut("tour.exe"); }

  ScopedTempDir tmp_;
  std::string exe_path_;
  std::string zip_path_;
  std::vector<std::string> trace_;
  TraceSink old_sink_;
};

TEST_F(CreateTempZipTest, CopiesExactlyTheRegionBeforeTheTrailer) {
  const std::string exe = Pattern(1000, 1);
  for (size_t n : {size_t{0}, size_t{1}, kCopyChunk - 1, kCopyChunk,
                   kCopyChunk + 1, 2 * kCopyChunk, 3 * kCopyChunk + 17}) {
    SCOPED_TRACE(n);
    const std::string archive = Pattern(n, static_cast<unsigned>(n));
    zip_path_.clear();
    ASSERT_EQ(Run(AppendPackage(exe, archive)), 1);
    ASSERT_FALSE(zip_path_.empty());
    EXPECT_EQ(zip_path_.rfind(tmp_.Join("QZ"), 0), 0u) << zip_path_;
    EXPECT_EQ(testing::ReadFile(zip_path_), archive);
    testing::ExpectPrivate(zip_path_, 0600);
    ASSERT_TRUE(RemoveFile(zip_path_));
  }
}

TEST_F(CreateTempZipTest, TracesBothPathsTwiceOnSuccess) {
  ASSERT_EQ(Run(AppendPackage("MZ", "PK")), 1);
  const std::string zip = "zip file " + zip_path_;
  const std::string exe = "exe file " + exe_path_;
  EXPECT_EQ(trace_, (std::vector<std::string>{zip, exe, zip, exe}));
}

TEST_F(CreateTempZipTest, WithoutTrailerTheLastFourBytesAreTakenAsLength) {
  // Last four bytes zero: an empty archive.
  ASSERT_EQ(Run(Pattern(500, 2) + std::string(4, '\0')), 1);
  EXPECT_EQ(testing::ReadFile(zip_path_), "");
  // Any value within the file names bytes inside the executable.
  const std::string body = Pattern(300, 3);
  ASSERT_EQ(Run(body + LittleEndian32(100)), 1);
  EXPECT_EQ(testing::ReadFile(zip_path_), body.substr(200));
  // Exactly everything before the trailer.
  ASSERT_EQ(Run(body + LittleEndian32(300)), 1);
  EXPECT_EQ(testing::ReadFile(zip_path_), body);
}

TEST_F(CreateTempZipTest, FailuresLeaveNoTemporaryFile) {
  struct Case {
    const char* what;
    std::string exe;
    const char* error;  // what the error text says after the path
  } cases[] = {
      {"trailer past the start", Pattern(300, 4) + LittleEndian32(301),
       ": the trailer names 301 archive bytes, but only 300 bytes precede it"},
      {"huge trailer", Pattern(300, 4) + LittleEndian32(0xFFFFFFFF),
       ": the trailer names 4294967295 archive bytes, but only 300 bytes "
       "precede it"},
      {"shorter than a trailer", "abc", ": shorter than the 4-byte trailer"},
      {"empty", "", ": shorter than the 4-byte trailer"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    trace_.clear();
    zip_path_ = "unchanged";
    exe_path_ = tmp_.Join("tour.exe");
    testing::WriteFile(exe_path_, c.exe);
    std::string error;
    {
      ModuleOverride files(exe_path_);
      ScopedFileSystem scope(&files);
      EXPECT_EQ(CreateTempZip(&zip_path_, &error), 0);
    }
    EXPECT_EQ(error, exe_path_ + c.error);
    EXPECT_EQ(zip_path_, "unchanged");
    EXPECT_TRUE(TempFiles().empty());
    // The file is open and measured before the trailer is read, so both
    // paths are traced twice, then the two failure lines follow.
    ASSERT_EQ(trace_.size(), 6u);
    const std::string zip = trace_[0].substr(9);
    EXPECT_EQ(trace_[4], "CPreviewDlg::CreateTempZip 1 " + zip);
    EXPECT_EQ(trace_[5], "CPreviewDlg::CreateTempZip end " + zip);
  }
}

TEST_F(CreateTempZipTest, UnreadableExecutableLeavesNothing) {
  std::string error;
  {
    ModuleOverride files(tmp_.Join("missing.exe"));
    ScopedFileSystem scope(&files);
    EXPECT_EQ(CreateTempZip(&zip_path_, &error), 0);
  }
  EXPECT_EQ(error, "open(" + tmp_.Join("missing.exe") +
                       "): No such file or directory");
  EXPECT_TRUE(zip_path_.empty());
  EXPECT_TRUE(TempFiles().empty());
  ASSERT_EQ(trace_.size(), 4u);
  EXPECT_EQ(trace_[2].rfind("CPreviewDlg::CreateTempZip 1 ", 0), 0u);
}

// Reports the end of the file early, as when the executable is cut short
// while it is copied.
class TruncatingFiles : public ModuleOverride {
 public:
  using ModuleOverride::ModuleOverride;
  int64_t Read(FileHandle fd, void* buffer, size_t count) override {
    if (++reads_ > 2) return 0;  // trailer read passes, the copy comes up short
    return ModuleOverride::Read(fd, buffer, count);
  }

 private:
  int reads_ = 0;
};

TEST_F(CreateTempZipTest, ShortReadIsAFailure) {
  exe_path_ = tmp_.Join("tour.exe");
  testing::WriteFile(exe_path_,
                     AppendPackage("MZ", Pattern(3 * kCopyChunk, 5)));
  TruncatingFiles files(exe_path_);
  EXPECT_EQ(RunWithModule(exe_path_, &files), 0);
  EXPECT_TRUE(TempFiles().empty());
}

// Refuses to create any file, as a temporary folder we cannot write to.
class NoCreateFiles : public ModuleOverride {
 public:
  using ModuleOverride::ModuleOverride;
  FileHandle OpenAt(FileHandle dir_fd, const std::string& path, uint32_t flags,
                    uint32_t mode) override {
    if (flags & kOpenCreate) {
      ++creates;
      errno = EACCES;
      return -1;
    }
    return ModuleOverride::OpenAt(dir_fd, path, flags, mode);
  }
  int creates = 0;
};

TEST_F(CreateTempZipTest, NoTemporaryNameTouchesNoFile) {
  exe_path_ = tmp_.Join("tour.exe");
  testing::WriteFile(exe_path_, AppendPackage("MZ", "PK"));
  NoCreateFiles files(exe_path_);
  EXPECT_EQ(RunWithModule(exe_path_, &files), 0);
  EXPECT_EQ(files.creates, 1) << "only the one attempt to make the name";
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_TRUE(zip_path_.empty());
}

}  // namespace
}  // namespace morva
