#include "package/unpack.h"

#include <strings.h>

#include "package/archive/archive.h"
#include "package/bounds.h"
#include "package/paths.h"
#include "package/temp_zip.h"
#include "platform/attributes.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

// Walks the open archive into the work folder; returns 1 or 0.
int UnpackEntries(ArchiveHandle* archive, const std::string& work_folder,
                  std::string* content_folder, UnpackReport* report) {
  if (!MayUnpack(archive, work_folder, report)) return 0;
  ArchiveEntry entry;
  ArchiveGetEntry(archive, -1, &entry);
  const int32_t count = entry.index;
  const std::string prefix = work_folder + kPathSeparator;
  for (int32_t i = 0; i < count; ++i) {
    ArchiveResult rc = ArchiveGetEntry(archive, i, &entry);
    if (rc != ArchiveOk) {
      *report = BadRecordReport(archive, i, rc);
      return 0;
    }
    std::string relative;
    if (!NormalizeEntryName(entry.name, &relative)) {
      *report = {UnpackStatus::kUnsafeName, entry.name, 0, {}, i};
      return 0;
    }
    const std::string destination = prefix + relative;
    if (entry.attributes & kAttrDirectory) {
      // A folder whose parent is not there yet is simply not made.
      MakeFolder(destination);
    } else {
      const std::string folder = GetDirPart(destination);
      CreateDirPath(folder);
      if (strcasecmp(GetFileNamePart(destination).c_str(), kViewerMovieName) ==
          0) {
        *content_folder = folder;
      }
    }
    rc = ArchiveExtractEntry(archive, i, const_cast<char*>(destination.c_str()),
                             0, ArchiveIoKind::ByFileName);
    if (rc != ArchiveOk) {
      *report = {UnpackStatus::kEntryFailed, entry.name, rc, {}, i};
      return 0;
    }
  }
  return 1;
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

UnpackReport BadRecordReport(const ArchiveHandle* archive, int32_t index,
                             uint32_t result) {
  return {UnpackStatus::kBadRecord, "#" + std::to_string(index), result,
          ArchiveEntryProblem(archive, index), index};
}

int UnpackArchiveInto(const std::string& archive_path,
                      const std::string& folder, std::string* content_folder,
                      UnpackReport* report) {
  *report = UnpackReport{};
  ArchivePtr archive(ArchiveOpen(archive_path.c_str(), 0,
                                 ArchiveIoKind::ByFileName, &report->reason));
  if (archive == nullptr) {
    report->status = UnpackStatus::kNotAnArchive;
    return 0;
  }
  const int result =
      UnpackEntries(archive.get(), folder, content_folder, report);
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
      result =
          UnpackArchiveInto(*temp_zip_path, folder, content_folder, report);
    }
  }
  if (!temp_zip_path->empty()) RemoveFile(*temp_zip_path);
  temp_zip_path->clear();
  return result;
}

}  // namespace morva
