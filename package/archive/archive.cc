#include "package/archive/archive.h"

#include <fcntl.h>
#include <minizip/unzip.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/attributes.h"
#include "platform/files.h"

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
  if (!stream->source->ReadAt(stream->base + stream->position, buffer, n,
                              &got)) {
    stream->error = true;
  }
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
  // Offsets come from the archive itself; one that points outside the data
  // is a read error, not a position to remember.
  if (offset > stream->size || from > stream->size - offset) return -1;
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

// Opens the archive in source. Returns nullptr when minizip finds no usable
// end-of-central-directory record.
unzFile OpenArchive(ArchiveSource* source) {
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
  return shifted;
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

constexpr size_t kDataBufferSize = 16384;
constexpr uint64_t kMaxEntries = 65535;

ArchiveResult CheckHandle(const ArchiveHandle* handle) {
  if (handle == nullptr) return ArchiveBadArguments;
  if (handle->mode != kArchiveModeRead) return ArchiveWrongMode;
  if (handle->reader == nullptr || handle->reader->archive == nullptr)
    return ArchiveBadArguments;
  return ArchiveOk;
}

void CloseMemoryEntry(ArchiveReader* reader) {
  if (reader->current_entry == -1) return;
  if (!reader->current_failed) unzCloseCurrentFile(reader->archive);
  reader->current_entry = -1;
  reader->current_failed = false;
  reader->current_remaining = 0;
}

// Puts minizip on entry index. It only walks forwards, so going back starts
// over from the first entry. False when the directory cannot be walked that
// far; the position is then unknown and the next call starts over.
bool Position(ArchiveReader* reader, int32_t index) {
  if (reader->position < 0 || index < reader->position) {
    reader->position = -1;
    if (unzGoToFirstFile(reader->archive) != UNZ_OK) return false;
    reader->position = 0;
  }
  while (reader->position < index) {
    if (unzGoToNextFile(reader->archive) != UNZ_OK) {
      reader->position = -1;
      return false;
    }
    ++reader->position;
  }
  return true;
}

uint32_t AttributesFromExternal(uint32_t external) {
  uint32_t attributes = kAttrNormal;
  // Bit 30 is the directory type of a Unix mode in the upper half; bit 4
  // the DOS directory attribute.
  if ((external & 0x40000000) != 0 || (external & kAttrDirectory) != 0)
    attributes = kAttrDirectory | kAttrNormal;
  if ((external & kAttrArchive) != 0) attributes |= kAttrArchive;
  if ((external & kAttrHidden) != 0) attributes |= kAttrHidden;
  // Bit 23 is the owner's write permission of a Unix mode. Archives from
  // DOS hosts have no mode, so their entries come out read-only.
  if ((external & 0x00800000) == 0 || (external & kAttrReadOnly) != 0)
    attributes |= kAttrReadOnly;
  if ((external & kAttrSystem) != 0) attributes |= kAttrSystem;
  return attributes;
}

// Takes the times of the first "UT" (extended timestamp) block of a local
// extra field: flags, then the write, access and creation times that the
// flags announce, each a signed 32-bit count of seconds since 1970. A value
// that would run past the field is not read.
void ApplyTimestampBlock(const unsigned char* field, size_t length,
                         ArchiveEntry* entry) {
  if (length <= 4) return;
  size_t p = 0;
  while (p + 4 < length) {
    if (field[p] == 'U' && field[p + 1] == 'T') {
      const unsigned flags = field[p + 4];
      size_t q = p + 5;
      FileTime* const targets[] = {&entry->write_time, &entry->access_time,
                                   &entry->creation_time};
      for (int bit = 0; bit < 3; ++bit) {
        if ((flags & (1u << bit)) == 0) continue;
        if (q + 4 > length) return;
        const uint32_t raw = uint32_t{field[q]} | uint32_t{field[q + 1]} << 8 |
                             uint32_t{field[q + 2]} << 16 |
                             uint32_t{field[q + 3]} << 24;
        *targets[bit] = UnixSecondsToFileTime(static_cast<int32_t>(raw));
        q += 4;
      }
      return;
    }
    p += 4 + (size_t{field[p + 2]} | size_t{field[p + 3]} << 8);
  }
}

// Reads the central record of the entry minizip is on. Refuses a name that
// does not fit the record's field whole (minizip would cut it without a
// word) or that holds a NUL, and sizes beyond 32 bits.
bool ReadCentralRecord(ArchiveReader* reader, unz_file_info64* info,
                       char (&name)[kArchiveNameSize]) {
  if (unzGetCurrentFileInfo64(reader->archive, info, name, sizeof name, nullptr,
                              0, nullptr, 0) != UNZ_OK) {
    return false;
  }
  if (info->size_filename >= sizeof name) return false;
  if (std::memchr(name, '\0', info->size_filename) != nullptr) return false;
  return info->compressed_size <= UINT32_MAX &&
         info->uncompressed_size <= UINT32_MAX;
}

bool IsSupportedMethod(uLong method) {
  return method == 0 || method == Z_DEFLATED;
}

ArchiveResult BuildRecord(ArchiveReader* reader, int32_t index,
                          ArchiveEntry* entry) {
  if (!Position(reader, index)) return ArchiveCorrupt;
  unz_file_info64 info{};
  char name[kArchiveNameSize] = {};
  if (!ReadCentralRecord(reader, &info, name)) return ArchiveCorrupt;
  // minizip would hand out the stored bytes of other methods as they are.
  if (!IsSupportedMethod(info.compression_method)) return ArchiveCorrupt;
  // Opening the entry compares its local header with the central record.
  if (unzOpenCurrentFile(reader->archive) != UNZ_OK) return ArchiveCorrupt;
  ArchiveResult result = ArchiveOk;
  size_t extra_length = 0;
  const int size = unzGetLocalExtrafield(reader->archive, nullptr, 0);
  if (size < 0) {
    result = ArchiveReadFailed;
  } else if (size > 0) {
    reader->extra.resize(static_cast<size_t>(size));
    if (unzGetLocalExtrafield(reader->archive, reader->extra.data(),
                              static_cast<unsigned>(size)) != size) {
      result = ArchiveReadFailed;
    }
    extra_length = static_cast<size_t>(size);
  }
  unzCloseCurrentFile(reader->archive);
  if (result != ArchiveOk) return result;

  *entry = ArchiveEntry{};
  entry->index = index;
  std::memcpy(entry->name, name, info.size_filename);
  entry->name[info.size_filename] = '\0';
  entry->attributes =
      AttributesFromExternal(static_cast<uint32_t>(info.external_fa));
  entry->compressed_size = static_cast<uint32_t>(info.compressed_size);
  entry->uncompressed_size = static_cast<uint32_t>(info.uncompressed_size);
  const uint32_t dos = static_cast<uint32_t>(info.dosDate);
  FileTime time;
  if (DosDateTimeToFileTime(static_cast<uint16_t>(dos >> 16),
                            static_cast<uint16_t>(dos & 0xFFFF), &time)) {
    entry->access_time = entry->creation_time = entry->write_time = time;
  }
  ApplyTimestampBlock(reader->extra.data(), extra_length, entry);
  return ArchiveOk;
}

// The record of entry index, from the cache when it was the last one built.
ArchiveResult ObtainRecord(ArchiveReader* reader, int32_t index,
                           ArchiveEntry* entry) {
  if (index != -1 && index == reader->cached_index) {
    *entry = reader->cached_entry;
    return ArchiveOk;
  }
  ArchiveEntry built;
  const ArchiveResult result = BuildRecord(reader, index, &built);
  if (result != ArchiveOk) return result;
  reader->cached_entry = built;
  reader->cached_index = index;
  *entry = built;
  return ArchiveOk;
}

// Creates the file at path for writing, or opens an existing one to replace
// it. Returns the descriptor, or -1. Never follows a link at path.
int CreateDestination(const char* path, uint32_t attributes) {
  if (path == nullptr) return -1;
  const int fd =
      Files()->OpenAt(AT_FDCWD, path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW,
                      FileModeForAttributes(attributes));
  if (fd >= 0 || errno != EEXIST) return fd;
  // Something is there. Replace only a regular file that is not read-only,
  // as Windows would; the mode is checked here because the open below
  // succeeds for root whatever the mode says.
  struct stat st;
  if (Files()->StatAt(AT_FDCWD, path, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
      !S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) {
    return -1;
  }
  const int existing = Files()->OpenAt(
      AT_FDCWD, path, O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK, 0);
  if (existing < 0) return -1;
  if (Files()->Fstat(existing, &st) != 0 || !S_ISREG(st.st_mode)) {
    Files()->Close(existing);
    return -1;
  }
  if ((attributes & kAttrReadOnly) != 0) {
    Files()->Fchmod(existing, st.st_mode & 07777 & ~mode_t{0222});
  }
  return existing;
}

void SetFileTimes(int fd, const ArchiveEntry& entry) {
  // A zero time is one the archive did not give; leave the file's own. This
  // platform has no creation time to set.
  timespec times[2];
  times[0] = FileTimeToTimespec(entry.access_time);
  times[1] = FileTimeToTimespec(entry.write_time);
  if (entry.access_time.value() == 0) times[0].tv_nsec = UTIME_OMIT;
  if (entry.write_time.value() == 0) times[1].tv_nsec = UTIME_OMIT;
  Files()->Futimens(fd, times);
}

// Streams the open entry into fd. False when reading or writing failed or
// the data did not have the declared size; never writes beyond that size.
bool CopyEntryData(ArchiveReader* reader, int fd, uint32_t declared) {
  if (!reader->data_buffer)
    reader->data_buffer.reset(new char[kDataBufferSize]);
  char* const buffer = reader->data_buffer.get();
  uint64_t total = 0;
  for (;;) {
    const int n = unzReadCurrentFile(reader->archive, buffer, kDataBufferSize);
    if (n < 0) return false;
    if (n == 0) break;
    const uint64_t allowed = declared - std::min<uint64_t>(total, declared);
    if (static_cast<uint64_t>(n) > allowed) {
      WriteFully(fd, buffer, static_cast<size_t>(allowed));
      return false;
    }
    if (!WriteFully(fd, buffer, static_cast<size_t>(n))) return false;
    total += static_cast<uint64_t>(n);
  }
  // minizip ends an entry quietly when its data runs out early.
  return total == declared;
}

ArchiveResult ExtractToFile(ArchiveReader* reader, int32_t index,
                            void* destination, ArchiveIoKind kind) {
  CloseMemoryEntry(reader);
  if (index < 0 || index >= reader->count) return ArchiveBadArguments;
  ArchiveEntry entry;
  const ArchiveResult result = ObtainRecord(reader, index, &entry);
  if (result != ArchiveOk) return result;
  if ((entry.attributes & kAttrDirectory) != 0) return ArchiveOk;

  const bool by_name = kind == ArchiveIoKind::ByFileName;
  int fd = -1;
  if (by_name) {
    fd = CreateDestination(static_cast<const char*>(destination),
                           entry.attributes);
  } else if (destination != nullptr) {
    fd = *static_cast<const int*>(destination);
  }
  if (fd < 0) return ArchiveNoFile;

  bool ok = Position(reader, index) &&
            unzOpenCurrentFile(reader->archive) == UNZ_OK &&
            CopyEntryData(reader, fd, entry.uncompressed_size);
  if (ok) {
    // A file we created is a regular file; a caller's descriptor may be a
    // pipe or a terminal, which has no times to set.
    struct stat st;
    if (by_name || (Files()->Fstat(fd, &st) == 0 && S_ISREG(st.st_mode))) {
      SetFileTimes(fd, entry);
    }
  }
  if (by_name) Files()->Close(fd);
  // The CRC-32 comparison minizip makes here does not count.
  unzCloseCurrentFile(reader->archive);
  return ok ? ArchiveOk : ArchiveWriteFailed;
}

// Opens entry index for memory extraction; false when it cannot be read.
bool OpenMemoryEntry(ArchiveReader* reader, int32_t index) {
  if (!Position(reader, index)) return false;
  unz_file_info64 info{};
  char name[kArchiveNameSize];
  if (!ReadCentralRecord(reader, &info, name) ||
      !IsSupportedMethod(info.compression_method) ||
      unzOpenCurrentFile(reader->archive) != UNZ_OK) {
    return false;
  }
  reader->current_remaining = static_cast<uint32_t>(info.uncompressed_size);
  return true;
}

ArchiveResult ExtractToMemory(ArchiveReader* reader, int32_t index,
                              void* buffer, uint32_t length) {
  if (index < 0 || buffer == nullptr) return ArchiveBadArguments;
  if (index != reader->current_entry) {
    CloseMemoryEntry(reader);
    if (index >= reader->count) return ArchiveBadArguments;
    reader->current_entry = index;
    reader->current_failed = !OpenMemoryEntry(reader, index);
  }
  int n = -1;
  if (!reader->current_failed) {
    // Never more than the record declares, whatever the data holds.
    const uint32_t wanted = std::min(length, reader->current_remaining);
    n = wanted == 0 ? 0 : unzReadCurrentFile(reader->archive, buffer, wanted);
  }
  if (n > 0) {
    reader->current_remaining -= static_cast<uint32_t>(n);
    return ArchiveMore;
  }
  CloseMemoryEntry(reader);
  return n == 0 ? ArchiveOk : ArchiveInflateFailed;
}

ArchiveResult VerifyEntry(ArchiveReader* reader, int32_t index,
                          ArchiveEntryCheck* check) {
  CloseMemoryEntry(reader);
  if (index < 0 || index >= reader->count || check == nullptr)
    return ArchiveBadArguments;
  ArchiveEntry entry;
  const ArchiveResult result = ObtainRecord(reader, index, &entry);
  if (result != ArchiveOk) return result;
  // The record leaves the CRC-32 out; the central record has it.
  unz_file_info64 info{};
  char name[kArchiveNameSize];
  if (!Position(reader, index) || !ReadCentralRecord(reader, &info, name))
    return ArchiveCorrupt;
  *check = ArchiveEntryCheck{};
  check->recorded_crc = static_cast<uint32_t>(info.crc);
  check->recorded_size = entry.uncompressed_size;
  if (unzOpenCurrentFile(reader->archive) != UNZ_OK) return ArchiveOk;
  if (!reader->data_buffer)
    reader->data_buffer.reset(new char[kDataBufferSize]);
  char* const buffer = reader->data_buffer.get();
  uLong crc = crc32(0, nullptr, 0);
  uint64_t size = 0;
  bool failed = false;
  for (;;) {
    const int n = unzReadCurrentFile(reader->archive, buffer, kDataBufferSize);
    if (n < 0) {
      failed = true;
      break;
    }
    if (n == 0) break;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(buffer),
                static_cast<uInt>(n));
    size += static_cast<uint64_t>(n);
  }
  unzCloseCurrentFile(reader->archive);
  check->readable = !failed;
  check->crc = static_cast<uint32_t>(crc);
  check->size = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
  return ArchiveOk;
}

}  // namespace

