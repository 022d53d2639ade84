#include "package/unpack.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <vector>

#include "package/archive/archive.h"
#include "package/bounds.h"
#include "package/paths.h"
#include "package/temp_zip.h"
#include "platform/attributes.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/processes.h"
#include "platform/signals.h"

namespace morva {
namespace {

// "#i", the name of an entry whose record cannot be read.
std::string IndexName(int32_t i) {
  // Built in place: GCC 12 warns falsely about "#" + std::to_string(i).
  std::string number = std::to_string(i);
  number.insert(number.begin(), '#');
  return number;
}

// What the unpack does with one entry.
struct EntryPlan {
  int32_t index = 0;
  uint32_t size = 0;        // uncompressed
  bool folder = false;      // made while planning; nothing to extract
  bool viewer = false;      // its folder becomes the content folder
  std::string destination;  // the full path
  std::string name;         // as stored, for a report
};

// Decides, entry by entry in index order and before any data is read,
// everything the unpack decides about an entry: its record, whether its
// name may be unpacked and where it goes, whether it is a folder, whether
// it is the viewer movie. Makes a directory entry's folder and the folders
// a file entry needs.
class EntryPlanner {
 public:
  EntryPlanner(ArchiveHandle* archive, const std::string& work_folder)
      : archive_(archive), prefix_(work_folder + kPathSeparator) {}

  const std::string& prefix() const { return prefix_; }

  // Plans entry i: Read, then Apply.
  bool Prepare(int32_t i, EntryPlan* plan, UnpackReport* report) {
    return Read(i, plan, report) && Apply(plan, report);
  }

  // The first half of planning entry i, which changes nothing on disk: its
  // record, its name and where it goes, whether it is a folder. False with
  // *report set when the entry stops the unpack.
  bool Read(int32_t i, EntryPlan* plan, UnpackReport* report) {
    ArchiveEntry entry;
    const ArchiveResult rc = ArchiveGetEntry(archive_, i, &entry);
    if (rc != ArchiveOk) {
      *report = BadRecordReport(archive_, i, rc);
      return false;
    }
    std::string relative;
    if (!NormalizeEntryName(entry.name, &relative)) {
      *report = {UnpackStatus::kUnsafeName, entry.name, 0, {}, i};
      return false;
    }
    plan->index = i;
    plan->size = entry.uncompressed_size;
    plan->folder = (entry.attributes & kAttrDirectory) != 0;
    plan->viewer = false;
    plan->destination = prefix_ + relative;
    plan->name = entry.name;
    return true;
  }

  // The second half: makes a directory entry's folder or the folders a
  // file entry needs, refuses an encrypted entry and notes the viewer
  // movie. False with *report set when the entry stops the unpack.
  bool Apply(EntryPlan* plan, UnpackReport* report) {
    const int32_t i = plan->index;
    if (plan->folder) {
      // A folder whose parent is not there yet is simply not made.
      MakeFolder(plan->destination);
      return true;
    }
    const std::string folder = GetDirPart(plan->destination);
    // Files of one folder come together: the folder is made, or found, for
    // the first of them.
    if (folder != existing_folder_) {
      if (CreateDirPath(folder) != 1) {
        // The file cannot be created; it fails here as it would when
        // written, before anything after it is started.
        *report = {
            UnpackStatus::kEntryFailed, plan->name, ArchiveNoFile, {}, i};
        return false;
      }
      existing_folder_ = folder;
    }
    // An encrypted entry could only be written as cipher text: the reader
    // refuses it, and it stops the unpack here, before anything after it is
    // started.
    ArchiveEntryFormat format;
    if (ArchiveGetEntryFormat(archive_, i, &format) == ArchiveOk &&
        format.encrypted) {
      *report = {
          UnpackStatus::kEntryFailed, plan->name, ArchiveWriteFailed, {}, i};
      return false;
    }
    plan->viewer = strcasecmp(GetFileNamePart(plan->destination).c_str(),
                              kViewerMovieName) == 0;
    return true;
  }

