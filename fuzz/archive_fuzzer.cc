// The archive reader on arbitrary bytes: open from memory, the count, every
// record, every entry in small memory chunks and out to a file, and the
// records again after going back. Where an entry was written out whole, the
// memory chunks must hold the same bytes.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/sandbox.h"
#include "package/archive/archive.h"
#include "platform/attributes.h"

namespace morva::fuzz {
namespace {

// Memory extraction inflates whatever the entry holds, with no disk quota to
// stop a bomb; this bounds it per execution.
constexpr uint64_t kMemoryBudget = 1 << 20;
// Small and unaligned, so that chunks end inside deflate blocks and headers.
constexpr uint32_t kChunkSizes[] = {61, 1000, 7, 4096};

bool IsRecordFailure(ArchiveResult rc) {
  return rc == ArchiveCorrupt || rc == ArchiveReadFailed;
}

struct MemoryResult {
  bool complete = false;  // the last call returned ArchiveOk
  uint32_t chunks = 0;
  std::string bytes;  // chunks joined; the last one taken whole
};

MemoryResult ExtractToMemory(ArchiveHandle* archive, int32_t index, uint32_t chunk,
                             uint64_t* budget) {
  MemoryResult result;
  // Exactly the chunk's size, so that a write past it is a heap overflow.
  std::vector<char> buffer(chunk);
  for (;;) {
    const ArchiveResult rc =
        ArchiveExtractEntry(archive, index, buffer.data(), chunk, ArchiveIoKind::ByMemory);
    if (rc == ArchiveMore) {
      ++result.chunks;
      result.bytes.append(buffer.data(), chunk);
      if (*budget < chunk) {
        *budget = 0;
        return result;  // left open; the next call on the handle closes it
      }
      *budget -= chunk;
      continue;
    }
    FUZZ_CHECK(rc == ArchiveOk || rc == ArchiveInflateFailed);
    result.complete = rc == ArchiveOk;
    return result;
  }
}

// Writes entry index to a file in the sandbox, by name or through a
// descriptor; returns the result and, on ArchiveOk, the file's bytes.
ArchiveResult ExtractToFile(ArchiveHandle* archive, int32_t index, bool by_handle,
                            std::string* bytes) {
  const std::string path = Sandbox::Get().temp() + "/entry";
  ArchiveResult rc;
  if (by_handle) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    rc = ArchiveExtractEntry(archive, index, &fd, 0, ArchiveIoKind::ByHandle);
    close(fd);
  } else {
    rc = ArchiveExtractEntry(archive, index, const_cast<char*>(path.c_str()), 0,
                             ArchiveIoKind::ByFileName);
  }
  if (rc == ArchiveOk) {
    if (by_handle || IsRegularFile(path)) FUZZ_CHECK(ReadWholeFile(path, bytes));
  }
  unlink(path.c_str());
  return rc;
}

void CheckEntry(ArchiveHandle* archive, int32_t index, uint64_t* budget) {
  ArchiveEntry entry;
  ArchiveResult rc = ArchiveGetEntry(archive, index, &entry);
  FUZZ_CHECK(rc == ArchiveOk || IsRecordFailure(rc));
  if (rc == ArchiveOk) {
    FUZZ_CHECK(entry.index == index);
    FUZZ_CHECK(std::memchr(entry.name, '\0', sizeof entry.name) != nullptr);
    FUZZ_CHECK((entry.attributes & kAttrNormal) != 0);
    ArchiveEntry again;
    FUZZ_CHECK(ArchiveGetEntry(archive, index, &again) == ArchiveOk);
    FUZZ_CHECK(again == entry);
  }

  const uint32_t chunk = kChunkSizes[static_cast<uint32_t>(index) % std::size(kChunkSizes)];
  const MemoryResult memory = ExtractToMemory(archive, index, chunk, budget);

  std::string file;
  const ArchiveResult file_rc = ExtractToFile(archive, index, index % 2 == 1, &file);
  if (rc != ArchiveOk) {
    // The file path builds the same record, and fails the same way.
    FUZZ_CHECK(file_rc == rc);
    return;
  }
  FUZZ_CHECK(file_rc == ArchiveOk || file_rc == ArchiveWriteFailed ||
             file_rc == ArchiveNoFile);
  if ((entry.attributes & kAttrDirectory) != 0) {
    FUZZ_CHECK(file_rc == ArchiveOk);
    return;
  }
  if (file_rc != ArchiveOk) return;
  // Written whole: exactly the declared size, and what memory extraction
  // delivered, chunk for chunk.
  FUZZ_CHECK(file.size() == entry.uncompressed_size);
  if (!memory.complete) return;
  FUZZ_CHECK(memory.chunks == (uint64_t{entry.uncompressed_size} + chunk - 1) / chunk);
  FUZZ_CHECK(memory.bytes.compare(0, file.size(), file) == 0);
}

}  // namespace
}  // namespace morva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morva;
  using namespace morva::fuzz;
  Sandbox& sandbox = Sandbox::Get();
  sandbox.BeginRun();
  ArchivePtr archive(ArchiveOpen(data, static_cast<uint32_t>(size), ArchiveIoKind::ByMemory));
  if (archive != nullptr) {
    ArchiveEntry count_record;
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), -1, &count_record) == ArchiveOk);
    const int32_t count = count_record.index;
    FUZZ_CHECK(count >= 0 && count <= 65535);
    FUZZ_CHECK(count_record.name[0] == '\0' && count_record.attributes == 0 &&
               count_record.uncompressed_size == 0);
    ArchiveEntry unused;
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), count, &unused) == ArchiveBadArguments);
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), -2, &unused) == ArchiveBadArguments);

    ArchiveEntry first;
    const ArchiveResult first_rc = count > 0 ? ArchiveGetEntry(archive.get(), 0, &first)
                                             : ArchiveBadArguments;
    uint64_t budget = kMemoryBudget;
    for (int32_t i = 0; i < count; ++i) CheckEntry(archive.get(), i, &budget);

    // Going back starts the walk over and must find the same record.
    if (count > 1) {
      ArchiveEntry back;
      FUZZ_CHECK(ArchiveGetEntry(archive.get(), 0, &back) == first_rc);
      if (first_rc == ArchiveOk) FUZZ_CHECK(back == first);
    }
  }
  archive.reset();
  sandbox.EndRun();
  return 0;
}