ArchiveReader::ArchiveReader() = default;

ArchiveReader::~ArchiveReader() {
  if (archive == nullptr) return;
  CloseMemoryEntry(this);
  unzClose(archive);
}

ArchiveHandle* ArchiveOpen(const void* source, uint32_t length,
                           ArchiveIoKind kind) {
  auto reader = std::make_unique<ArchiveReader>();
  switch (kind) {
    case ArchiveIoKind::ByHandle:
      reader->source = OpenHandleSource(source);
      break;
    case ArchiveIoKind::ByFileName:
      reader->source = OpenFileSource(source);
      break;
    case ArchiveIoKind::ByMemory:
      if (source != nullptr) {
        reader->source = std::make_unique<MemorySource>(
            static_cast<const unsigned char*>(source), length);
      }
      break;
  }
  if (reader->source == nullptr) return nullptr;
  reader->archive = OpenArchive(reader->source.get());
  if (reader->archive == nullptr) return nullptr;
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(reader->archive, &global) != UNZ_OK ||
      global.number_entry > kMaxEntries) {
    return nullptr;  // the reader's destructor closes what is open
  }
  reader->count = static_cast<int32_t>(global.number_entry);
  auto* handle = new ArchiveHandle;
  handle->mode = kArchiveModeRead;
  handle->reader = std::move(reader);
  return handle;
}