 private:
  ArchiveHandle* archive_;
  const std::string prefix_;
  std::string existing_folder_;  // of the last file entry; it exists
};

// Writes the file entry `index` to destination. False with *report set when
// it could not be written.
bool ExtractFile(ArchiveHandle* archive, int32_t index,
                 const std::string& destination, UnpackReport* report) {
  const ArchiveResult rc = ArchiveExtractEntry(
      archive, index, const_cast<char*>(destination.c_str()), 0,
      ArchiveIoKind::ByFileName);
  if (rc == ArchiveOk) return true;
  ArchiveEntry entry;
  *report = {UnpackStatus::kEntryFailed,
             ArchiveGetEntry(archive, index, &entry) == ArchiveOk
                 ? std::string(entry.name)
                 : IndexName(index),
             rc,
             {},
             index};
  return false;
}

// The entries one after another, each planned and written before the next
// is looked at: nothing after a failing entry is touched.
int UnpackInOrder(ArchiveHandle* archive, EntryPlanner* planner, int32_t count,
                  std::string* content_folder, UnpackReport* report) {
  EntryPlan plan;
  for (int32_t i = 0; i < count; ++i) {
    if (!planner->Prepare(i, &plan, report)) return 0;
    if (plan.folder) continue;
    if (plan.viewer) *content_folder = GetDirPart(plan.destination);
    if (!ExtractFile(archive, i, plan.destination, report)) return 0;
  }
  return 1;
}

// The file entries of a plan, written by several threads at once, largest
// first. Each thread has its own handle on the archive; the calling thread
// works too, with the handle it has. Once an entry fails no thread starts
// another; the entries under way are finished (or fail) first.
//
// A package may hold 65,535 entries: a file is kept as its index, its size
// and where its path (below the work folder) lies in one shared string.
class ParallelExtraction {
 public:
  ParallelExtraction(std::string archive_path, std::string prefix)
      : archive_path_(std::move(archive_path)), prefix_(std::move(prefix)) {}

  void Add(const EntryPlan& plan) {
    files_.push_back(
        {plan.index, plan.size, static_cast<uint32_t>(paths_.size())});
    paths_.append(plan.destination, prefix_.size());
    paths_ += '\0';
  }

  // Writes every file added since the last run, with `workers` threads in
  // all. True when every file was written, else false with *report and
  // *failed_index naming the entry that failed first.
  bool Run(ArchiveHandle* archive, int workers, UnpackReport* report,
           int32_t* failed_index) {
    std::stable_sort(
        files_.begin(), files_.end(),
        [](const File& a, const File& b) { return a.size > b.size; });
    workers = std::min(workers, static_cast<int>(files_.size()));
    std::vector<std::thread> threads;
    {
      // The helpers take no signals: the player's signal handling stays on
      // the thread that runs the window.
      HelperSignalMask mask;
      for (int t = 1; t < workers; ++t) {
        try {
          threads.emplace_back([this] { WorkWithOwnHandle(); });
        } catch (const std::system_error&) {
          break;  // fewer helpers; the work gets done all the same
        }
      }
    }
    Work(archive);
    for (std::thread& thread : threads) thread.join();
    files_.clear();
    paths_.clear();
    next_ = 0;
    if (!failed_.load()) return true;
    *report = failure_;
    *failed_index = failed_index_;
    return false;
  }

 private:
  struct File {
    int32_t index;
    uint32_t size;
    uint32_t path;  // offset in paths_
  };

  void WorkWithOwnHandle() {
    ArchivePtr own(
        ArchiveOpen(archive_path_.c_str(), 0, ArchiveIoKind::ByFileName));
    // A helper that cannot open the archive leaves its share to the others.
    if (own != nullptr) Work(own.get());
  }

  void Work(ArchiveHandle* archive) {
    UnpackReport report;
    std::string destination = prefix_;
    while (!failed_.load(std::memory_order_relaxed)) {
      const size_t k = next_.fetch_add(1);
      if (k >= files_.size()) return;
      destination.resize(prefix_.size());
      destination += &paths_[files_[k].path];
      if (ExtractFile(archive, files_[k].index, destination, &report)) continue;
      std::lock_guard<std::mutex> lock(mutex_);
      if (!failed_.load()) {
        failure_ = report;
        failed_index_ = files_[k].index;
        failed_.store(true);
      }
      return;
    }
  }

