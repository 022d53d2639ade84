#include "tools/pack.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "package/archive/archive.h"
#include "package/cleanup.h"
#include "package/package_region.h"
#include "package/paths.h"
#include "package/trailer.h"
#include "package/unpack.h"
#include "platform/ansi_text.h"
#include "platform/attributes.h"
#include "platform/files.h"
#include "platform/path.h"
#include "startpage/profile.h"
#include "startpage/start_page.h"
#include "tools/tour_check.h"
#include "tools/zip_folder.h"

namespace morva::pack {
namespace {

constexpr char kTool[] = "morva-pack";

std::ostream& Complain(std::ostream& err, const std::string& path,
                       const std::string& reason) {
  return err << kTool << ": " << path << ": " << reason << "\n";
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == kPathSeparator) path.pop_back();
  return path;
}

// What path names, links followed; false with errno set when it cannot be
// found out.
bool StatPath(const std::string& path, FileInfo* info) {
  return Files()->StatAt(kCurrentFolder, path, info, true) == 0;
}

// True when both paths name one file (links not followed).
bool SameFile(const std::string& a, const std::string& b) {
  FileInfo x, y;
  return Files()->StatAt(kCurrentFolder, a, &x, false) == 0 &&
         Files()->StatAt(kCurrentFolder, b, &y, false) == 0 &&
         x.volume == y.volume && x.file_id == y.file_id;
}

bool IsFile(const std::string& path) {
  FileInfo info;
  return StatPath(path, &info) && info.kind == FileKind::kFile;
}

// True when the tour is a file; otherwise says why it is none.
bool TourIsFile(const std::string& tour, std::ostream& err) {
  FileInfo info;
  if (!StatPath(tour, &info)) {
    Complain(err, tour, ErrnoMessage("stat", tour));
    return false;
  }
  if (info.kind != FileKind::kFile) {
    Complain(err, tour, "not a file");
    return false;
  }
  return true;
}

// The bytes of a file to copy: from `offset`, `length` bytes (-1: to the
// end).
struct Region {
  int64_t offset = 0;
  int64_t length = -1;
};

// Appends the region of the file at path to fd. Returns the bytes copied, or
// -1 with *error set.
int64_t AppendFile(FileHandle fd, const std::string& path,
                   const std::string& to, std::string* error,
                   Region region = {}) {
  FileSystem* fs = Files();
  const FileHandle in = fs->OpenAt(kCurrentFolder, path, kOpenRead, 0);
  if (in < 0) {
    *error = ErrnoMessage("open", path);
    return -1;
  }
  if (fs->Seek(in, region.offset, SeekFrom::kStart) < 0) {
    *error = ErrnoMessage("lseek", path);
    fs->Close(in);
    return -1;
  }
  std::vector<char> buffer(1 << 16);
  int64_t total = 0;
  for (;;) {
    size_t want = buffer.size();
    if (region.length >= 0) {
      want = static_cast<size_t>(
          std::min<int64_t>(region.length - total, buffer.size()));
    }
    const int64_t n = want == 0 ? 0 : ReadFully(in, buffer.data(), want);
    if (n < 0) {
      *error = ErrnoMessage("read", path);
      total = -1;
      break;
    }
    if (n == 0) break;
    if (!WriteFully(fd, buffer.data(), static_cast<size_t>(n))) {
      *error = ErrnoMessage("write", to);
      total = -1;
      break;
    }
    total += n;
  }
  fs->Close(in);
  if (region.length >= 0 && total != region.length) {
    *error = "read(" + path + "): the file ended early";
    return -1;
  }
  return total;
}

// Where the archive lies in a SOURCE file: all of a ZIP archive; only the
// archive region of a file that carries a package (a tour of ours, or one
// made for Windows: a program, the archive, its length), so that packing a
// tour again keeps its size. A file that is neither is taken whole, as a
// ZIP archive; the check says what the player makes of it. *package is set
// when the file carries a package.
Region ArchiveRegionOf(const std::string& path, bool* package) {
  *package = false;
  const FileHandle fd = Files()->OpenAt(kCurrentFolder, path, kOpenRead, 0);
  if (fd < 0) return {};  // the copy says why
  PackageRegion found;
  *package = FindPackageRegion(fd, &found);
  Files()->Close(fd);
  if (!*package) return {};
  return {found.offset, found.length};
}

// One "  label           value" line of a report.
void Row(std::ostream& out, const char* label, const std::string& value) {
  char padded[32];
  std::snprintf(padded, sizeof padded, "  %-16s", label);
  out << padded << value << "\n";
}

void PrintCheck(const std::string& tour, const TourCheck& check,
                std::ostream& out, std::ostream& err) {
  if (check.intact()) {
    out << tour << ": plays intact\n";
  } else if (check.plays()) {
    out << tour << ": plays, but not intact\n";
  } else {
    out << tour << ": the player's window would stay empty\n";
  }
  // Names from the package show as the window shows the title.
  auto row = [&](const char* label, const std::string& value) {
    Row(out, label, AnsiToUtf8(value));
  };
  if (!check.title.empty()) row("title", check.title);
  if (!check.start_page.empty()) row("tour page", check.start_page);
  if (check.plays()) {
    row("window size",
        std::to_string(check.width) + " x " + std::to_string(check.height));
  }
  if (!check.content_folder.empty()) {
    row("content folder", check.content_folder == "."
                              ? ". (the top of the work folder)"
                              : check.content_folder + " (in the work folder)");
  }
  if (!check.launcher.empty()) row("launcher page", check.launcher);
  if (check.has_trailer) {
    std::string archive = std::to_string(check.archive_size) + " bytes";
    if (check.entries >= 0) {
      archive += ", " + std::to_string(check.entries) + " entries";
    }
    row("archive", archive);
  }
  for (const FlashMovie& movie : check.flash_movies) {
    std::string pages;
    for (const std::string& page : movie.pages) {
      pages += (pages.empty() ? "" : ", ") + page;
    }
    row("flash movie", movie.path + " (in " + pages + ")");
  }
  if (!check.flash_movies.empty()) {
    row("note",
        "Flash movies play through the Flash runtime built into the player");
  }
  for (const std::string& note : check.notes) row("note", note);
  for (const std::string& problem : check.problems) {
    Complain(err, tour, AnsiToUtf8(problem));
  }
}

std::string FormatTime(FileTime time) {
  if (time.value() == 0) return "-";
  std::tm utc{};
  if (!FileTimeToUtc(time, &utc)) return "-";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
  return text;
}

std::string FormatAttributes(uint32_t attributes) {
  std::string text = "-----";
  if (attributes & kAttrDirectory) text[0] = 'd';
  if (attributes & kAttrReadOnly) text[1] = 'r';
  if (attributes & kAttrHidden) text[2] = 'h';
  if (attributes & kAttrSystem) text[3] = 's';
  if (attributes & kAttrArchive) text[4] = 'a';
  return text;
}

// Lists the folder at path; false with errno set when it cannot be read.
bool ListPath(const std::string& folder, std::vector<DirEntry>* entries) {
  FileSystem* fs = Files();
  const FileHandle fd =
      fs->OpenAt(kCurrentFolder, folder, kOpenRead | kOpenFolder, 0);
  if (fd < 0) return false;
  const bool listed = fs->ListFolder(fd, entries) == 0;
  const int saved = errno;
  fs->Close(fd);
  errno = saved;
  return listed;
}

bool FolderIsEmpty(const std::string& folder, std::string* error) {
  std::vector<DirEntry> entries;
  if (!ListPath(folder, &entries)) {
    *error = ErrnoMessage("opendir", folder);
    return false;
  }
  return entries.empty();
}

// The first symbolic link below folder, or empty text. Unpacking goes by
// path, so a link inside the folder could lead a file out of it.
std::string FindLink(const std::string& folder) {
  std::vector<DirEntry> entries;
  if (!ListPath(folder, &entries)) return "";
  std::vector<std::string> subfolders;
  std::string found;
  for (const DirEntry& entry : entries) {
    const std::string path = JoinPath(folder, entry.name);
    FileInfo info;
    if (Files()->StatAt(kCurrentFolder, path, &info, false) != 0) continue;
    if (info.kind == FileKind::kLink) {
      found = path;
      break;
    }
    if (info.kind == FileKind::kFolder) subfolders.push_back(path);
  }
  for (size_t i = 0; found.empty() && i < subfolders.size(); ++i) {
    found = FindLink(subfolders[i]);
  }
  return found;
}

}  // namespace

