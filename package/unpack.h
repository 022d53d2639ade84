// Unpacking the temporary archive into a fresh work folder.
#ifndef MORVA_PACKAGE_UNPACK_H_
#define MORVA_PACKAGE_UNPACK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "package/archive/archive.h"

namespace morva {

// The file whose folder becomes the content folder.
constexpr char kViewerMovieName[] = "qzviewer.swf";

// Why an unpack stopped, for tools that explain it; the player only looks at
// the 1/0 result.
enum class UnpackStatus {
  kOk,
  kNoArchive,          // no temporary archive to unpack
  kNoWorkFolder,       // no unique name, or the folder could not be made
  kNotAnArchive,       // the archive could not be opened as a ZIP archive
  kBadRecord,          // an entry's record could not be read
  kUnsafeName,         // an entry name leads outside the work folder
  kEntryFailed,        // an entry could not be written
  kOverlapping,        // records share data, as crafted archives do (bounds.h)
  kTooLarge,           // the entries declare more than the disk has free
  kEncrypted,          // an entry is encrypted; the reader does not decrypt
  kUnsupportedMethod,  // an entry's compression method is neither 0 nor 8
};

struct UnpackReport {
  UnpackStatus status = UnpackStatus::kOk;
  std::string entry;            // the entry's name, where one is at fault
  uint32_t archive_result = 0;  // the archive reader's code, where it failed
  // The archive reader's own words, where it has them (ArchiveEntryProblem,
  // or why ArchiveOpen refused the archive); else empty.
  std::string reason;
  int32_t index = -1;   // the entry's index, where one is at fault
  uint32_t method = 0;  // for kUnsupportedMethod
};

// The report for entry `index` of archive, whose record gave `result`.
UnpackReport BadRecordReport(const ArchiveHandle* archive, int32_t index,
                             uint32_t result);

// The most threads an unpack uses.
constexpr int kMaxUnpackWorkers = 4;

// The threads UnpackTempZip unpacks with: one per core this process may run
// on, at most kMaxUnpackWorkers.
int UnpackWorkers();

// Unpacks every entry of the ZIP archive at archive_path below folder, which
// must exist, with the rules UnpackTempZip uses: entry names use "/" or "\"
// as folder separators, an entry name that would lead outside folder stops
// the walk, a file entry's folders are made as needed. *content_folder
// becomes the folder of the last file entry named "qzviewer.swf" when there
// is one and is left alone otherwise. Returns 1 when every entry was
// unpacked, else 0 with *report saying where and why (kNotAnArchive when the
// archive cannot be opened; kEncrypted or kUnsupportedMethod, by the entry's
// name, when the reader refused an entry for that). The archive file itself
// is left as it is.
//
// With one worker the entries are unpacked in index order: entries unpacked
// before a failure stay, and nothing of the failing entry or after it is
// written. With more, every entry is first looked at in index order (its
// record, its name, whether it is encrypted, its folders, the content
// folder); an entry refused there is reported once the files before it are
// written, and nothing of it or after it is written. The files are written
// on up to `workers` threads, each with its own handle on the archive, the
// largest first, in batches: an entry whose file or folders would meet a
// file not yet written (a name that comes twice, a folder named like a
// file) waits until the files before it are, so that what ends up on disk
// is what index order gives. No file is started after one has failed;
// files under way at that moment are finished, and files after the failing
// one in the archive's order may have been written before it. Which of the
// files under way reports a failure they share (a full disk) depends on how
// the threads ran. Either way, what was written before a failure stays.
// REQUIRES: folder does not end with a separator.
int UnpackArchiveInto(const std::string& archive_path,
                      const std::string& folder, std::string* content_folder,
                      UnpackReport* report, int workers = 1);

// The entries of an archive placed below a folder as UnpackArchiveInto
// places them, for reading a few of them before the whole archive is
// unpacked (the player reads its start page that way while the rest is
// still being copied out).
class EntryPreview {
 public:
  EntryPreview();
  ~EntryPreview();
  EntryPreview(const EntryPreview&) = delete;
  EntryPreview& operator=(const EntryPreview&) = delete;

  // Looks at every entry of archive in index order as UnpackArchiveInto
  // does (its name, where it goes, whether it is encrypted, the content
  // folder), from the central directory alone, and writes nothing. False,
  // with *report set, for an archive that UnpackArchiveInto would stop at
  // for an entry's central record, name or encryption. An archive that
  // passes may still fail to unpack (a local header or data that cannot be
  // read, a disk too small).
  // REQUIRES: archive outlives this; folder does not end with a separator.
  bool Plan(ArchiveHandle* archive, const std::string& folder,
            UnpackReport* report);

  // The content folder an unpack of the whole archive gives: folder, or
  // the folder of the last file entry named "qzviewer.swf".
  const std::string& content_folder() const { return content_folder_; }

  // Writes the file entries whose full path is `path` (ignoring ASCII
  // letter case), with the folders they need: of entries with the same
  // destination only the last one, which an unpack leaves. True when at
  // least one was written; false when none matched, one could not be
  // written, or they hold more than `max_bytes` in all.
  bool Write(const std::string& path, uint64_t max_bytes);

 private:
  struct File;
  ArchiveHandle* archive_ = nullptr;
  std::vector<File> files_;
  std::string content_folder_;
};

// Creates a new work folder (mode 0700, exclusively, under a unique "QZ"
// name in the temporary folder) and unpacks every entry of the archive at
// *temp_zip_path below it. Entry names use "/" or "\" as folder separators.
//
// Unpacks as UnpackArchiveInto does with UnpackWorkers() threads.
// Returns 1 when every entry was unpacked, else 0. *work_folder is set to
// the folder when it was created (and only then), so the cleanup removes
// exactly what was made. *content_folder becomes the work folder, or the
// folder of the last file entry named "qzviewer.swf" (in any letter case).
// On every path the temporary archive is deleted and *temp_zip_path emptied.
// Nothing is written outside the work folder: an entry name that would lead
// out of it stops the unpack with 0. Nothing is written at all for an
// archive whose records overlap or declare more than the disk has free.
int UnpackTempZip(std::string* temp_zip_path, std::string* content_folder,
                  std::string* work_folder, UnpackReport* report = nullptr);

}  // namespace morva

#endif  // MORVA_PACKAGE_UNPACK_H_