  const std::string archive_path_;
  const std::string prefix_;
  std::vector<File> files_;
  std::string paths_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> failed_{false};
  std::mutex mutex_;
  UnpackReport failure_;
  int32_t failed_index_ = -1;
};

// Whether planning `plan` (making its folders) or writing its file could
// meet a file of the batch that is not written yet: the same destination
// twice (the later entry must win, or fail on a read-only first one), or a
// folder where the batch has a file. `pending` holds the hashes of the
// batch's destinations; a hash that only looks the same costs a flush,
// nothing else.
bool MeetsPendingFile(const EntryPlan& plan, size_t prefix_size,
                      const std::unordered_set<size_t>& pending) {
  if (pending.empty()) return false;
  std::string_view path = plan.destination;
  while (path.size() > prefix_size && path.back() == kPathSeparator)
    path.remove_suffix(1);
  const std::hash<std::string_view> hash;
  if (pending.contains(hash(path))) return true;
  for (size_t i = prefix_size; i < path.size(); ++i) {
    if (path[i] == kPathSeparator && pending.contains(hash(path.substr(0, i))))
      return true;
  }
  return false;
}

// Plans the entries in index order (records, names, folders, the content
// folder) and writes the planned files in batches on several threads. A
// batch is written before an entry that could meet one of its files is
// planned, so that what ends up on disk is what index order gives. An entry
// that stops the planning is reported once the files before it are
// written, as UnpackInOrder would.
int UnpackInParallel(ArchiveHandle* archive, const std::string& archive_path,
                     EntryPlanner* planner, int32_t count, int workers,
                     std::string* content_folder, UnpackReport* report) {
  const size_t prefix_size = planner->prefix().size();
  ParallelExtraction batch(archive_path, planner->prefix());
  std::unordered_set<size_t> pending;
  std::vector<std::pair<int32_t, std::string>> viewers;
  EntryPlan plan;
  UnpackReport plan_failure;
  int32_t failed_index = -1;
  bool written = true;
  int32_t planned = 0;
  for (; planned < count; ++planned) {
    if (!planner->Read(planned, &plan, &plan_failure)) break;
    if (MeetsPendingFile(plan, prefix_size, pending)) {
      written = batch.Run(archive, workers, report, &failed_index);
      if (!written) break;
      pending.clear();
    }
    if (!planner->Apply(&plan, &plan_failure)) break;
    if (plan.folder) continue;
    if (plan.viewer)
      viewers.emplace_back(planned, GetDirPart(plan.destination));
    batch.Add(plan);
    pending.insert(std::hash<std::string_view>()(plan.destination));
  }
  if (written) written = batch.Run(archive, workers, report, &failed_index);
  int32_t last = planned - 1;  // the last entry that counts
  int result = 1;
  if (!written) {
    last = failed_index;
    result = 0;
  } else if (planned < count) {
    *report = plan_failure;
    result = 0;
  }
  // As in index order: the last viewer movie up to the entry that failed.
  for (const auto& [index, folder] : viewers) {
    if (index <= last) *content_folder = folder;
  }
  return result;
}

// Walks the open archive into the work folder; returns 1 or 0.
int UnpackEntries(ArchiveHandle* archive, const std::string& archive_path,
                  const std::string& work_folder, int workers,
                  std::string* content_folder, UnpackReport* report) {
  if (!MayUnpack(archive, work_folder, report)) return 0;
  ArchiveEntry entry;
  ArchiveGetEntry(archive, -1, &entry);
  const int32_t count = entry.index;
  EntryPlanner planner(archive, work_folder);
  if (workers <= 1) {
    return UnpackInOrder(archive, &planner, count, content_folder, report);
  }
  return UnpackInParallel(archive, archive_path, &planner, count, workers,
                          content_folder, report);
}

// When the reader refused the entry a report names for its form (it is
// encrypted, or packed with a method the reader lacks), says so by name.
void NameRefusedForm(ArchiveHandle* archive, UnpackReport* report) {
  if (report->index < 0 || (report->status != UnpackStatus::kBadRecord &&
                            report->status != UnpackStatus::kEntryFailed)) {
    return;
  }
  ArchiveEntryFormat format;
  if (ArchiveGetEntryFormat(archive, report->index, &format) != ArchiveOk)
    return;
  if (format.encrypted) {
    report->status = UnpackStatus::kEncrypted;
  } else if (!ArchiveMethodSupported(format.method)) {
    report->status = UnpackStatus::kUnsupportedMethod;
    report->method = format.method;
  } else {
    return;
  }
  report->entry = format.name;
}

}  // namespace

int UnpackWorkers() { return std::clamp(UsableCores(), 1, kMaxUnpackWorkers); }

UnpackReport BadRecordReport(const ArchiveHandle* archive, int32_t index,
                             uint32_t result) {
  return {UnpackStatus::kBadRecord, IndexName(index), result,
          ArchiveEntryProblem(archive, index), index};
}

struct EntryPreview::File {
  int32_t index;
  uint32_t size;
  std::string destination;
};

EntryPreview::EntryPreview() = default;
EntryPreview::~EntryPreview() = default;

bool EntryPreview::Plan(ArchiveHandle* archive, const std::string& folder,
                        UnpackReport* report) {
  archive_ = archive;
  files_.clear();
  content_folder_ = folder;
  ArchiveEntry entry;
  if (ArchiveGetEntry(archive, -1, &entry) != ArchiveOk) return false;
  const std::string prefix = folder + kPathSeparator;
  // The central directory alone: the local headers lie all over the
  // archive, and on a slow disk reading them all costs what the whole
  // unpack saves.
  ArchiveEntryFormat format;
  std::string relative;
  for (int32_t i = 0, count = entry.index; i < count; ++i) {
    const ArchiveResult rc = ArchiveGetEntryFormat(archive, i, &format);
    if (rc != ArchiveOk) {
      *report = BadRecordReport(archive, i, rc);
      return false;
    }
    if (!NormalizeEntryName(format.name, &relative)) {
      *report = {UnpackStatus::kUnsafeName, format.name, 0, {}, i};
      return false;
    }
    if (format.folder) continue;
    if (format.encrypted) {
      *report = {
          UnpackStatus::kEncrypted, format.name, ArchiveWriteFailed, {}, i};
      return false;
    }
    std::string destination = prefix + relative;
    if (strcasecmp(GetFileNamePart(destination).c_str(), kViewerMovieName) ==
        0) {
      content_folder_ = GetDirPart(destination);
    }
    files_.push_back({i, format.uncompressed_size, std::move(destination)});
  }
  return true;
}

bool EntryPreview::Write(const std::string& path, uint64_t max_bytes) {
  // Of entries with the same destination the last one wins, as in index
  // order; names that differ in letter case are different files.
  std::unordered_set<std::string_view> done;
  uint64_t bytes = 0;
  for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
    if (file->destination.size() != path.size() ||
        strcasecmp(file->destination.c_str(), path.c_str()) != 0 ||
        !done.insert(file->destination).second) {
      continue;
    }
    bytes += file->size;
    UnpackReport report;
    if (bytes > max_bytes ||
        CreateDirPath(GetDirPart(file->destination)) != 1 ||
        !ExtractFile(archive_, file->index, file->destination, &report)) {
      return false;
    }
  }
  return !done.empty();
}

