// The launch's disk work on arbitrary bytes: the input becomes the temporary
// archive, UnpackTempZip unpacks it into a work folder, the start page is
// looked up in the content folder, and RemoveLaunchFiles cleans up. Whatever
// the archive holds, nothing may be written outside the temporary folder,
// and after the cleanup nothing may be left in it.
#include <strings.h>

#include <cstdint>
#include <map>
#include <string>

#include "fuzz/sandbox.h"
#include "package/archive/archive.h"
#include "package/cleanup.h"
#include "package/paths.h"
#include "package/temp_zip.h"
#include "package/unpack.h"
#include "platform/attributes.h"
#include "startpage/start_page.h"

namespace morva::fuzz {
namespace {

// "a//./b" and "a/b" are the same file.
std::string CanonicalName(const std::string& relative) {
  std::string out;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    const std::string part = relative.substr(start, end - start);
    if (!part.empty() && part != ".") {
      if (!out.empty()) out += '/';
      out += part;
    }
    start = end + 1;
  }
  return out;
}

// After a successful unpack: every file entry is on disk with its declared
// size (the last entry of a name wins), and the content folder is the
// folder of the last file entry named qzviewer.swf.
void CheckUnpacked(const uint8_t* data, size_t size,
                   const std::string& work_folder,
                   const std::string& content_folder) {
  ArchivePtr archive(
      ArchiveOpen(data, static_cast<uint32_t>(size), ArchiveIoKind::ByMemory));
  FUZZ_CHECK(archive != nullptr);
  ArchiveEntry entry;
  FUZZ_CHECK(ArchiveGetEntry(archive.get(), -1, &entry) == ArchiveOk);
  const int32_t count = entry.index;
  std::map<std::string, uint32_t> files;
  std::string expected_content = work_folder;
  for (int32_t i = 0; i < count; ++i) {
    FUZZ_CHECK(ArchiveGetEntry(archive.get(), i, &entry) == ArchiveOk);
    if ((entry.attributes & kAttrDirectory) != 0) continue;
    std::string relative;
    FUZZ_CHECK(NormalizeEntryName(entry.name, &relative));
    files[CanonicalName(relative)] = entry.uncompressed_size;
    const std::string destination = work_folder + "/" + relative;
    if (strcasecmp(GetFileNamePart(destination).c_str(), kViewerMovieName) ==
        0) {
      expected_content = GetDirPart(destination);
    }
  }
  for (const auto& [name, declared] : files) {
    uint64_t on_disk = 0;
    FUZZ_CHECK(IsRegularFile(work_folder + "/" + name, &on_disk));
    FUZZ_CHECK(on_disk == declared);
  }
  FUZZ_CHECK(content_folder == expected_content);
}

}  // namespace
}  // namespace morva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morva;
  using namespace morva::fuzz;
  Sandbox& sandbox = Sandbox::Get();

  // The temporary archive, as CreateTempZip leaves it.
  std::string temp_zip = MakeTempFileName();
  FUZZ_CHECK(!temp_zip.empty());
  FUZZ_CHECK(
      WriteWholeFile(temp_zip, {reinterpret_cast<const char*>(data), size}));
  const std::string archive_path = temp_zip;

  sandbox.BeginRun();
  std::string content_folder, work_folder;
  UnpackReport report;
  const int result =
      UnpackTempZip(&temp_zip, &content_folder, &work_folder, &report);

  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK((result == 1) == (report.status == UnpackStatus::kOk));
  FUZZ_CHECK(temp_zip.empty());
  FUZZ_CHECK(!IsRegularFile(archive_path));
  // The work folder is a new folder right in the temporary folder, and the
  // content folder lies in it.
  FUZZ_CHECK(!work_folder.empty());
  FUZZ_CHECK(GetDirPart(work_folder) == sandbox.temp());
  FUZZ_CHECK(IsFolder(work_folder));
  FUZZ_CHECK(content_folder == work_folder ||
             content_folder.starts_with(work_folder + "/"));

  if (result == 1) {
    CheckUnpacked(data, size, work_folder, content_folder);
    StartPage page;
    FindStartPage(content_folder, work_folder, nullptr, &page);
  }

  RemoveLaunchFiles(work_folder, temp_zip);
  FUZZ_CHECK(!IsFolder(work_folder));
  sandbox.EndRun();
  return 0;
}