std::string FindDefaultPlayer(const std::string& tool_path) {
  const std::string folder = GetDirPart(tool_path);
  const std::string base = folder.empty() ? "." : folder;
  for (const std::string& candidate : {base, JoinPath(base, "..")}) {
    const std::string path = JoinPath(candidate, "morva") + kExecutableSuffix;
    if (IsFile(path) && CanExecute(path)) return path;
  }
  return "";
}

int Build(const BuildOptions& options, std::ostream& out, std::ostream& err) {
  const std::string source = WithoutTrailingSeparators(options.source);
  FileInfo st;
  if (!StatPath(source, &st)) {
    Complain(err, source, ErrnoMessage("stat", source));
    return 1;
  }
  if (st.kind != FileKind::kFolder && st.kind != FileKind::kFile) {
    Complain(err, source, "neither a tour folder nor a ZIP archive");
    return 1;
  }
  // The conventions: the folder's own, or made for --page.
  const std::string autorun =
      st.kind == FileKind::kFolder ? FindAutorunIn(source) : std::string();
  Conventions conventions;
  if (options.start) {
    if (st.kind != FileKind::kFolder) {
      Complain(err, source,
               "--page is for a folder; a ZIP archive or a tour carries "
               "its own autorun.inf and launcher");
      return 2;
    }
    if (!autorun.empty()) {
      Complain(err, source,
               "has its own " + autorun +
                   ", whose launcher names the page and the window size; "
                   "--page, --size and --title are for a folder without one");
      return 2;
    }
    if (const std::string problem = TitleProblem(options.start->title);
        !options.start->title.empty() && !problem.empty()) {
      Complain(err, "--title " + options.start->title, problem);
      return 2;
    }
    std::string error;
    if (!MakeConventions(source, *options.start, "", &conventions, &error)) {
      Complain(err, source, error);
      return 1;
    }
    for (const std::string& note : conventions.notes) {
      err << kTool << ": note: " << note << "\n";
    }
  }

  std::string player = options.player;
  if (player.empty()) {
    player = FindDefaultPlayer(RealFiles()->ModuleFileName());
    if (player.empty()) {
      err << kTool << ": no player \"morva\" beside morva-pack or in its "
          << "build tree; name one with --player\n";
      return 1;
    }
  }
  if (!IsFile(player)) {
    Complain(err, player, "the player is not a file");
    return 1;
  }
  const std::string output = AbsolutePath(options.output);
  const std::string output_folder = GetDirPart(output);
  const std::string real_output_folder = RealPath(output_folder);
  if (real_output_folder.empty()) {
    Complain(err, options.output, "its folder does not exist");
    return 1;
  }
  if (st.kind == FileKind::kFolder) {
    const std::string real_source = RealPath(source);
    if (real_output_folder == real_source ||
        real_output_folder.rfind(real_source + kPathSeparator, 0) == 0) {
      Complain(err, options.output,
               "lies inside the tour folder " + source +
                   ", so the next build would pack it; write it elsewhere");
      return 1;
    }
  }

  PrivateTempFolder temp;
  if (!temp.ok()) {
    err << kTool << ": " << temp.error() << "\n";
    return 1;
  }
  std::string archive = source;
  Region region;
  if (st.kind == FileKind::kFile) {
    bool package = false;
    region = ArchiveRegionOf(source, &package);
    if (package) {
      err << kTool << ": note: " << source << " carries a package; only its "
          << region.length << "-byte archive is packed\n";
    }
  }
  if (st.kind == FileKind::kFolder) {
    archive = JoinPath(temp.path(), "tour.zip");
    int32_t entries = 0;
    std::vector<std::string> notes;
    std::string error;
    std::vector<AddedFile> added;
    if (options.start) added = {conventions.autorun, conventions.launcher};
    const bool zipped =
        ZipFolder(source, archive, &entries, &notes, &error, added);
    for (const std::string& note : notes)
      err << kTool << ": note: " << note << "\n";
    if (!zipped) {
      err << kTool << ": " << error << "\n";
      return 1;
    }
  }
  FileInfo archive_st;
  if (!StatPath(archive, &archive_st)) {
    Complain(err, archive, ErrnoMessage("stat", archive));
    return 1;
  }
  if (region.length >= 0)
    archive_st.size = static_cast<uint64_t>(region.length);
  if (archive_st.size > UINT32_MAX) {
    Complain(err, archive, "4 GiB or more; a package's trailer holds 32 bits");
    return 1;
  }

  // Written beside OUTPUT and renamed only once it is complete and sound, so
  // OUTPUT is either the old file or the new tour, never a part of one.
  const std::string prefix = "." + GetFileNamePart(output) + ".";
  const std::string partial = CreateUniqueTempFile(output_folder, prefix);
  const FileHandle fd = partial.empty()
                            ? kNoFile
                            : Files()->OpenAt(kCurrentFolder, partial,
                                              kOpenWrite | kOpenNoFollow, 0);
  if (fd < 0) {
    const std::string pattern = JoinPath(output_folder, prefix + "*.tmp");
    Complain(err, options.output, ErrnoMessage("open", pattern));
    if (!partial.empty()) RemoveFile(partial);
    return 1;
  }
  std::string error;
  const int64_t player_size = AppendFile(fd, player, partial, &error);
  const int64_t archive_size =
      player_size < 0 ? -1 : AppendFile(fd, archive, partial, &error, region);
  bool ok = archive_size >= 0;
  if (ok) {
    const std::string trailer =
        EncodeTrailer(static_cast<uint32_t>(archive_size));
    if (!WriteFully(fd, trailer.data(), trailer.size())) {
      error = ErrnoMessage("write", partial);
      ok = false;
    } else if (MakeExecutable(fd) != 0) {
      error = ErrnoMessage("chmod", partial);
      ok = false;
    }
  }
  if (Files()->Close(fd) != 0 && ok) {
    error = ErrnoMessage("close", partial);
    ok = false;
  }
  if (!ok) {
    RemoveFile(partial);
    err << kTool << ": " << error << "\n";
    return 1;
  }

  TourCheck check = CheckTour(partial);
  PrintCheck(options.output, check, out, err);
  if (!check.intact() && !options.force) {
    RemoveFile(partial);
    Complain(err, options.output,
             "not written: the tour would not play intact (--force writes it "
             "anyway)");
    if (st.kind == FileKind::kFolder && autorun.empty() && !options.start) {
      Complain(err, source,
               "has no autorun.inf; for a web export, name its start page "
               "and morva-pack writes the rest: --page index.html");
    }
    return 1;
  }
  if (MoveIntoPlace(partial, output) != 0) {
    Complain(err, options.output, ErrnoMessage("rename", partial));
    RemoveFile(partial);
    return 1;
  }
  if (options.start) {
    Row(out, "added",
        conventions.autorun.name + ", " + conventions.launcher.name +
            " (in the archive; " + source + " is as it was)");
  }
  out << "wrote " << options.output << ": " << player_size
      << " bytes of player, " << archive_size << " bytes of archive, 4 bytes "
      << "of trailer\n";
  if (!check.intact()) {
    Complain(err, options.output,
             "written with --force; it will not play intact");
  }
  return 0;
}

