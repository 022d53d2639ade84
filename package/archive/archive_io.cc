#include "package/archive/archive_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/files.h"

namespace morva {
namespace {

// A descriptor the reader owns, read through Files(). minizip reads headers
// a few bytes at a time, so small reads are served from buffers; large ones
// (the 16 KiB data chunks) go straight through. Extraction alternates
// between the central directory at the end of the archive and the entries'
// local headers and data before it, so there are two buffers, refilled
// least recently used first: with one, every entry of a package of small
// files cost two refills.
class FdSource : public ArchiveSource {
 public:
  FdSource(int fd, uint64_t start, uint64_t file_size)
      : fd_(fd), start_(start) {
    size_ = file_size > start ? file_size - start : 0;
  }
  ~FdSource() override { Files()->Close(fd_); }

  bool ReadAt(uint64_t offset, void* out, size_t n, size_t* got) override {
    *got = 0;
    for (Window& w : windows_) {
      if (offset >= w.offset && offset - w.offset <= w.length &&
          n <= w.length - (offset - w.offset)) {
        std::memcpy(out, w.data + (offset - w.offset), n);
        *got = n;
        w.last_use = ++uses_;
        return true;
      }
    }
    if (n >= kBufferSize) return ReadDirect(offset, out, n, got);
    Window& w = windows_[0].last_use <= windows_[1].last_use ? windows_[0]
                                                             : windows_[1];
    size_t filled = 0;
    w.length = 0;
    if (!ReadDirect(offset, w.data, kBufferSize, &filled)) return false;
    w.offset = offset;
    w.length = filled;
    w.last_use = ++uses_;
    *got = std::min(n, filled);
    std::memcpy(out, w.data, *got);
    return true;
  }

 private:
  static constexpr size_t kBufferSize = 8192;

  struct Window {
    uint64_t offset = 0;
    size_t length = 0;
    uint64_t last_use = 0;
    unsigned char data[kBufferSize];
  };

  bool ReadDirect(uint64_t offset, void* out, size_t n, size_t* got) {
    // Seek every time: for ByHandle the caller's descriptor shares the
    // offset and may have moved it since our last read.
    if (Files()->Seek(fd_, static_cast<off_t>(start_ + offset), SEEK_SET) < 0)
      return false;
    ssize_t r = ReadFully(fd_, out, n);
    if (r < 0) return false;
    *got = static_cast<size_t>(r);
    return true;
  }

  int fd_;
  uint64_t start_;
  uint64_t uses_ = 0;
  Window windows_[2];
};

class MemorySource : public ArchiveSource {
 public:
  MemorySource(const unsigned char* data, uint32_t length) : data_(data) {
    size_ = length;
  }

  bool ReadAt(uint64_t offset, void* out, size_t n, size_t* got) override {
    *got = offset < size_
               ? static_cast<size_t>(std::min<uint64_t>(n, size_ - offset))
               : 0;
    if (*got > 0) std::memcpy(out, data_ + offset, *got);
    return true;
  }

