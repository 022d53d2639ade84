// Read access to ZIP archives: open an archive, read the record of each entry,
// write an entry out to a file, an open descriptor or a memory block, close.
//
// This is the only code of the player that knows the ZIP format. The reading
// itself is minizip's unzip API over zlib; this layer adds the per-archive
// state behind a handle, the fixed-width entry record, the translation of ZIP
// metadata into file attributes and file times, and the writing.
//
// Limits: at most 65,535 entries, sizes and offsets below 4 GiB (ZIP64
// extra fields are read, and their values taken where they fit), one disk,
// compression methods 0 (stored) and 8 (deflated), no decryption: an
// encrypted entry's record can be read, its data cannot. A handle is used
// from one thread at a time.
#ifndef MORVA_PACKAGE_ARCHIVE_ARCHIVE_H_
#define MORVA_PACKAGE_ARCHIVE_ARCHIVE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_times.h"

namespace morva {

// Where an archive comes from (ArchiveOpen) or where an entry goes
// (ArchiveExtractEntry). Other values are refused.
enum class ArchiveIoKind : int32_t {
  // Source: points to a FileHandle of a regular file; the
  // archive starts at the handle's current offset. The handle is
  // duplicated; the caller's stays the caller's (the two share the offset).
  // Destination: points to the FileHandle of an open file, written from
  // its current offset and left open; a negative handle is refused.
  ByHandle = 1,
  // Source: a NUL-terminated path of an existing regular file.
  // Destination: the NUL-terminated path of the file to create or replace.
  ByFileName = 2,
  // Source: a block of `length` bytes, not copied; it must stay valid and
  // unchanged until ArchiveClose.
  // Destination: a buffer of `length` bytes; the entry comes in chunks.
  ByMemory = 3,
};

enum ArchiveResult : uint32_t {
  ArchiveOk = 0,
  // The destination file cannot be created (a missing folder, a read-only
  // file, a folder or a symbolic link in the way), or the destination
  // handle is kNoFile.
  ArchiveNoFile = 0x200,
  // Reading or inflating the entry failed (an encrypted entry is never
  // read), a write failed, or the entry's data ended short of the size its
  // record declares. Data beyond that size is never read.
  ArchiveWriteFailed = 0x400,
  // A chunk was delivered into the memory destination; the entry stays open.
  ArchiveMore = 0x600,
  // The local header disagrees with the central record, the compression
  // method is neither 0 nor 8, or the central record itself is unusable (a
  // name that does not fit the record or holds a NUL, a directory that
  // cannot be walked to the entry, a size or offset of 4 GiB or more;
  // ArchiveEntryProblem names the last two kinds).
  ArchiveCorrupt = 0x700,
  // The local extra field cannot be positioned or read.
  ArchiveReadFailed = 0x800,
  // No handle, an index out of range, an unknown kind, no memory buffer.
  ArchiveBadArguments = 0x10000,
  // The handle's mode tag is not kArchiveModeRead.
  ArchiveWrongMode = 0x80000,
  // Reading or inflating failed during memory extraction.
  ArchiveInflateFailed = 0x5000000,
};

// The bytes of the record's name field, the terminating NUL included.
constexpr int kArchiveNameSize = 260;

// One entry, as ArchiveGetEntry fills it.
struct ArchiveEntry {
  // Position in the central directory from 0; for the count request (index
  // -1) the number of entries.
  int32_t index = 0;
  // The name exactly as stored, NUL-terminated: folder part and separators as
  // stored, no code-page conversion. Directory entries normally end in '/'.
  char name[kArchiveNameSize] = {};
  // File-attribute bits (platform/attributes.h); kAttrDirectory marks a
  // directory: an entry whose external attributes say so, or whose name ends
  // in '/' or '\' and whose uncompressed size is 0.
  uint32_t attributes = 0;
  // All 0 when the entry's DOS date-time is no valid date and no "UT" block
  // supplies the time. A "UT" time with its top bit set is read signed
  // (1901-1969) or unsigned (2038-2106), whichever is nearer the DOS
  // date-time; unsigned when that is no valid date.
  FileTime access_time;
  FileTime creation_time;
  FileTime write_time;
  uint32_t compressed_size = 0;
  uint32_t uncompressed_size = 0;