namespace {

// Writes `bytes` to a new file beside `path` and renames it to `path`, so
// that path is either what it was or all of the new bytes.
bool ReplaceFile(const std::string& path, const std::string& bytes,
                 std::string* error) {
  const std::string prefix = "." + GetFileNamePart(path) + ".";
  const std::string partial = CreateUniqueTempFile(GetDirPart(path), prefix);
  const FileHandle fd = partial.empty()
                            ? kNoFile
                            : Files()->OpenAt(kCurrentFolder, partial,
                                              kOpenWrite | kOpenNoFollow, 0);
  if (fd < 0) {
    *error = ErrnoMessage("open", JoinPath(GetDirPart(path), prefix + "*.tmp"));
    if (!partial.empty()) RemoveFile(partial);
    return false;
  }
  bool ok = WriteFully(fd, bytes.data(), bytes.size());
  if (!ok) *error = ErrnoMessage("write", partial);
  if (ok && SetPermissionsAsNew(fd, 0666) != 0) {
    *error = ErrnoMessage("chmod", partial);
    ok = false;
  }
  if (Files()->Close(fd) != 0 && ok) {
    *error = ErrnoMessage("close", partial);
    ok = false;
  }
  if (ok && MoveIntoPlace(partial, path) != 0) {
    *error = ErrnoMessage("rename", partial);
    ok = false;
  }
  if (!ok) RemoveFile(partial);
  return ok;
}

// The file `name` (an archive name, with "/") of folder, as this platform
// writes paths.
std::string PathIn(const std::string& folder, std::string name) {
  std::replace(name.begin(), name.end(), '/', kPathSeparator);
  return JoinPath(folder, name);
}

}  // namespace

