#include "package/archive/entry_data.h"

#include <libdeflate.h>

#include <algorithm>

#include "package/archive/archive_io.h"

namespace morva {
namespace {

// Chunks of the streaming paths: large enough that a write or read call
// carries a useful amount, small enough to stay in the caches.
constexpr size_t kInputChunk = 64 * 1024;
constexpr size_t kOutputChunk = 256 * 1024;

void Reserve(std::vector<unsigned char>* buffer, size_t n) {
  if (buffer->size() < n) buffer->resize(n);
}

}  // namespace

EntryDataReader::EntryDataReader(ArchiveSource* source) : source_(source) {}

EntryDataReader::~EntryDataReader() {
  if (stream_ready_) inflateEnd(&stream_);
  if (decompressor_ != nullptr) libdeflate_free_decompressor(decompressor_);
}

bool EntryDataReader::ReadStored(uint64_t offset, size_t n,
                                 unsigned char* buffer, size_t* got) {
  *got = 0;
  if (offset > source_->size()) return true;
  n = static_cast<size_t>(std::min<uint64_t>(n, source_->size() - offset));
  return n == 0 || source_->ReadAt(offset, buffer, n, got);
}

bool EntryDataReader::Read(const StoredData& data, uint32_t declared,
                           uint64_t* total, const Sink& take) {
  *total = 0;
  if (declared == 0) return true;
  if (data.method == 0) return Copy(data, declared, total, take);
  if (data.method != Z_DEFLATED) return false;
  if (declared <= kWholeEntryLimit && data.size <= kWholeEntryLimit) {
    bool done = false;
    const bool ok = ReadWhole(data, declared, total, take, &done);
    if (done) return ok;
  }
  return Inflate(data, declared, total, take);
}

// One read and one call for the whole entry. Only a stream that gives
// exactly `declared` bytes is taken from here (*done); anything else (data
// too short, too long, corrupt, ending early) is left to the streaming path,
// which delivers what can be delivered exactly as it would for a large
// entry. A read error is final.
bool EntryDataReader::ReadWhole(const StoredData& data, uint32_t declared,
                                uint64_t* total, const Sink& take, bool* done) {
  const size_t stored = static_cast<size_t>(data.size);
  Reserve(&input_, stored);
  Reserve(&output_, declared);
  size_t got = 0;
  if (!ReadStored(data.offset, stored, input_.data(), &got)) {
    *done = true;
    return false;
  }
  if (got != stored) return false;
  if (decompressor_ == nullptr) {
    decompressor_ = libdeflate_alloc_decompressor();
    if (decompressor_ == nullptr) return false;
  }
  size_t produced = 0;
  const libdeflate_result rc = libdeflate_deflate_decompress_ex(
      decompressor_, input_.data(), stored, output_.data(), declared, nullptr,
      &produced);
  if (rc != LIBDEFLATE_SUCCESS || produced != declared) return false;
  *done = true;
  if (!take(reinterpret_cast<const char*>(output_.data()), declared))
    return false;
  *total = declared;
  return true;
}

bool EntryDataReader::Copy(const StoredData& data, uint32_t declared,
                           uint64_t* total, const Sink& take) {
  Reserve(&output_, kOutputChunk);
  const uint64_t available = std::min<uint64_t>(data.size, declared);
  while (*total < available) {
    const size_t n = static_cast<size_t>(
        std::min<uint64_t>(kOutputChunk, available - *total));
    size_t got = 0;
    if (!ReadStored(data.offset + *total, n, output_.data(), &got))
      return false;
    if (got > 0 && !take(reinterpret_cast<const char*>(output_.data()), got))
      return false;
    *total += got;
    if (got < n) return true;  // the archive ended
  }
  return true;
}

bool EntryDataReader::Inflate(const StoredData& data, uint32_t declared,
                              uint64_t* total, const Sink& take) {
  if (!stream_ready_) {
    stream_ = z_stream{};
    if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK) return false;
    stream_ready_ = true;
  } else if (inflateReset(&stream_) != Z_OK) {
    return false;
  }
  Reserve(&input_, kInputChunk);
  Reserve(&output_, kOutputChunk);
  uint64_t read = 0;  // stored bytes read so far
  bool input_ended = false;
  stream_.avail_in = 0;
  for (;;) {
    if (stream_.avail_in == 0 && !input_ended) {
      const size_t n = static_cast<size_t>(
          std::min<uint64_t>(kInputChunk, data.size - read));
      size_t got = 0;
      if (n > 0 && !ReadStored(data.offset + read, n, input_.data(), &got))
        return false;
      read += got;
      input_ended = got < n || read == data.size;
      stream_.next_in = input_.data();
      stream_.avail_in = static_cast<uInt>(got);
    }
    const size_t room = static_cast<size_t>(
        std::min<uint64_t>(kOutputChunk, declared - *total));
    stream_.next_out = output_.data();
    stream_.avail_out = static_cast<uInt>(room);
    const int rc = inflate(&stream_, Z_NO_FLUSH);
    const size_t produced = room - stream_.avail_out;
    if (produced > 0 &&
        !take(reinterpret_cast<const char*>(output_.data()), produced)) {
      return false;
    }
    *total += produced;
    if (*total == declared || rc == Z_STREAM_END) return true;
    if (rc != Z_OK && rc != Z_BUF_ERROR) return false;
    // With room left and no input left, inflate stopped for want of data.
    if (stream_.avail_in == 0 && input_ended && stream_.avail_out != 0)
      return true;
    // Z_BUF_ERROR is no progress at all: only more input could help.
    if (rc == Z_BUF_ERROR && stream_.avail_in != 0) return false;
  }
}

}  // namespace morva