int UnpackArchiveInto(const std::string& archive_path,
                      const std::string& folder, std::string* content_folder,
                      UnpackReport* report, int workers) {
  *report = UnpackReport{};
  ArchivePtr archive(ArchiveOpen(archive_path.c_str(), 0,
                                 ArchiveIoKind::ByFileName, &report->reason));
  if (archive == nullptr) {
    report->status = UnpackStatus::kNotAnArchive;
    return 0;
  }
  const int result = UnpackEntries(archive.get(), archive_path, folder, workers,
                                   content_folder, report);
  if (result == 0) NameRefusedForm(archive.get(), report);
  return result;
}

int UnpackTempZip(std::string* temp_zip_path, std::string* content_folder,
                  std::string* work_folder, UnpackReport* report) {
  UnpackReport ignored;
  if (report == nullptr) report = &ignored;
  *report = UnpackReport{};
  int result = 0;
  if (temp_zip_path->empty()) {
    report->status = UnpackStatus::kNoArchive;
  } else {
    // The unique name's file makes way for a folder of the same name. mkdir
    // is exclusive and does not follow a link planted there meanwhile: if it
    // fails we unpack nothing rather than use a folder we did not make.
    const std::string folder = MakeTempFileName();
    if (folder.empty() || (RemoveFile(folder), !MakeFolder(folder, 0700))) {
      report->status = UnpackStatus::kNoWorkFolder;
    } else {
      *work_folder = folder;
      *content_folder = folder;
      result = UnpackArchiveInto(*temp_zip_path, folder, content_folder, report,
                                 UnpackWorkers());
    }
  }
  if (!temp_zip_path->empty()) RemoveFile(*temp_zip_path);
  temp_zip_path->clear();
  return result;
}

}  // namespace morva