ArchiveResult ArchiveGetEntry(ArchiveHandle* handle, int32_t index,
                              ArchiveEntry* entry) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  ArchiveReader* reader = handle->reader.get();
  if (index < -1 || index >= reader->count || entry == nullptr)
    return ArchiveBadArguments;
  CloseMemoryEntry(reader);
  if (index == -1) {
    *entry = ArchiveEntry{};
    entry->index = reader->count;
    return ArchiveOk;
  }
  return ObtainRecord(reader, index, entry);
}

ArchiveResult ArchiveGetEntrySpan(ArchiveHandle* handle, int32_t index,
                                  ArchiveEntrySpan* span) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  ArchiveReader* reader = handle->reader.get();
  if (index < 0 || index >= reader->count || span == nullptr)
    return ArchiveBadArguments;
  CloseMemoryEntry(reader);
  if (!Position(reader, index)) return ArchiveCorrupt;
  unz_file_info64 info{};
  char name[kArchiveNameSize];
  if (!ReadCentralRecord(reader, &info, name) ||
      !IsSupportedMethod(info.compression_method)) {
    return ArchiveCorrupt;
  }
  // Opened raw, minizip only reads and checks the local header; where it
  // puts the data is where extraction will read it from. The header's offset
  // is not in its public interface, but the header's fixed part, name and
  // extra field lie right in front of the data.
  if (unzOpenCurrentFile2(reader->archive, nullptr, nullptr, 1) != UNZ_OK)
    return ArchiveCorrupt;
  const uint64_t data_start = unzGetCurrentFileZStreamPos64(reader->archive);
  const int extra = unzGetLocalExtrafield(reader->archive, nullptr, 0);
  unzCloseCurrentFile(reader->archive);
  constexpr uint64_t kLocalHeaderSize = 30;
  const uint64_t header_size = kLocalHeaderSize + info.size_filename +
                               static_cast<uint64_t>(std::max(extra, 0));
  if (extra < 0 || data_start < header_size) return ArchiveCorrupt;
  span->header_offset = data_start - header_size;
  span->data_end = data_start + info.compressed_size;
  return ArchiveOk;
}

ArchiveResult ArchiveExtractEntry(ArchiveHandle* handle, int32_t index,
                                  void* destination, uint32_t length,
                                  ArchiveIoKind kind) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  switch (kind) {
    case ArchiveIoKind::ByHandle:
    case ArchiveIoKind::ByFileName:
      return ExtractToFile(handle->reader.get(), index, destination, kind);
    case ArchiveIoKind::ByMemory:
      return ExtractToMemory(handle->reader.get(), index, destination, length);
  }
  return ArchiveBadArguments;
}

ArchiveResult ArchiveVerifyEntry(ArchiveHandle* handle, int32_t index,
                                 ArchiveEntryCheck* check) {
  const ArchiveResult result = CheckHandle(handle);
  if (result != ArchiveOk) return result;
  return VerifyEntry(handle->reader.get(), index, check);
}

ArchiveResult ArchiveClose(ArchiveHandle* handle) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  delete handle;
  return ArchiveOk;
}

}  // namespace morva
