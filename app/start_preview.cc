#include "app/start_preview.h"

#include "package/archive/archive.h"
#include "package/cleanup.h"
#include "package/package_region.h"
#include "package/temp_zip.h"
#include "package/unpack.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

// The two files the start-page step reads, unpacked into `scratch`.
StartPageStatus ReadFromPreview(ArchiveHandle* archive,
                                const std::string& scratch, StartPage* out) {
  EntryPreview preview;
  UnpackReport report;
  if (!preview.Plan(archive, scratch, &report)) {
    return StartPageStatus::kNoAutorun;
  }
  const std::string& content = preview.content_folder();
  preview.Write(JoinPath(content, "autorun.inf"), kPreviewMaxBytes);
  StartPageStatus status = FindStartPage(content, scratch, nullptr, out);
  // The launcher's name is known now; nothing had it yet.
  if (status == StartPageStatus::kNoLauncher &&
      preview.Write(out->launcher_path, kPreviewMaxBytes)) {
    status = FindStartPage(content, scratch, nullptr, out);
  }
  return status;
}

}  // namespace

bool PreviewStartPage(StartPage* out) {
  FileSystem* fs = Files();
  FileHandle fd =
      fs->OpenAt(kCurrentFolder, fs->ModuleFileName(), kOpenRead, 0);
  if (fd < 0) return false;
  PackageRegion region;
  ArchivePtr archive;
  if (FindPackageRegion(fd, &region) &&
      fs->Seek(fd, static_cast<int64_t>(region.offset), SeekFrom::kStart) >=
          0) {
    archive.reset(ArchiveOpen(&fd, 0, ArchiveIoKind::ByHandle));
  }
  fs->Close(fd);  // the archive reads a copy of the descriptor
  if (archive == nullptr) return false;

  // Made as the work folder is, and gone before the launch goes on.
  const std::string scratch = MakeTempFileName();
  if (scratch.empty()) return false;
  RemoveFile(scratch);
  if (!MakeFolder(scratch, 0700)) return false;
  const StartPageStatus status = ReadFromPreview(archive.get(), scratch, out);
  RemoveTree(scratch);
  return status == StartPageStatus::kOk;
}

}  // namespace morva