int Init(const std::string& folder_arg, const StartRequest& request, bool force,
         std::ostream& out, std::ostream& err) {
  const std::string folder = WithoutTrailingSeparators(folder_arg);
  FileInfo st;
  if (!StatPath(folder, &st)) {
    Complain(err, folder_arg, ErrnoMessage("stat", folder));
    return 1;
  }
  if (st.kind != FileKind::kFolder) {
    Complain(err, folder_arg, "not a folder");
    return 1;
  }
  if (const std::string problem = TitleProblem(request.title);
      !request.title.empty() && !problem.empty()) {
    Complain(err, "--title " + request.title, problem);
    return 2;
  }
  const std::string autorun = FindAutorunIn(folder);
  std::string old_launcher;
  if (!autorun.empty()) {
    if (!force) {
      Complain(err, folder_arg,
               "has an autorun.inf already (" + autorun +
                   "); --force replaces it and the launcher it names");
      return 1;
    }
    std::string value;
    GetProfileValue(JoinPath(folder, autorun), "autorun", "shellexecute",
                    &value);
    if (value.find_first_of("/\\") == std::string::npos) old_launcher = value;
  }
  Conventions conventions;
  std::string error;
  if (!MakeConventions(folder, request, old_launcher, &conventions, &error)) {
    Complain(err, folder_arg, error);
    return 1;
  }
  for (const std::string& note : conventions.notes) {
    err << kTool << ": note: " << note << "\n";
  }
  // The launcher first: autorun.inf never names a launcher that is not
  // there.
  for (const AddedFile* file : {&conventions.launcher, &conventions.autorun}) {
    if (!ReplaceFile(PathIn(folder, file->name), file->bytes, &error)) {
      err << kTool << ": " << error << "\n";
      return 1;
    }
  }
  // An AUTORUN.INF in another letter case would stand beside the new one,
  // where the file system tells letter case apart; where it does not, the
  // old name is the new file.
  if (!autorun.empty() && autorun != conventions.autorun.name &&
      !SameFile(JoinPath(folder, autorun),
                PathIn(folder, conventions.autorun.name)) &&
      !RemoveFile(JoinPath(folder, autorun))) {
    Complain(err, JoinPath(folder, autorun), ErrnoMessage("unlink", autorun));
    return 1;
  }
  out << "wrote " << PathIn(folder, conventions.autorun.name) << " and "
      << PathIn(folder, conventions.launcher.name) << "\n";
  Row(out, "title", conventions.title + kTitleSuffix);
  Row(out, "tour page", conventions.page);
  Row(out, "window size",
      std::to_string(request.width) + " x " + std::to_string(request.height));
  return 0;
}

