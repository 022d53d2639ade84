#include "package/archive/archive.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "package/archive/archive_io.h"
#include "package/archive/entry_data.h"
#include "platform/attributes.h"
#include "platform/files.h"

namespace morva {

struct ArchiveReader::Rep {
  int32_t count = 0;               // entries in the central directory
  int32_t position = -1;           // entry minizip is on, -1 when unknown
  bool current_failed = false;     // the memory entry could not be opened
  uint32_t current_remaining = 0;  // bytes the memory entry may still give
  std::unique_ptr<ArchiveSource> source;
  uint64_t view_start = 0;  // where minizip's offsets start in the source
  // Where the central record of each entry up to the furthest one walked
  // lies (minizip's directory position), so that any of them can be gone
  // back to at once: extraction on several handles takes entries in any
  // order.
  std::vector<uint64_t> directory_offsets;
  EntryLimits limits;                     // entries refused from the start
  StoredData cached_data;                 // of the cached entry
  bool cached_encrypted = false;          // the cached entry is encrypted
  std::vector<unsigned char> extra;       // the local extra field
  std::unique_ptr<EntryDataReader> data;  // made at the first extraction
};

namespace {

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
  if (!reader->rep->current_failed) unzCloseCurrentFile(reader->archive);
  reader->current_entry = -1;
  reader->rep->current_failed = false;
  reader->rep->current_remaining = 0;
}

// Notes where the central record of the entry minizip is on lies, when it
// is the next one not noted yet.
void NoteDirectoryOffset(ArchiveReader* reader) {
  std::vector<uint64_t>& offsets = reader->rep->directory_offsets;
  unz64_file_pos at{};
  if (static_cast<size_t>(reader->rep->position) == offsets.size() &&
      unzGetFilePos64(reader->archive, &at) == UNZ_OK) {
    offsets.push_back(at.pos_in_zip_directory);
  }
}

// Puts minizip on entry index. minizip itself only walks forwards; an entry
// walked past before is gone back to directly. False when the directory
// cannot be walked that far; the position is then unknown and the next call
// starts over from the furthest entry known.
bool Position(ArchiveReader* reader, int32_t index) {
  ArchiveReader::Rep& rep = *reader->rep;
  if (rep.position == index) return true;
  const std::vector<uint64_t>& known = rep.directory_offsets;
  const int32_t furthest = static_cast<int32_t>(known.size()) - 1;
  if (index <= furthest || (furthest >= 0 && rep.position < furthest)) {
    const int32_t target = std::min(index, furthest);
    unz64_file_pos at{known[static_cast<size_t>(target)],
                      static_cast<ZPOS64_T>(target)};
    rep.position = -1;
    if (unzGoToFilePos64(reader->archive, &at) != UNZ_OK) return false;
    rep.position = target;
  } else if (rep.position < 0) {
    if (unzGoToFirstFile(reader->archive) != UNZ_OK) return false;
    rep.position = 0;
    NoteDirectoryOffset(reader);
  }
  while (rep.position < index) {
    if (unzGoToNextFile(reader->archive) != UNZ_OK) {
      rep.position = -1;
      return false;
    }
    ++rep.position;
    NoteDirectoryOffset(reader);
  }
  return true;
}

uint32_t AttributesFromExternal(uint32_t external);

// The attributes of the central record `info` with its name.
uint32_t RecordAttributes(const unz_file_info64& info, const char* name) {
  uint32_t attributes =
      AttributesFromExternal(static_cast<uint32_t>(info.external_fa));
  // Some writers (Java's among them) give folder entries no folder bits. No
  // file system makes a file whose name ends in a separator, so such a name
  // with no data is a folder, whatever the attributes say.
  const char last = info.size_filename > 0 ? name[info.size_filename - 1] : 0;
  if ((last == '/' || last == '\\') && info.uncompressed_size == 0)
    attributes |= kAttrDirectory;
  return attributes;
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

// A "UT" time is 32 bits of seconds since 1970, written signed by some and
// unsigned by others. The readings differ only when the top bit is set:
// 1901-1969 signed, 2038-2106 unsigned. Every writer fills in the entry's
// DOS date-time too, so take the reading nearer to that one. The DOS date
// cannot say anything before 1980, so a file of 1969 has 1980 there, still
// far nearer than 2106. Without a valid DOS date, unsigned.
FileTime TimestampValue(uint32_t raw, FileTime dos) {
  const FileTime as_unsigned = UnixSecondsToFileTime(int64_t{raw});
  if ((raw & 0x80000000u) == 0 || dos.value() == 0) return as_unsigned;
  const FileTime as_signed =
      UnixSecondsToFileTime(int64_t{static_cast<int32_t>(raw)});
  auto distance = [&dos](FileTime t) {
    return t.value() > dos.value() ? t.value() - dos.value()
                                   : dos.value() - t.value();
  };
  return distance(as_signed) < distance(as_unsigned) ? as_signed : as_unsigned;
}

// Takes the times of the first "UT" (extended timestamp) block of a local
// extra field: flags, then the write, access and creation times that the
// flags announce, each 32 bits of seconds since 1970 (see TimestampValue;
// `dos` is the entry's DOS date-time). A value that would run past the
// field is not read.
void ApplyTimestampBlock(const unsigned char* field, size_t length,
                         FileTime dos, ArchiveEntry* entry) {
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
        *targets[bit] = TimestampValue(raw, dos);
        q += 4;
      }
      return;
    }
    p += 4 + (size_t{field[p + 2]} | size_t{field[p + 3]} << 8);
  }
}

