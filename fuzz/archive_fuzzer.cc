// The archive reader on arbitrary bytes: open from memory, the count, every
// record, every entry in small memory chunks and out to a file, and the
// records again after going back. Where an entry was written out whole, the
// memory chunks must hold the same bytes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/sandbox.h"
#include "package/archive/archive.h"
#include "platform/attributes.h"
#include "platform/files.h"

namespace morva::fuzz {
namespace {

// Memory extraction inflates whatever the entry holds, with no disk quota to
// stop a bomb; this bounds it per execution.
constexpr uint64_t kMemoryBudget = 1 << 20;
// Small and unaligned, so that chunks end inside deflate blocks and headers.
constexpr uint32_t kChunkSizes[] = {61, 1000, 7, 4096};
constexpr size_t kCentralRecordSize = 46;
constexpr int kMaxFailedRecords = 8;

bool IsRecordFailure(ArchiveResult rc) {
  return rc == ArchiveCorrupt || rc == ArchiveReadFailed;
}

struct MemoryResult {
  bool complete = false;  // the last call returned ArchiveOk
  uint32_t chunks = 0;
  std::string bytes;  // chunks joined; the last one taken whole
};

MemoryResult ExtractToMemory(ArchiveHandle* archive, int32_t index,
                             uint32_t chunk, uint64_t* budget) {
  MemoryResult result;
  // Exactly the chunk's size, so that a write past it is a heap overflow.
  std::vector<char> buffer(chunk);
  for (;;) {
    const ArchiveResult rc = ArchiveExtractEntry(
        archive, index, buffer.data(), chunk, ArchiveIoKind::ByMemory);
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
ArchiveResult ExtractToFile(ArchiveHandle* archive, int32_t index,
                            bool by_handle, std::string* bytes) {
  const std::string path = Sandbox::Get().temp() + "/entry";
  ArchiveResult rc;
  if (by_handle) {
    FileHandle fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    rc = ArchiveExtractEntry(archive, index, &fd, 0, ArchiveIoKind::ByHandle);
    close(fd);
  } else {
    rc = ArchiveExtractEntry(archive, index, const_cast<char*>(path.c_str()), 0,
                             ArchiveIoKind::ByFileName);
  }
  if (rc == ArchiveOk) {
    if (by_handle || IsRegularFile(path))
      FUZZ_CHECK(ReadWholeFile(path, bytes));
  }
  unlink(path.c_str());
  return rc;
}

// Runs every operation on entry index; false when its record failed.
bool CheckEntry(ArchiveHandle* archive, int32_t index, uint64_t* budget) {
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

  const uint32_t chunk =
      kChunkSizes[static_cast<uint32_t>(index) % std::size(kChunkSizes)];
  const MemoryResult memory = ExtractToMemory(archive, index, chunk, budget);

  // A descriptor needs a file made beforehand; spare that where the record
  // fails anyway.
  std::string file;
  const bool by_handle = index % 2 == 1 && rc == ArchiveOk;
  const ArchiveResult file_rc = ExtractToFile(archive, index, by_handle, &file);
  if (rc != ArchiveOk) {
    // The file path builds the same record, and fails the same way.
    FUZZ_CHECK(file_rc == rc);
    return false;
  }
  FUZZ_CHECK(file_rc == ArchiveOk || file_rc == ArchiveWriteFailed ||
             file_rc == ArchiveNoFile);
  if ((entry.attributes & kAttrDirectory) != 0) {
    FUZZ_CHECK(file_rc == ArchiveOk);
    return true;
  }
  if (file_rc != ArchiveOk) return true;
  // Written whole: exactly the declared size, and what memory extraction
  // delivered, chunk for chunk.
  FUZZ_CHECK(file.size() == entry.uncompressed_size);
  if (!memory.complete) return true;
  FUZZ_CHECK(memory.chunks ==
             (uint64_t{entry.uncompressed_size} + chunk - 1) / chunk);
  FUZZ_CHECK(memory.bytes.compare(0, file.size(), file) == 0);
  return true;
}

}  // namespace
}  // namespace morva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morva;
  using namespace morva::fuzz;
  Sandbox& sandbox = Sandbox::Get();
  sandbox.BeginRun();
  ArchivePtr archive(
      ArchiveOpen(data, static_cast<uint32_t>(size), ArchiveIoKind::ByMemory));
  if (archive != nullptr) {
    ArchiveEntry count_record;
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), -1, &count_record) == ArchiveOk);
    const int32_t count = count_record.index;
    FUZZ_CHECK(count >= 0 && count <= 65535);
    FUZZ_CHECK(count_record.name[0] == '\0' && count_record.attributes == 0 &&
               count_record.uncompressed_size == 0);
    ArchiveEntry other;
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), count, &other) ==
               ArchiveBadArguments);
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), -2, &other) ==
               ArchiveBadArguments);

    ArchiveEntry first;
    const ArchiveResult first_rc =
        count > 0 ? ArchiveGetEntry(archive.get(), 0, &first)
                  : ArchiveBadArguments;
    // Central records are 46 bytes at least and never overlap, so a count
    // beyond what the input can hold names records that are not there; one
    // of those is enough to check.
    const int32_t walkable = static_cast<int32_t>(
        std::min<size_t>(count, size / kCentralRecordSize));
    // A record that cannot be reached sends the next request back to the
    // first entry, so a directory broken early costs a walk per entry; a
    // few of those show the behaviour.
    uint64_t budget = kMemoryBudget;
    int failed = 0;
    for (int32_t i = 0; i < walkable && failed < kMaxFailedRecords; ++i) {
      if (!CheckEntry(archive.get(), i, &budget)) ++failed;
    }
    if (count > walkable) {
      FUZZ_CHECK(ArchiveGetEntry(archive.get(), count - 1, &other) ==
                 ArchiveCorrupt);
      CheckEntry(archive.get(), count - 1, &budget);
    }

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