  bool operator==(const ArchiveEntry&) const = default;
};

// The mode tag of a handle opened for reading; the only one there is.
constexpr int32_t kArchiveModeRead = 1;

// The state behind one handle.
struct ArchiveReader {
  ArchiveReader();
  ~ArchiveReader();  // closes the open entry and the archive
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // The open minizip archive (an unzFile).
  void* archive = nullptr;
  // The entry open for memory extraction, -1 when none.
  int32_t current_entry = -1;
  // The last record built for a real index, and that index (-1: none).
  ArchiveEntry cached_entry;
  int32_t cached_index = -1;

  // The rest of the reader's state, defined with the code that uses it.
  struct Rep;
  std::unique_ptr<Rep> rep;
};

struct ArchiveHandle {
  int32_t mode = 0;
  std::unique_ptr<ArchiveReader> reader;
};

// Opens an archive for reading. `source` and `length` are read as `kind`
// says; `length` serves ByMemory only. Bytes in front of the archive proper
// (an executable, say) are allowed. Returns a new handle, or nullptr when the
// kind is unknown, the source cannot be opened or is no regular file, no
// valid end-of-central-directory record is found, or the archive holds more
// than 65,535 entries; nothing stays open then. In the last case, *problem
// (when given) becomes a line that says so; it is left alone otherwise.
ArchiveHandle* ArchiveOpen(const void* source, uint32_t length,
                           ArchiveIoKind kind, std::string* problem = nullptr);

// index -1: entry->index becomes the number of entries, everything else 0.
// 0 <= index < count: fills *entry with that entry's record. Asking again for
// the index asked for last is answered from a cached copy without reading the
// archive. Closes an entry open for memory extraction.
// Returns ArchiveOk, ArchiveBadArguments (no handle, index out of range, no
// record to fill), ArchiveWrongMode, ArchiveCorrupt or ArchiveReadFailed;
// *entry is only written on ArchiveOk.
ArchiveResult ArchiveGetEntry(ArchiveHandle* handle, int32_t index,
                              ArchiveEntry* entry);

// Where an entry lies in the archive, in bytes from the archive's first byte
// (bytes in front of it not counted): its local header starts at
// header_offset and its stored data ends just before data_end. The entries
// of a well-formed archive lie one after another, so their spans are
// disjoint; records that share data are the mark of a crafted archive.
struct ArchiveEntrySpan {
  uint64_t header_offset = 0;
  uint64_t data_end = 0;
};

// Fills *span for entry `index` (0 <= index < count) from its central record
// and its local header, the same bytes extraction reads. Closes an entry open
// for memory extraction. Returns ArchiveOk, ArchiveBadArguments,
// ArchiveWrongMode, or ArchiveCorrupt where ArchiveGetEntry would give
// ArchiveCorrupt (the local header cannot be read or disagrees with the central
// record, a method other than 0 or 8); *span is only written on ArchiveOk.
ArchiveResult ArchiveGetEntrySpan(ArchiveHandle* handle, int32_t index,
                                  ArchiveEntrySpan* span);

// Why entry `index` is ArchiveCorrupt when the archive itself gives the
// reason, as a line for a tour's author ("its size ... is 4 GiB or
// more ..."); empty when there is no such reason, the entry is fine, or the
// handle or index is not valid. Reads nothing.
std::string ArchiveEntryProblem(const ArchiveHandle* handle, int32_t index);

// Writes entry `index` to `destination` as `kind` says.
//
// ByFileName, ByHandle: a directory entry gives ArchiveOk and creates
// nothing. An encrypted file entry gives ArchiveWriteFailed and creates
// nothing: its data cannot be read, only its cipher text. A file entry is
// written whole through one 16 KiB buffer; a new file gets the record's
// read-only bit as a mode without write bits, and a regular-file destination
// gets the record's access and write times. An existing file is replaced unless
// it is read-only (whoever runs us), a symbolic link or no regular file. No
// folder is created. Returns ArchiveOk, ArchiveNoFile, ArchiveWriteFailed
// (whatever was written stays), or what ArchiveGetEntry returns for the entry.
// A CRC-32 mismatch is not reported.
//
// ByMemory: delivers the next `length` bytes of the entry into `destination`
// and returns ArchiveMore while there were any; the entry stays open for the
// next call with the same index. Then ArchiveOk at the end of the data, or
// ArchiveInflateFailed when reading failed (also for a compression method
// other than 0 or 8, and for an encrypted entry). Every chunk but the last
// fills the buffer; the last one's size follows from the record's
// uncompressed size.
ArchiveResult ArchiveExtractEntry(ArchiveHandle* handle, int32_t index,
                                  void* destination, uint32_t length,
                                  ArchiveIoKind kind);

// What ArchiveVerifyEntry found for one entry.
struct ArchiveEntryCheck {
  uint32_t recorded_crc = 0;   // the CRC-32 in the central record
  uint32_t recorded_size = 0;  // the uncompressed size in the central record
  uint32_t crc = 0;            // the CRC-32 of the data as read
  uint32_t size = 0;           // the bytes of data read
  bool readable = false;       // the data could be read to its end