int Check(const std::string& tour, std::ostream& out, std::ostream& err) {
  if (!TourIsFile(tour, err)) return 1;
  const TourCheck check = CheckTour(tour);
  PrintCheck(tour, check, out, err);
  return check.intact() ? 0 : 1;
}

namespace {

// Copies the tour's archive out as the player does, into temp. Returns the
// copy's path, or empty text after saying why there is none.
std::string CopyArchiveOutInto(const PrivateTempFolder& temp,
                               const std::string& tour, std::ostream& err) {
  if (!temp.ok()) {
    err << kTool << ": " << temp.error() << "\n";
    return std::string();
  }
  std::string error;
  std::string temp_zip = CopyArchiveOut(tour, &error);
  if (temp_zip.empty()) Complain(err, tour, "no archive to copy out: " + error);
  return temp_zip;
}

}  // namespace

int List(const std::string& tour, std::ostream& out, std::ostream& err) {
  if (!TourIsFile(tour, err)) return 1;
  PrivateTempFolder temp;
  const std::string temp_zip = CopyArchiveOutInto(temp, tour, err);
  if (temp_zip.empty()) return 1;
  std::string problem;
  ArchivePtr archive(
      ArchiveOpen(temp_zip.c_str(), 0, ArchiveIoKind::ByFileName, &problem));
  if (archive == nullptr) {
    Complain(err, tour,
             problem.empty()
                 ? "the bytes that the trailer names are not a ZIP archive"
                 : problem);
    return 1;
  }
  ArchiveEntry entry;
  ArchiveGetEntry(archive.get(), -1, &entry);
  const int32_t count = entry.index;
  int result = 0;
  uint64_t total = 0, packed = 0;
  char line[128];
  out << "    Length     Packed  Modified (UTC)       Attr   Name\n"
      << "----------  ---------  -------------------  -----  ----\n";
  for (int32_t i = 0; i < count; ++i) {
    const ArchiveResult rc = ArchiveGetEntry(archive.get(), i, &entry);
    if (rc != ArchiveOk) {
      ArchiveEntryFormat format;
      if (ArchiveGetEntryFormat(archive.get(), i, &format) == ArchiveOk &&
          !ArchiveMethodSupported(format.method)) {
        Complain(err, tour,
                 "entry \"" + AnsiToUtf8(format.name) + "\" " +
                     RefusedFormText(format.encrypted, format.method));
      } else {
        Complain(
            err, tour,
            "entry #" + std::to_string(i) + ": " +
                ArchiveResultText(rc, ArchiveEntryProblem(archive.get(), i)));
      }
      result = 1;
      continue;
    }
    std::snprintf(line, sizeof line, "%10" PRIu32 " %10" PRIu32 "  %-19s  %s  ",
                  entry.uncompressed_size, entry.compressed_size,
                  FormatTime(entry.write_time).c_str(),
                  FormatAttributes(entry.attributes).c_str());
    out << line << AnsiToUtf8(entry.name) << "\n";
    total += entry.uncompressed_size;
    packed += entry.compressed_size;
  }
  std::snprintf(line, sizeof line, "%10" PRIu64 " %10" PRIu64 "  %-19s  %5s  ",
                total, packed, "", "");
  out << "----------  ---------                              ----\n"
      << line << count << (count == 1 ? " entry\n" : " entries\n");
  return result;
}