// Reads the central record of the entry minizip is on. Refuses a name that
// does not fit the record's field whole (minizip would cut it without a
// word) or that holds a NUL, sizes beyond 32 bits, and an entry with a
// limit found at opening.
bool ReadCentralRecord(ArchiveReader* reader, unz_file_info64* info,
                       char (&name)[kArchiveNameSize]) {
  if (reader->rep->limits.contains(reader->rep->position)) return false;
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

// Opens the entry minizip is on without inflating, which reads its local
// header and compares it with the central record `info`, and learns where
// its stored data lies. The entry stays open for the caller to close.
bool OpenStoredData(ArchiveReader* reader, const unz_file_info64& info,
                    StoredData* data) {
  if (unzOpenCurrentFile2(reader->archive, nullptr, nullptr, 1) != UNZ_OK)
    return false;
  data->offset =
      reader->rep->view_start + unzGetCurrentFileZStreamPos64(reader->archive);
  data->size = info.compressed_size;
  data->method = static_cast<uint32_t>(info.compression_method);
  return true;
}

// Bit 0 of the general-purpose flags: the data is encrypted. minizip would
// hand out the cipher text as if it were the entry's data.
constexpr uLong kEncryptedFlag = 0x1;

ArchiveResult BuildRecord(ArchiveReader* reader, int32_t index,
                          ArchiveEntry* entry, StoredData* data) {
  if (!Position(reader, index)) return ArchiveCorrupt;
  unz_file_info64 info{};
  char name[kArchiveNameSize] = {};
  if (!ReadCentralRecord(reader, &info, name)) return ArchiveCorrupt;
  // minizip would hand out the stored bytes of other methods as they are.
  if (!IsSupportedMethod(info.compression_method)) return ArchiveCorrupt;
  if (!OpenStoredData(reader, info, data)) return ArchiveCorrupt;
  ArchiveResult result = ArchiveOk;
  size_t extra_length = 0;
  const int size = unzGetLocalExtrafield(reader->archive, nullptr, 0);
  if (size < 0) {
    result = ArchiveReadFailed;
  } else if (size > 0) {
    reader->rep->extra.resize(static_cast<size_t>(size));
    if (unzGetLocalExtrafield(reader->archive, reader->rep->extra.data(),
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
  entry->attributes = RecordAttributes(info, name);
  entry->compressed_size = static_cast<uint32_t>(info.compressed_size);
  entry->uncompressed_size = static_cast<uint32_t>(info.uncompressed_size);
  const uint32_t dos = static_cast<uint32_t>(info.dosDate);
  FileTime time;
  if (DosDateTimeToFileTime(static_cast<uint16_t>(dos >> 16),
                            static_cast<uint16_t>(dos & 0xFFFF), &time)) {
    entry->access_time = entry->creation_time = entry->write_time = time;
  }
  ApplyTimestampBlock(reader->rep->extra.data(), extra_length,
                      entry->write_time, entry);
  // Kept with the record, which the cache keeps for extraction.
  reader->rep->cached_encrypted = (info.flag & kEncryptedFlag) != 0;
  return ArchiveOk;
}

// The record of entry index, from the cache when it was the last one built,
// and where its data lies (when data is not null).
ArchiveResult ObtainRecord(ArchiveReader* reader, int32_t index,
                           ArchiveEntry* entry, StoredData* data = nullptr) {
  if (index == -1 || index != reader->cached_index) {
    ArchiveEntry built;
    StoredData located;
    const ArchiveResult result = BuildRecord(reader, index, &built, &located);
    if (result != ArchiveOk) return result;
    reader->cached_entry = built;
    reader->cached_index = index;
    reader->rep->cached_data = located;
  }
  *entry = reader->cached_entry;
  if (data != nullptr) *data = reader->rep->cached_data;
  return ArchiveOk;
}

EntryDataReader* DataReader(ArchiveReader* reader) {
  if (!reader->rep->data)
    reader->rep->data =
        std::make_unique<EntryDataReader>(reader->rep->source.get());
  return reader->rep->data.get();
}

// Creates the file at path for writing, or opens an existing one to replace
// it. Returns its handle, or kNoFile. Never follows a link at path.
FileHandle CreateDestination(const char* path, uint32_t attributes) {
  if (path == nullptr) return kNoFile;
  const FileHandle fd =
      Files()->OpenAt(kCurrentFolder, path,
                      kOpenWrite | kOpenCreate | kOpenExclusive | kOpenNoFollow,
                      FileModeForAttributes(attributes));
  if (fd >= 0 || errno != EEXIST) return fd;
  // Something is there. Replace only a regular file that is not read-only,
  // as Windows would; the mode is checked here because the open below
  // succeeds for root whatever the mode says.
  FileInfo info;
  if (Files()->StatAt(kCurrentFolder, path, &info, false) != 0 ||
      info.kind != FileKind::kFile || (info.permissions & 0222) == 0) {
    return kNoFile;
  }
  const FileHandle existing = Files()->OpenAt(
      kCurrentFolder, path,
      kOpenWrite | kOpenTruncate | kOpenNoFollow | kOpenNonBlocking, 0);
  if (existing < 0) return kNoFile;
  if (Files()->Stat(existing, &info) != 0 || info.kind != FileKind::kFile) {
    Files()->Close(existing);
    return kNoFile;
  }
  if ((attributes & kAttrReadOnly) != 0) {
    Files()->SetPermissions(existing, info.permissions & ~uint32_t{0222});
  }
  return existing;
}

void SetFileTimes(FileHandle fd, const ArchiveEntry& entry) {
  // A zero time is one the archive did not give; leave the file's own.
  auto given = [](const FileTime& time) {
    return time.value() != 0 ? &time : nullptr;
  };
  Files()->SetTimes(fd, given(entry.creation_time), given(entry.access_time),
                    given(entry.write_time));
}

// Writes the entry's data into fd. False when reading or writing failed or
// the data did not have the declared size; never writes beyond that size.
bool CopyEntryData(ArchiveReader* reader, const StoredData& data, FileHandle fd,
                   uint32_t declared) {
  uint64_t total = 0;
  return DataReader(reader)->Read(data, declared, &total,
                                  [fd](const char* bytes, size_t n) {
                                    return WriteFully(fd, bytes, n);
                                  }) &&
         total == declared;
}

ArchiveResult ExtractToFile(ArchiveReader* reader, int32_t index,
                            void* destination, ArchiveIoKind kind) {
  CloseMemoryEntry(reader);
  if (index < 0 || index >= reader->rep->count) return ArchiveBadArguments;
  ArchiveEntry entry;
  StoredData data;
  const ArchiveResult result = ObtainRecord(reader, index, &entry, &data);
  if (result != ArchiveOk) return result;
  if ((entry.attributes & kAttrDirectory) != 0) return ArchiveOk;
  // Nothing is created: the data could only be read as cipher text.
  if (reader->rep->cached_encrypted) return ArchiveWriteFailed;

  const bool by_name = kind == ArchiveIoKind::ByFileName;
  FileHandle fd = kNoFile;
  if (by_name) {
    fd = CreateDestination(static_cast<const char*>(destination),
                           entry.attributes);
  } else if (destination != nullptr) {
    fd = *static_cast<const FileHandle*>(destination);
  }
  if (fd < 0) return ArchiveNoFile;

  const bool ok = CopyEntryData(reader, data, fd, entry.uncompressed_size);
  if (ok) {
    // A file we created is a regular file; a caller's descriptor may be a
    // pipe or a terminal, which has no times to set.
    FileInfo info;
    if (by_name ||
        (Files()->Stat(fd, &info) == 0 && info.kind == FileKind::kFile)) {
      SetFileTimes(fd, entry);
    }
    // Hidden, system and archive, last, since writing marks a file for
    // archiving; they are lost on POSIX.
    if (by_name) Files()->SetAttributes(fd, entry.attributes);
  }
  if (by_name) Files()->Close(fd);
  return ok ? ArchiveOk : ArchiveWriteFailed;
}

// Opens entry index for memory extraction; false when it cannot be read.
bool OpenMemoryEntry(ArchiveReader* reader, int32_t index) {
  if (!Position(reader, index)) return false;
  unz_file_info64 info{};
  char name[kArchiveNameSize];
  if (!ReadCentralRecord(reader, &info, name) ||
      !IsSupportedMethod(info.compression_method) ||
      (info.flag & kEncryptedFlag) != 0 ||
      unzOpenCurrentFile(reader->archive) != UNZ_OK) {
    return false;
  }
  reader->rep->current_remaining =
      static_cast<uint32_t>(info.uncompressed_size);
  return true;
}

ArchiveResult ExtractToMemory(ArchiveReader* reader, int32_t index,
                              void* buffer, uint32_t length) {
  if (index < 0 || buffer == nullptr) return ArchiveBadArguments;
  if (index != reader->current_entry) {
    CloseMemoryEntry(reader);
    if (index >= reader->rep->count) return ArchiveBadArguments;
    reader->current_entry = index;
    reader->rep->current_failed = !OpenMemoryEntry(reader, index);
  }
  int n = -1;
  if (!reader->rep->current_failed) {
    // Never more than the record declares, whatever the data holds.
    const uint32_t wanted = std::min(length, reader->rep->current_remaining);
    n = wanted == 0 ? 0 : unzReadCurrentFile(reader->archive, buffer, wanted);
  }
  if (n > 0) {
    reader->rep->current_remaining -= static_cast<uint32_t>(n);
    return ArchiveMore;
  }
  CloseMemoryEntry(reader);
  return n == 0 ? ArchiveOk : ArchiveInflateFailed;
}

ArchiveResult VerifyEntry(ArchiveReader* reader, int32_t index,
                          ArchiveEntryCheck* check) {
  CloseMemoryEntry(reader);
  if (index < 0 || index >= reader->rep->count || check == nullptr)
    return ArchiveBadArguments;
  ArchiveEntry entry;
  StoredData data;
  const ArchiveResult result = ObtainRecord(reader, index, &entry, &data);
  if (result != ArchiveOk) return result;
  // The record leaves the CRC-32 out; the central record has it.
  unz_file_info64 info{};
  char name[kArchiveNameSize];
  if (!Position(reader, index) || !ReadCentralRecord(reader, &info, name))
    return ArchiveCorrupt;
  *check = ArchiveEntryCheck{};
  check->recorded_crc = static_cast<uint32_t>(info.crc);
  check->recorded_size = entry.uncompressed_size;
  // The same read as extraction's, with the CRC-32 that it leaves out.
  uLong crc = crc32(0, nullptr, 0);
  uint64_t size = 0;
  check->readable = DataReader(reader)->Read(
      data, check->recorded_size, &size, [&crc](const char* bytes, size_t n) {
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes),
                    static_cast<uInt>(n));
        return true;
      });
  check->crc = static_cast<uint32_t>(crc);
  check->size = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
  return ArchiveOk;
}

}  // namespace

ArchiveReader::ArchiveReader() : rep(std::make_unique<Rep>()) {}

ArchiveReader::~ArchiveReader() {
  if (archive == nullptr) return;
  CloseMemoryEntry(this);
  unzClose(archive);
}

ArchiveHandle* ArchiveOpen(const void* source, uint32_t length,
                           ArchiveIoKind kind, std::string* problem) {
  auto reader = std::make_unique<ArchiveReader>();
  switch (kind) {
    case ArchiveIoKind::ByHandle:
      reader->rep->source = OpenHandleSource(source);
      break;
    case ArchiveIoKind::ByFileName:
      reader->rep->source = OpenFileSource(source);
      break;
    case ArchiveIoKind::ByMemory:
      reader->rep->source = OpenMemorySource(source, length);
      break;
  }
  if (reader->rep->source == nullptr) return nullptr;
  reader->archive = OpenArchive(reader->rep->source.get(), kMaxEntries,
                                &reader->rep->limits, &reader->rep->view_start);
  if (reader->archive == nullptr) return nullptr;
  // The reader's destructor closes what is open.
  unz_global_info64 global{};
  if (unzGetGlobalInfo64(reader->archive, &global) != UNZ_OK) return nullptr;
  if (global.number_entry > kMaxEntries) {
    if (problem != nullptr) {
      *problem = "the archive holds " + std::to_string(global.number_entry) +
                 " entries (a ZIP64 archive); the player reads 65535 at most";
    }
    return nullptr;
  }
  reader->rep->count = static_cast<int32_t>(global.number_entry);
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
  if (index < -1 || index >= reader->rep->count || entry == nullptr)
    return ArchiveBadArguments;
  CloseMemoryEntry(reader);
  if (index == -1) {
    *entry = ArchiveEntry{};
    entry->index = reader->rep->count;
    return ArchiveOk;
  }
  return ObtainRecord(reader, index, entry);
}

ArchiveResult ArchiveGetEntrySpan(ArchiveHandle* handle, int32_t index,
                                  ArchiveEntrySpan* span) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  ArchiveReader* reader = handle->reader.get();
  if (index < 0 || index >= reader->rep->count || span == nullptr)
    return ArchiveBadArguments;
  CloseMemoryEntry(reader);
  if (!Position(reader, index)) return ArchiveCorrupt;
  unz_file_info64 info{};
  char name[kArchiveNameSize];
  if (!ReadCentralRecord(reader, &info, name) ||
      !IsSupportedMethod(info.compression_method)) {
    return ArchiveCorrupt;
  }
  // Where extraction reads the data from. The local header's offset is not
  // in minizip's public interface, but the header's fixed part, name and
  // extra field lie right in front of the data.
  StoredData data;
  if (!OpenStoredData(reader, info, &data)) return ArchiveCorrupt;
  const uint64_t data_start = data.offset - reader->rep->view_start;
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

std::string ArchiveEntryProblem(const ArchiveHandle* handle, int32_t index) {
  if (CheckHandle(handle) != ArchiveOk) return "";
  const EntryLimits& limits = handle->reader->rep->limits;
  const auto it = limits.find(index);
  if (it == limits.end()) return "";
  switch (it->second) {
    case EntryLimit::kSize4GiB:
      return "its size is 4 GiB or more (a ZIP64 entry); the player unpacks "
             "entries below 4 GiB only";
    case EntryLimit::kOffset4GiB:
      return "it lies 4 GiB or more into the archive (a ZIP64 entry); the "
             "player reads archives below 4 GiB only";
    case EntryLimit::kShortZip64Block:
      return "its ZIP64 extra block is too short for the sizes and place "
             "that its central record says it holds";
  }
  return "";
}

ArchiveResult ArchiveVerifyEntry(ArchiveHandle* handle, int32_t index,
                                 ArchiveEntryCheck* check) {
  const ArchiveResult result = CheckHandle(handle);
  if (result != ArchiveOk) return result;
  return VerifyEntry(handle->reader.get(), index, check);
}

ArchiveResult ArchiveGetEntryFormat(ArchiveHandle* handle, int32_t index,
                                    ArchiveEntryFormat* format) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  ArchiveReader* reader = handle->reader.get();
  if (index < 0 || index >= reader->rep->count || format == nullptr)
    return ArchiveBadArguments;
  CloseMemoryEntry(reader);
  unz_file_info64 info{};
  char name[kArchiveNameSize] = {};
  if (!Position(reader, index) || !ReadCentralRecord(reader, &info, name))
    return ArchiveCorrupt;
  *format = ArchiveEntryFormat{};
  std::memcpy(format->name, name, info.size_filename);
  format->method = static_cast<uint32_t>(info.compression_method);
  format->encrypted = (info.flag & kEncryptedFlag) != 0;
  format->folder = (RecordAttributes(info, name) & kAttrDirectory) != 0;
  format->uncompressed_size = static_cast<uint32_t>(
      std::min<uint64_t>(info.uncompressed_size, UINT32_MAX));
  return ArchiveOk;
}

bool ArchiveMethodSupported(uint32_t method) {
  return IsSupportedMethod(method);
}

std::string ArchiveMethodName(uint32_t method) {
  // The methods archivers have used, by their registered numbers.
  static constexpr struct {
    uint32_t method;
    const char* name;
  } kNames[] = {
      {0, "stored"},   {1, "shrunk"},         {2, "reduced"},
      {3, "reduced"},  {4, "reduced"},        {5, "reduced"},
      {6, "imploded"}, {8, "deflated"},       {9, "deflate64"},
      {12, "bzip2"},   {14, "LZMA"},          {93, "Zstandard"},
      {95, "XZ"},      {96, "JPEG"},          {97, "WavPack"},
      {98, "PPMd"},    {99, "AES-encrypted"},
  };
  const std::string number = "method " + std::to_string(method);
  for (const auto& known : kNames) {
    if (known.method == method)
      return std::string(known.name) + " (" + number + ")";
  }
  return number;
}

ArchiveResult ArchiveClose(ArchiveHandle* handle) {
  const ArchiveResult check = CheckHandle(handle);
  if (check != ArchiveOk) return check;
  delete handle;
  return ArchiveOk;
}

}  // namespace morva