 private:
  const unsigned char* data_;
};

// What minizip "opens": a view of the source that starts `base` bytes in.
struct StreamOrigin {
  ArchiveSource* source;
  uint64_t base;
};

struct Stream {
  ArchiveSource* source;
  uint64_t base;
  uint64_t size;  // of the view
  uint64_t position = 0;
  bool error = false;
};

voidpf StreamOpen(voidpf, const void* origin_ptr, int) {
  const auto* origin = static_cast<const StreamOrigin*>(origin_ptr);
  if (origin->base > origin->source->size()) return nullptr;
  return new (std::nothrow) Stream{origin->source, origin->base,
                                   origin->source->size() - origin->base};
}

uLong StreamRead(voidpf, voidpf stream_ptr, void* buffer, uLong size) {
  auto* stream = static_cast<Stream*>(stream_ptr);
  if (stream->position >= stream->size) return 0;
  const size_t n = static_cast<size_t>(
      std::min<uint64_t>(size, stream->size - stream->position));
  size_t got = 0;
  const uint64_t at = stream->base + stream->position;
  if (!stream->source->ReadAt(at, buffer, n, &got)) stream->error = true;
  stream->source->ApplyMends(at, buffer, got);
  stream->position += got;
  return got;
}

uLong StreamWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T StreamTell(voidpf, voidpf stream_ptr) {
  return static_cast<Stream*>(stream_ptr)->position;
}

long StreamSeek(voidpf, voidpf stream_ptr, ZPOS64_T offset, int origin) {
  auto* stream = static_cast<Stream*>(stream_ptr);
  uint64_t from;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      from = 0;
      stream->source->NoteSeek(offset);
      break;
    case ZLIB_FILEFUNC_SEEK_CUR:
      from = stream->position;
      break;
    case ZLIB_FILEFUNC_SEEK_END:
      from = stream->size;
      break;
    default:
      return -1;
  }
  // A position past the end is allowed; reading there finds no bytes, which
  // fails whatever needed them. minizip steps over the blocks of a central
  // record's extra field by the sizes it reads there, and a field that ends
  // in a few bytes of padding (as alignment tools leave) makes it read a
  // size from beyond the field and step that far. The step ends its walk
  // over the field; it must not fail the record.
  if (offset > UINT64_MAX - from) return -1;
  stream->position = from + offset;
  return 0;
}

int StreamClose(voidpf, voidpf stream_ptr) {
  delete static_cast<Stream*>(stream_ptr);
  return 0;
}

int StreamError(voidpf, voidpf stream_ptr) {
  return static_cast<Stream*>(stream_ptr)->error ? 1 : 0;
}

unzFile OpenView(ArchiveSource* source, uint64_t base) {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = StreamOpen;
  functions.zread_file = StreamRead;
  functions.zwrite_file = StreamWrite;
  functions.ztell64_file = StreamTell;
  functions.zseek64_file = StreamSeek;
  functions.zclose_file = StreamClose;
  functions.zerror_file = StreamError;
  StreamOrigin origin{source, base};
  // minizip copies the function table and uses the origin only while opening.
  return unzOpen2_64(&origin, &functions);
}

uint32_t Le32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
         uint32_t{p[3]} << 24;
}
uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// Reads exactly n bytes at offset of the source; false when they are not
// all there.
bool ReadExactly(ArchiveSource* source, uint64_t offset, void* out, size_t n) {
  size_t got = 0;
  return n == 0 || (source->ReadAt(offset, out, n, &got) && got == n);
}

// The data of the ZIP64 extra block (ID 1) in a central record's extra
// field, or nullptr. The field is read as a list of blocks up to the first
// one that does not fit in it, so that trailing padding ends the list.
const unsigned char* FindZip64Block(const std::vector<unsigned char>& extra,
                                    size_t* size) {
  size_t p = 0;
  while (p + 4 <= extra.size()) {
    const size_t block = Le16(&extra[p + 2]);
    if (block > extra.size() - p - 4) break;
    if (Le16(&extra[p]) == 1) {
      *size = block;
      return &extra[p + 4];
    }
    p += 4 + block;
  }
  return nullptr;
}

constexpr uint32_t kInZip64 = 0xFFFFFFFF;
constexpr size_t kCentralRecordSize = 46;

// Mends one central record at `at` (in the source) whose fixed part is
// `record`. The ZIP64 block holds, in this order, the uncompressed size,
// the compressed size and the local header's offset, each only when the
// record's own field says 0xFFFFFFFF (a disk number may follow; there is
// one disk). False, with *limit set, when the record cannot be mended.
bool MendRecord(ArchiveSource* source, uint64_t at, const unsigned char* record,
                EntryLimit* limit) {
  // Field offsets in the fixed part: the sizes and the local header offset.
  constexpr size_t kFields[] = {24, 20, 42};
  if (Le32(record + 20) != kInZip64 && Le32(record + 24) != kInZip64 &&
      Le32(record + 42) != kInZip64) {
    return true;
  }
  std::vector<unsigned char> extra(Le16(record + 30));
  size_t size = 0;
  const unsigned char* block = nullptr;
  if (ReadExactly(source, at + kCentralRecordSize + Le16(record + 28),
                  extra.data(), extra.size())) {
    block = FindZip64Block(extra, &size);
  }
  // Without the block the fields mean what they say, as they did to
  // writers that knew no ZIP64.
  if (block == nullptr) return true;
  uint32_t values[3] = {};
  size_t q = 0;
  for (size_t i = 0; i < 3; ++i) {
    values[i] = Le32(record + kFields[i]);
    if (values[i] != kInZip64) continue;
    if (size - q < 8) {
      *limit = EntryLimit::kShortZip64Block;
      return false;
    }
    const uint64_t value =
        Le32(block + q) | static_cast<uint64_t>(Le32(block + q + 4)) << 32;
    q += 8;
    // 0xFFFFFFFF itself cannot stand in the record's field.
    if (value >= kInZip64) {
      *limit = i < 2 ? EntryLimit::kSize4GiB : EntryLimit::kOffset4GiB;
      return false;
    }
    values[i] = static_cast<uint32_t>(value);
  }
  for (size_t i = 0; i < 3; ++i) source->Mend(at + kFields[i], values[i]);
  return true;
}

