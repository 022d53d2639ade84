// The bytes the archive reader reads, and how minizip reaches them.
//
// An archive comes from a descriptor, a file or a memory block; each is an
// ArchiveSource. minizip reads a source through an I/O function table that
// OpenArchive sets up, over a view that leaves out any bytes in front of the
// archive proper (an executable, say).
#ifndef MORVA_PACKAGE_ARCHIVE_ARCHIVE_IO_H_
#define MORVA_PACKAGE_ARCHIVE_ARCHIVE_IO_H_

#include <minizip/unzip.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace morva {

// The bytes an archive is read from. Offsets count from the archive's start
// (the descriptor's offset at open time for ByHandle, 0 otherwise).
class ArchiveSource {
 public:
  virtual ~ArchiveSource() = default;

  uint64_t size() const { return size_; }

  // Reads up to n bytes at offset into out; *got is how many arrived (fewer
  // only at the end). False on a read error.
  virtual bool ReadAt(uint64_t offset, void* out, size_t n, size_t* got) = 0;

  // Remembers the target of the next absolute seek minizip makes; see
  // OpenArchive for why.
  void RecordNextSeek() {
    recording_ = true;
    recorded_ = false;
  }
  bool TakeRecordedSeek(uint64_t* offset) {
    recording_ = false;
    *offset = recorded_offset_;
    return recorded_;
  }
  void NoteSeek(uint64_t offset) {
    if (!recording_) return;
    recording_ = false;
    recorded_ = true;
    recorded_offset_ = offset;
  }

 protected:
  uint64_t size_ = 0;

 private:
  bool recording_ = false;
  bool recorded_ = false;
  uint64_t recorded_offset_ = 0;
};

// A source on a copy of the descriptor that `source` points to, from the
// descriptor's current offset (ArchiveIoKind::ByHandle). nullptr when there
// is no descriptor, it is no regular file, or it cannot be duplicated.
std::unique_ptr<ArchiveSource> OpenHandleSource(const void* source);

// A source on the file at the NUL-terminated path `source`
// (ArchiveIoKind::ByFileName). nullptr when it cannot be opened or is no
// regular file.
std::unique_ptr<ArchiveSource> OpenFileSource(const void* source);

// A source on the `length` bytes at `data`, not copied
// (ArchiveIoKind::ByMemory). nullptr for no data.
std::unique_ptr<ArchiveSource> OpenMemorySource(const void* data,
                                                uint32_t length);

// Opens the archive in source for minizip, on a view that starts where the
// archive proper starts. Returns nullptr when minizip finds no usable
// end-of-central-directory record. The source must outlive the archive.
unzFile OpenArchive(ArchiveSource* source);

}  // namespace morva

#endif  // MORVA_PACKAGE_ARCHIVE_ARCHIVE_IO_H_
