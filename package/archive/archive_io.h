// The bytes the archive reader reads, and how minizip reaches them.
//
// An archive comes from a descriptor, a file or a memory block; each is an
// ArchiveSource. minizip reads a source through an I/O function table that
// OpenArchive sets up, over a view that leaves out any bytes in front of the
// archive proper (an executable, say), and with the central records mended
// where minizip would misread them.
#ifndef MORVA_PACKAGE_ARCHIVE_ARCHIVE_IO_H_
#define MORVA_PACKAGE_ARCHIVE_ARCHIVE_IO_H_

#include <minizip/unzip.h>

#include <cstddef>
#include <cstdint>
#include <map>
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

  // minizip reads `value` (4 bytes, little-endian) at offset in place of
  // the source's own bytes; see OpenArchive.
  void Mend(uint64_t offset, uint32_t value);
  // Lays the mends over the n bytes at `bytes` that were read at offset.
  void ApplyMends(uint64_t offset, void* bytes, size_t n) const;

 protected:
  uint64_t size_ = 0;

 private:
  bool recording_ = false;
  bool recorded_ = false;
  uint64_t recorded_offset_ = 0;
  std::map<uint64_t, unsigned char> mended_;  // by offset, byte by byte
};

// Why an entry's central record cannot be read as minizip reads it; found
// when the archive is opened.
enum class EntryLimit {
  // A size of 4 GiB or more in the record's ZIP64 extra block.
  kSize4GiB,
  // A local header 4 GiB or more into the archive, likewise.
  kOffset4GiB,
  // The record's ZIP64 extra block is too short for the sizes and offset
  // that the record marks as held there.
  kShortZip64Block,
};
// By entry index; entries without a limit are not listed.
using EntryLimits = std::map<int32_t, EntryLimit>;

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
// archive proper starts, positioned on the first entry; *view_start is
// where that is in the source (the offsets minizip reports, as
// unzGetCurrentFileZStreamPos64 does, count from there). Returns nullptr
// when minizip finds no usable end-of-central-directory record. The source
// must outlive the archive.
//
// minizip 1.1 reads the ZIP64 extra block of a central record but, on a
// 64-bit system, never uses it: it compares the record's 32-bit fields with
// a 64-bit all-ones value. A record whose sizes or offset say 0xFFFFFFFF
// ("in the ZIP64 block") would then make it seek to the wrong place and
// refuse the entry. So the central records of up to `max_entries` entries
// are walked here first, and where such a record's ZIP64 values fit 32 bits
// the source is mended to show them in the record's own fields. Entries
// whose values do not fit, or whose record lacks the block, go into
// *limits.
unzFile OpenArchive(ArchiveSource* source, uint64_t max_entries,
                    EntryLimits* limits, uint64_t* view_start);

}  // namespace morva

#endif  // MORVA_PACKAGE_ARCHIVE_ARCHIVE_IO_H_