// Walks the central records of the archive open on the view at `base` and
// mends them (see OpenArchive). Stops at the first record that is not one;
// minizip refuses that entry itself.
void MendCentralRecords(unzFile archive, ArchiveSource* source, uint64_t base,
                        uint64_t max_entries, EntryLimits* limits) {
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK ||
      global.number_entry > max_entries) {
    return;
  }
  // Where minizip reads the first record, in the view.
  source->RecordNextSeek();
  unzGoToFirstFile(archive);
  uint64_t at = 0;
  if (!source->TakeRecordedSeek(&at)) return;
  at += base;
  for (uint64_t i = 0; i < global.number_entry; ++i) {
    unsigned char record[kCentralRecordSize];
    if (!ReadExactly(source, at, record, sizeof record) ||
        Le32(record) != 0x02014B50) {
      break;
    }
    EntryLimit limit;
    if (!MendRecord(source, at, record, &limit))
      (*limits)[static_cast<int32_t>(i)] = limit;
    at += kCentralRecordSize + Le16(record + 28) + Le16(record + 30) +
          Le16(record + 32);
  }
  // minizip read the first record before it was mended.
  unzGoToFirstFile(archive);
}

// Opens the view of source that starts where the archive proper starts;
// *base is where that is.
unzFile OpenArchiveView(ArchiveSource* source, uint64_t* base) {
  *base = 0;
  unzFile archive = OpenView(source, 0);
  if (archive == nullptr) return nullptr;
  // minizip corrects every offset for bytes in front of the archive proper
  // (an executable before it) except the position of the local extra field,
  // so with such bytes it would read the times from the wrong place. The
  // first absolute seek of unzGoToFirstFile goes to the first central record;
  // its distance from the offset the archive lists for that record is the
  // length of those bytes. Reopening on a view that skips them makes every
  // offset right as listed.
  source->RecordNextSeek();
  const bool first_ok = unzGoToFirstFile(archive) == UNZ_OK;
  uint64_t seen = 0;
  if (!source->TakeRecordedSeek(&seen) || !first_ok) return archive;
  const uint64_t listed = unzGetOffset64(archive);
  if (seen <= listed) return archive;
  unzFile shifted = OpenView(source, seen - listed);
  if (shifted == nullptr) return archive;
  unz_global_info64 a{}, b{};
  if (unzGetGlobalInfo64(archive, &a) != UNZ_OK ||
      unzGetGlobalInfo64(shifted, &b) != UNZ_OK ||
      a.number_entry != b.number_entry) {
    unzClose(shifted);
    return archive;
  }
  unzClose(archive);
  *base = seen - listed;
  return shifted;
}

}  // namespace

void ArchiveSource::Mend(uint64_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    mended_[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

void ArchiveSource::ApplyMends(uint64_t offset, void* bytes, size_t n) const {
  auto* out = static_cast<unsigned char*>(bytes);
  for (auto it = mended_.lower_bound(offset);
       it != mended_.end() && it->first - offset < n; ++it) {
    out[it->first - offset] = it->second;
  }
}

unzFile OpenArchive(ArchiveSource* source, uint64_t max_entries,
                    EntryLimits* limits, uint64_t* view_start) {
  unzFile archive = OpenArchiveView(source, view_start);
  if (archive != nullptr)
    MendCentralRecords(archive, source, *view_start, max_entries, limits);
  return archive;
}

std::unique_ptr<ArchiveSource> OpenHandleSource(const void* source) {
  if (source == nullptr) return nullptr;
  const int fd = *static_cast<const int*>(source);
  if (fd < 0) return nullptr;
  struct stat st;
  if (Files()->Fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  const int copy = Files()->Dup(fd);
  if (copy < 0) return nullptr;
  const off_t start = Files()->Seek(copy, 0, SEEK_CUR);
  if (start < 0) {
    Files()->Close(copy);
    return nullptr;
  }
  return std::make_unique<FdSource>(copy, static_cast<uint64_t>(start),
                                    static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<ArchiveSource> OpenFileSource(const void* source) {
  if (source == nullptr) return nullptr;
  // O_NONBLOCK keeps a FIFO at the path from blocking the open; it is
  // refused right after as no regular file.
  const int fd = Files()->OpenAt(AT_FDCWD, static_cast<const char*>(source),
                                 O_RDONLY | O_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  struct stat st;
  if (Files()->Fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    Files()->Close(fd);
    return nullptr;
  }
  return std::make_unique<FdSource>(fd, 0, static_cast<uint64_t>(st.st_size));
}

std::unique_ptr<ArchiveSource> OpenMemorySource(const void* data,
                                                uint32_t length) {
  if (data == nullptr) return nullptr;
  return std::make_unique<MemorySource>(static_cast<const unsigned char*>(data),
                                        length);
}

}  // namespace morva
