#include "package/bounds.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "platform/attributes.h"
#include "platform/files.h"

namespace morva {
namespace {

struct Span {
  uint64_t begin;  // the local header
  uint64_t end;    // just past the stored data
  int32_t index;
};

std::string EntryName(ArchiveHandle* archive, int32_t index) {
  ArchiveEntry entry;
  if (ArchiveGetEntry(archive, index, &entry) != ArchiveOk)
    return "#" + std::to_string(index);
  return entry.name;
}

// Reads the span of every entry; false with *report set when one cannot be.
bool ReadSpans(ArchiveHandle* archive, int32_t count, std::vector<Span>* spans,
               UnpackReport* report) {
  spans->reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    ArchiveEntrySpan span;
    const ArchiveResult rc = ArchiveGetEntrySpan(archive, i, &span);
    if (rc != ArchiveOk) {
      *report = BadRecordReport(archive, i, rc);
      return false;
    }
    spans->push_back({span.header_offset, span.data_end, i});
  }
  return true;
}

// The rule is as tight as the layout every archive writer produces: local
// header, name, extra field and data of one entry, then (after an optional
// data descriptor) the next entry's local header. Records sharing a header,
// a header inside another entry's data ("quoting" it, as overlapping zip
// bombs do) or inside its extra field all break it. Gaps are allowed.
int32_t FindOverlap(std::vector<Span> spans) {
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.index < b.index;
  });
  for (size_t i = 1; i < spans.size(); ++i) {
    if (spans[i].begin < spans[i - 1].end) return spans[i].index;
  }
  return -1;
}

}  // namespace

int64_t FreeSpaceAt(const std::string& path) {
  uint64_t bytes = 0;
  if (Files()->FreeSpace(path, &bytes) != 0) return -1;
  constexpr uint64_t kMax = std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(std::min(bytes, kMax));
}

bool DeclaredSize(ArchiveHandle* archive, uint64_t* total,
                  UnpackReport* report) {
  ArchiveEntry entry;
  *total = 0;
  if (ArchiveGetEntry(archive, -1, &entry) != ArchiveOk) {
    *report = {UnpackStatus::kBadRecord, "", ArchiveBadArguments, {}};
    return false;
  }
  const int32_t count = entry.index;
  for (int32_t i = 0; i < count; ++i) {
    const ArchiveResult rc = ArchiveGetEntry(archive, i, &entry);
    if (rc != ArchiveOk) {
      *report = BadRecordReport(archive, i, rc);
      return false;
    }
    // At most 65,535 sizes below 2^32 each: no 64-bit overflow.
    if ((entry.attributes & kAttrDirectory) == 0)
      *total += entry.uncompressed_size;
  }
  return true;
}

bool MayUnpack(ArchiveHandle* archive, const std::string& folder,
               UnpackReport* report) {
  uint64_t declared = 0;
  if (!DeclaredSize(archive, &declared, report)) return false;
  ArchiveEntry count;
  ArchiveGetEntry(archive, -1, &count);
  std::vector<Span> spans;
  if (!ReadSpans(archive, count.index, &spans, report)) return false;
  const int32_t overlapping = FindOverlap(std::move(spans));
  if (overlapping >= 0) {
    *report = {
        UnpackStatus::kOverlapping, EntryName(archive, overlapping), 0, {}};
    return false;
  }
  // Free space is measured with the temporary archive still on disk, so it
  // is what the unpack really has to write into.
  const int64_t available = FreeSpaceAt(folder);
  if (available >= 0 && declared > static_cast<uint64_t>(available)) {
    *report = {UnpackStatus::kTooLarge, "", 0, {}};
    return false;
  }
  return true;
}

}  // namespace morva