int Extract(const std::string& tour, const std::string& folder_arg, bool force,
            std::ostream& out, std::ostream& err) {
  if (!TourIsFile(tour, err)) return 1;
  const std::string folder =
      AbsolutePath(WithoutTrailingSeparators(folder_arg));
  FileInfo st;
  if (StatPath(folder, &st)) {
    if (st.kind != FileKind::kFolder) {
      Complain(err, folder_arg, "not a folder");
      return 1;
    }
    std::string error;
    const bool empty = FolderIsEmpty(folder, &error);
    if (!error.empty()) {
      err << kTool << ": " << error << "\n";
      return 1;
    }
    if (!empty && !force) {
      Complain(err, folder_arg,
               "not empty; --force unpacks into it anyway, replacing files of "
               "the same names");
      return 1;
    }
    const std::string link = FindLink(folder);
    if (!link.empty()) {
      Complain(err, link,
               "a symbolic link; extract writes into no folder "
               "that holds one");
      return 1;
    }
  }

  PrivateTempFolder temp;
  const std::string temp_zip = CopyArchiveOutInto(temp, tour, err);
  if (temp_zip.empty()) return 1;
  // The outermost folder this run makes, removed again when it fails; a
  // folder that was there already stays.
  std::string made = folder;
  for (std::string above = GetDirPart(made);
       !above.empty() && !PathExists(above); above = GetDirPart(above)) {
    made = above;
  }
  if (PathExists(made)) made.clear();
  if (CreateDirPath(folder) == 0) {
    Complain(err, folder_arg, ErrnoMessage("mkdir", folder));
    if (!made.empty()) RemoveTree(made);
    return 1;
  }
  FileInfo zip_st;
  StatPath(temp_zip, &zip_st);
  std::string content;
  UnpackReport report;
  const int unpacked = UnpackArchiveInto(temp_zip, folder, &content, &report);
  RemoveFile(temp_zip);
  if (unpacked == 0) {
    Complain(err, tour,
             AnsiToUtf8(UnpackProblemText(report,
                                          static_cast<uint32_t>(zip_st.size))));
    if (!made.empty()) RemoveTree(made);
    return 1;
  }
  out << "unpacked " << tour << " into " << folder_arg << "\n";
  if (content.empty()) {
    out << "  no qzviewer.swf: the content folder is the top of the package\n";
  } else {
    out << "  content folder  "
        << (content == folder ? "." : content.substr(folder.size() + 1))
        << "\n";
  }
  return 0;
}

