#include "package/temp_zip.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "package/trailer.h"
#include "platform/files.h"
#include "platform/trace.h"

namespace morva {
namespace {

// File errors inside the copy raise this; the copy turns any of them into
// the 0 result.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An open file that throws FileError on every failed operation.
class File {
 public:
  File(const std::string& path, uint32_t flags, uint32_t permissions = 0)
      : path_(path),
        fd_(Files()->OpenAt(kCurrentFolder, path, flags, permissions)) {
    if (fd_ < 0) Fail("open");
  }
  ~File() { Abandon(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  int64_t Length() {
    int64_t length = FileLength(fd_);
    if (length < 0) Fail("fstat");
    return length;
  }
  void Truncate() {
    if (Files()->Truncate(fd_, 0) != 0) Fail("ftruncate");
  }
  void SeekTo(int64_t offset) {
    if (Files()->Seek(fd_, offset, SeekFrom::kStart) < 0) Fail("lseek");
  }
  // Reads exactly count bytes; the file ending first is an error too, since
  // the archive region was worked out from the length a moment ago.
  void ReadExactly(void* buffer, size_t count) {
    const int64_t n = ReadFully(fd_, buffer, count);
    if (n < 0) Fail("read");
    if (static_cast<size_t>(n) != count) {
      throw FileError("read(" + path_ + "): the file ended early");
    }
  }
  void WriteAll(const void* buffer, size_t count) {
    if (!WriteFully(fd_, buffer, count)) Fail("write");
  }
  void Close() {
    const FileHandle fd = fd_;
    fd_ = kNoFile;
    if (Files()->Close(fd) != 0) Fail("close");
  }
  // Closes without reporting errors (the failure path).
  void Abandon() {
    if (fd_ >= 0) Files()->Close(fd_);
    fd_ = kNoFile;
  }

 private:
  [[noreturn]] void Fail(const char* call) {
    throw FileError(ErrnoMessage(call, path_));
  }

  std::string path_;
  FileHandle fd_;
};

}  // namespace

std::string MakeTempFileName() {
  return CreateUniqueTempFile(TempFolder(), kTempPrefix);
}

int CreateTempZip(std::string* temp_zip_path, std::string* error) {
  const std::string exe_path = Files()->ModuleFileName();
  const std::string zip_path = MakeTempFileName();
  Trace("zip file %s", zip_path.c_str());
  Trace("exe file %s", exe_path.c_str());
  // Without a temporary name there is nothing to copy into; touch nothing.
  if (zip_path.empty()) {
    if (error != nullptr) {
      *error = "no temporary file could be created in " + TempFolder();
    }
    return 0;
  }

  std::unique_ptr<File> zip, exe;
  try {
    // Truncated only when not empty already: ext4 flushes a file at close
    // when it was truncated to zero and rewritten, which slows the copy down
    // and buys nothing for a file that was made a moment ago.
    zip = std::make_unique<File>(
        zip_path, kOpenReadWrite | kOpenCreate | kOpenNoFollow, 0600);
    exe = std::make_unique<File>(exe_path, kOpenRead);
    if (zip->Length() != 0) zip->Truncate();
    const int64_t length = exe->Length();
    // The same two lines again, once the files are open: the player's trace
    // has always shown both paths before and after opening, and whoever
    // compares traces of two versions finds them where they were.
    Trace("zip file %s", zip_path.c_str());
    Trace("exe file %s", exe_path.c_str());

    // A chunk and one spare byte, zeroed here and again before the final
    // partial piece, as the copy has always been. Only the bytes read are
    // written, so neither the spare byte nor the zeroes reach the copy.
    std::vector<char> buffer(kCopyChunk + 1, 0);
    const int64_t trailer_at = length - static_cast<int64_t>(kTrailerSize);
    if (trailer_at < 0) {
      throw FileError(exe_path + ": shorter than the 4-byte trailer");
    }
    exe->SeekTo(trailer_at);
    unsigned char trailer[kTrailerSize];
    exe->ReadExactly(trailer, kTrailerSize);
    const uint32_t n = DecodeTrailer(trailer);
    // A trailer larger than what precedes it names no region of the file.
    if (n > trailer_at) {
      throw FileError(exe_path + ": the trailer names " + std::to_string(n) +
                      " archive bytes, but only " + std::to_string(trailer_at) +
                      " bytes precede it");
    }
    exe->SeekTo(trailer_at - n);

    for (uint32_t i = 0; i < n / kCopyChunk; ++i) {
      exe->ReadExactly(buffer.data(), kCopyChunk);
      zip->WriteAll(buffer.data(), kCopyChunk);
    }
    const size_t rest = n % kCopyChunk;
    if (rest != 0) {
      std::memset(buffer.data(), 0, buffer.size());
      exe->ReadExactly(buffer.data(), rest);
      zip->WriteAll(buffer.data(), rest);
    }
    zip->Close();
    exe->Close();
  } catch (const FileError& e) {
    if (error != nullptr) *error = e.what();
    if (zip) zip->Abandon();
    if (exe) exe->Abandon();
    Trace("CPreviewDlg::CreateTempZip 1 %s", zip_path.c_str());
    RemoveFile(zip_path);
    Trace("CPreviewDlg::CreateTempZip end %s", zip_path.c_str());
    return 0;
  }
  *temp_zip_path = zip_path;
  return 1;
}

}  // namespace morva