  bool intact() const {
    return readable && crc == recorded_crc && size == recorded_size;
  }
};

// Reads the data of entry `index` whole, as a file extraction would, and
// compares its CRC-32 and length with the central record. The launch never
// calls this (extraction takes the data as it comes); it is for tools that
// tell a tour's author whether the archive is sound. The data is never read
// beyond the recorded size, so data that is too long shows as a CRC-32
// mismatch. Returns ArchiveOk with *check filled, whatever the data held, or
// what ArchiveGetEntry returns when the entry's record cannot be read.
// Closes an entry open for memory extraction.
ArchiveResult ArchiveVerifyEntry(ArchiveHandle* handle, int32_t index,
                                 ArchiveEntryCheck* check);

// How an entry's data is stored, from its central record alone: for tools
// that say why the reader refuses an entry, and for a look at every entry
// that reads nothing but the central directory.
struct ArchiveEntryFormat {
  char name[kArchiveNameSize] = {};  // as in ArchiveEntry
  uint32_t method = 0;     // the compression method; only 0 and 8 are read
  bool encrypted = false;  // bit 0 of the general-purpose flags
  bool folder = false;     // as ArchiveEntry's directory attribute says
  // The central record's size of the data unpacked, 0xFFFFFFFF for 4 GiB
  // or more.
  uint32_t uncompressed_size = 0;
};

// Fills *format for entry `index` (0 <= index < count) from its central
// record alone, also for an entry whose local header ArchiveGetEntry
// refuses. Closes an entry open for memory extraction. Returns ArchiveOk,
// ArchiveBadArguments, ArchiveWrongMode, or ArchiveCorrupt when the central
// record cannot be read; *format is only written on ArchiveOk.
ArchiveResult ArchiveGetEntryFormat(ArchiveHandle* handle, int32_t index,
                                    ArchiveEntryFormat* format);

// True for the compression methods the reader reads: 0 and 8.
bool ArchiveMethodSupported(uint32_t method);

// A compression method by its name and number, e.g. "bzip2 (method 12)";
// "method 77" for one without a name.
std::string ArchiveMethodName(uint32_t method);

// Closes the archive and frees the handle. ArchiveOk when the handle was
// valid; after that it must not be used. ArchiveBadArguments and
// ArchiveWrongMode leave the handle as it was.
ArchiveResult ArchiveClose(ArchiveHandle* handle);

// Owns a handle and closes it.
struct ArchiveCloser {
  void operator()(ArchiveHandle* handle) const { ArchiveClose(handle); }
};
using ArchivePtr = std::unique_ptr<ArchiveHandle, ArchiveCloser>;

}  // namespace morva

#endif  // MORVA_PACKAGE_ARCHIVE_ARCHIVE_H_