int RunMorvaPack(int argc, const char* const* argv, std::ostream& out,
                 std::ostream& err) {
  CLI::App app{
      "Makes tour executables for the Morva player, and tells what the player "
      "will do with one.",
      kTool};
  app.set_version_flag("--version", std::string(kTool) + " " + MORVA_VERSION);
  app.require_subcommand(1, 1);

  BuildOptions build_options;
  CLI::App* build = app.add_subcommand(
      "build", "Make a tour executable: the player, the archive, its length.");
  build
      ->add_option("SOURCE", build_options.source,
                   "The tour folder (whose contents become the package, "
                   "e.g. the folder holding _flash/), or a ZIP archive")
      ->required();
  build->add_option("-o,--output", build_options.output, "The tour to write")
      ->required();
  build->add_option("--player", build_options.player,
                    "The player executable (default: morva beside morva-pack)");
  build->add_flag("--force", build_options.force,
                  "Write the tour even when it would not play intact");
  StartRequest start;
  std::string size;
  auto add_start_options = [&](CLI::App* command, const char* page_help) {
    CLI::Option* page = command->add_option("--page", start.page, page_help);
    CLI::Option* size_option = command->add_option(
        "--size", size,
        "The window's content size, WIDTHxHEIGHT, each 1 to " +
            std::to_string(kMaxWindowSide) +
            " (default: " + std::to_string(kDefaultWidth) + "x" +
            std::to_string(kDefaultHeight) + ")");
    CLI::Option* title = command->add_option(
        "--title", start.title,
        "The window title (default: the page's <title>, else the folder's "
        "name); no \".\" in it");
    return std::array<CLI::Option*, 3>{page, size_option, title};
  };
  const auto build_start = add_start_options(
      build,
      "For a folder without autorun.inf (a web export): its tour page, "
      "relative to the folder; the packer adds autorun.inf and a launcher "
      "to the archive");

  std::string init_folder;
  bool force_init = false;
  CLI::App* init = app.add_subcommand(
      "init",
      "Write autorun.inf and a launcher page into a folder, to keep and "
      "edit.");
  init->add_option("FOLDER", init_folder, "The tour folder")->required();
  const auto init_start =
      add_start_options(init, "The tour page, relative to the folder");
  init_start[0]->required();
  init->add_flag("--force", force_init,
                 "Replace an autorun.inf and the launcher it names");

  std::string tour;
  CLI::App* check = app.add_subcommand(
      "check",
      "Say what the player would do with a tour; exit 1 when it "
      "would not play intact.");
  check->add_option("TOUR", tour, "The tour executable")->required();

  CLI::App* list =
      app.add_subcommand("list", "List the entries of a tour's archive.");
  list->add_option("TOUR", tour, "The tour executable")->required();

  std::string folder;
  bool force_extract = false;
  CLI::App* extract = app.add_subcommand(
      "extract", "Unpack a tour as the player would, into a folder.");
  extract->add_option("TOUR", tour, "The tour executable")->required();
  extract
      ->add_option("DIR", folder,
                   "The folder to unpack into (made when "
                   "missing)")
      ->required();
  extract->add_flag("--force", force_extract,
                    "Unpack into a folder that is not empty");

  // A first word that is no option must name a command.
  const std::vector<CLI::App*> commands = app.get_subcommands({});
  if (argc > 1 && argv[1][0] != '-' &&
      std::none_of(commands.begin(), commands.end(), [&](CLI::App* command) {
        return command->get_name() == argv[1];
      })) {
    err << kTool << ": unknown command '" << argv[1] << "'\n"
        << "Try '" << kTool << " --help' for the commands.\n";
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version are no errors; everything else is a usage error.
    return app.exit(e, out, err) == 0 ? 0 : 2;
  }
  for (const auto& options : {build_start, init_start}) {
    if (options[0]->count() == 0 &&
        (options[1]->count() > 0 || options[2]->count() > 0)) {
      err << kTool << ": --size and --title describe the launcher that "
          << "--page makes; without --page the folder's own autorun.inf and "
          << "launcher say them\n";
      return 2;
    }
    if (options[0]->count() > 0 && options[1]->count() > 0) {
      std::string error;
      if (!ParseWindowSize(size, &start.width, &start.height, &error)) {
        err << kTool << ": " << error << "\n";
        return 2;
      }
    }
  }
  if (*build) {
    if (build_start[0]->count() > 0) build_options.start = start;
    return Build(build_options, out, err);
  }
  if (*init) return Init(init_folder, start, force_init, out, err);
  if (*check) return Check(tour, out, err);
  if (*list) return List(tour, out, err);
  if (*extract) return Extract(tour, folder, force_extract, out, err);
  return 2;
}

}  // namespace morva::pack
