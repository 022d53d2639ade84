// Reading an entry's data: its stored bytes read straight from the archive's
// source and inflated here, instead of through minizip's entry reader.
//
// minizip computes a CRC-32 over every byte it inflates and inflates through
// a 16 KiB buffer; the player never looks at the CRC-32 (morva-pack check
// does, and computes its own), so extraction reads raw. An entry that fits
// a bounded buffer is inflated in one call by libdeflate, faster than zlib
// on the Huffman-coded blocks deflate makes of JPEG files (extracting the
// benchmarks' tour package takes about a quarter less CPU time); larger
// ones stream through zlib in bounded chunks, so memory does not grow with
// the entry. Either way the result is what minizip would have delivered: the
// first `declared` bytes of the data, never more.
#ifndef MORVA_PACKAGE_ARCHIVE_ENTRY_DATA_H_
#define MORVA_PACKAGE_ARCHIVE_ENTRY_DATA_H_

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct libdeflate_decompressor;

namespace morva {

class ArchiveSource;

// Where one entry's stored data lies and how it is stored.
struct StoredData {
  uint64_t offset = 0;  // of the first stored byte, in the source
  uint64_t size = 0;    // stored bytes, as the central record gives them
  uint32_t method = 0;  // 0 (stored) or 8 (deflated)
};

// Entries at most this large, stored and inflated, are inflated whole.
constexpr size_t kWholeEntryLimit = 1 << 20;

// Reads the data of entries from one source, one entry at a time. Keeps its
// buffers and inflaters from entry to entry: at most 2 * kWholeEntryLimit
// plus a few hundred KiB. Used from one thread at a time.
class EntryDataReader {
 public:
  // Takes n bytes of data; false stops the read.
  using Sink = std::function<bool(const char* bytes, size_t n)>;

  // REQUIRES: source outlives this.
  explicit EntryDataReader(ArchiveSource* source);
  ~EntryDataReader();
  EntryDataReader(const EntryDataReader&) = delete;
  EntryDataReader& operator=(const EntryDataReader&) = delete;

  // Hands the first `declared` bytes of the entry's data to take, in order,
  // and sets *total to the bytes handed on. Data beyond `declared` bytes is
  // never read. Returns false when reading or inflating failed or take
  // stopped; true when the data was read to its end or to `declared`
  // bytes, whichever came first: a caller that needs the whole entry
  // compares *total with `declared`. A method other than 0 or 8 fails.
  bool Read(const StoredData& data, uint32_t declared, uint64_t* total,
            const Sink& take);

 private:
  bool ReadWhole(const StoredData& data, uint32_t declared, uint64_t* total,
                 const Sink& take, bool* done);
  bool Copy(const StoredData& data, uint32_t declared, uint64_t* total,
            const Sink& take);
  bool Inflate(const StoredData& data, uint32_t declared, uint64_t* total,
               const Sink& take);
  // Reads up to n stored bytes at offset into buffer; *got is how many
  // arrived. False on a read error.
  bool ReadStored(uint64_t offset, size_t n, unsigned char* buffer,
                  size_t* got);

  ArchiveSource* source_;
  std::vector<unsigned char> input_;
  std::vector<unsigned char> output_;
  z_stream stream_{};
  bool stream_ready_ = false;
  libdeflate_decompressor* decompressor_ = nullptr;
};

}  // namespace morva

#endif  // MORVA_PACKAGE_ARCHIVE_ENTRY_DATA_H_
