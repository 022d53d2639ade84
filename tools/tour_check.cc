#include "tools/tour_check.h"

#include <algorithm>
#include <cstdio>

#include "app/null_window.h"
#include "package/archive/archive.h"
#include "package/stale.h"
#include "package/temp_zip.h"
#include "package/trailer.h"
#include "platform/ansi_text.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva::pack {
namespace {

// A large desktop screen. The player limits its window to the work area of
// the screen it shows on; a larger size is noted.
constexpr int32_t kLargeScreenWidth = 3840;
constexpr int32_t kLargeScreenHeight = 2160;

// A window that is never shown. It keeps what the launch set on it and runs
// `while_shown` between the launch and the cleanup, where the player's
// window would be on the screen.
class HeadlessWindow : public NullWindow {
 public:
  std::function<void()> while_shown;
  std::string title;
  std::string navigated;

  int RunModal(DialogHandler* handler) override {
    handler->OnInitDialog();
    if (while_shown) while_shown();
    handler->OnDestroy();
    return 2;
  }
  void SetTitle(const std::string& text) override { title = text; }
  void Navigate(const std::string& address, unsigned, const std::string&,
                const std::string&, const std::string&) override {
    navigated = address;
  }
};

// path relative to folder; "." for folder itself. Written with "/", as
// paths in a package are, whatever the system's separator.
std::string Relative(const std::string& path, const std::string& folder) {
  if (folder.empty()) return path;
  if (path == folder) return ".";
  if (path.compare(0, folder.size(), folder) == 0 &&
      path.size() > folder.size() && path[folder.size()] == kPathSeparator) {
    std::string relative = path.substr(folder.size() + 1);
    std::replace(relative.begin(), relative.end(), kPathSeparator, '/');
    return relative;
  }
  return path;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Reads the trailer for the messages (the launch reads it for itself).
// *length is the tour's length, -1 when it cannot be read.
bool ReadTrailer(const std::string& tour, uint32_t* size, int64_t* length) {
  *length = -1;
  FileSystem* fs = Files();
  const FileHandle fd = fs->OpenAt(kCurrentFolder, tour, kOpenRead, 0);
  if (fd < 0) return false;
  bool ok = false;
  *length = fs->Seek(fd, 0, SeekFrom::kEnd);
  unsigned char bytes[kTrailerSize];
  if (*length >= static_cast<int64_t>(kTrailerSize) &&
      ReadFullyAt(fd, bytes, kTrailerSize,
                  static_cast<uint64_t>(*length) - kTrailerSize) ==
          static_cast<int64_t>(kTrailerSize)) {
    *size = DecodeTrailer(bytes);
    ok = true;
  }
  fs->Close(fd);
  return ok;
}

// The standalone viewer of the Pannellum panorama library (pannellum.htm),
// which reads its configuration from a file named in its address, refuses
// to start in any page loaded from a file: it shows this text instead.
constexpr char kPannellumRefusal[] =
    "from the local filesystem; some sort of web server must be used";

// Notes on pages that will not run from files whatever the player does:
// Pannellum's standalone viewer, and pages that open it with a
// configuration in its address.
std::vector<std::string> PagesThatNeedAServer(const std::string& work_folder) {
  std::vector<std::string> notes;
  for (const std::string& page : FindTourPages(work_folder)) {
    std::string text;
    if (!ReadWholeFile(JoinPath(work_folder, page), &text)) continue;
    std::string lower = text;
    for (char& c : lower)
      c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (text.find(kPannellumRefusal) != std::string::npos) {
      notes.push_back(
          Quoted(page) +
          " is Pannellum's standalone viewer (configuration from a file), "
          "which refuses to run from files and shows \"Pannellum can't be "
          "run from the local filesystem\"; call pannellum.viewer() with "
          "the configuration in a page of the tour instead");
    } else if (lower.find("pannellum.htm?") != std::string::npos ||
               lower.find("pannellum.htm#") != std::string::npos) {
      notes.push_back(
          Quoted(page) +
          " opens Pannellum's standalone viewer (pannellum.htm with its "
          "configuration in the address), which refuses to run from files; "
          "call pannellum.viewer() with the configuration in the page "
          "instead");
    }
  }
  return notes;
}

}  // namespace

std::string RefusedFormText(bool encrypted, uint32_t method) {
  if (encrypted) return "is encrypted, and the player does not decrypt";
  return "is compressed with " + ArchiveMethodName(method) +
         ", which the player does not read (only stored and deflated)";
}

std::string StaleNote(const StaleReport& stale, const std::string& folder) {
  if (stale.players == 0) return "";
  auto count = [](int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string what =
      count(stale.folders, "stale player folder", "stale player folders");
  if (stale.files > 0) what += " and " + count(stale.files, "file", "files");
  char size[32];
  const double bytes = static_cast<double>(stale.bytes);
  if (bytes >= 1e9) {
    std::snprintf(size, sizeof size, "%.1f GB", bytes / 1e9);
  } else if (bytes >= 1e6) {
    std::snprintf(size, sizeof size, "%.1f MB", bytes / 1e6);
  } else {
    std::snprintf(size, sizeof size, "%.0f kB", bytes / 1e3);
  }
  return what + " (" + size + ") in " + folder + ", left by " +
         count(stale.players, "player", "players") +
         " that did not end normally; the next player start removes them";
}

std::string UnpackProblemText(const UnpackReport& report,
                              uint32_t archive_size) {
  switch (report.status) {
    case UnpackStatus::kOk:
      break;
    case UnpackStatus::kNoArchive:
      return "unpacking: no archive was copied out";
    case UnpackStatus::kNoWorkFolder:
      return "unpacking: no work folder could be made in the temporary folder";
    case UnpackStatus::kNotAnArchive:
      if (!report.reason.empty()) return "unpacking: " + report.reason;
      return "unpacking: the " + std::to_string(archive_size) +
             " bytes that the trailer names are not a ZIP archive (was a "
             "package appended?)";
    case UnpackStatus::kBadRecord:
      return "unpacking: the record of entry " + report.entry +
             " cannot be read: " +
             ArchiveResultText(report.archive_result, report.reason);
    case UnpackStatus::kUnsafeName:
      return "unpacking: entry " + Quoted(report.entry) +
             " would land outside the work folder (an absolute name, a drive "
             "letter or a \"..\" component, or on Windows a device or stream "
             "name); the player stops there";
    case UnpackStatus::kOverlapping:
      return "unpacking: entry " + Quoted(report.entry) +
             " shares its data with another entry, as crafted archives do; "
             "the player unpacks nothing";
    case UnpackStatus::kTooLarge:
      return "unpacking: the entries declare more bytes than the disk has "
             "free; the player unpacks nothing";
    case UnpackStatus::kEntryFailed:
      return "unpacking: entry " + Quoted(report.entry) +
             " cannot be written: " + ArchiveResultText(report.archive_result);
    case UnpackStatus::kEncrypted:
    case UnpackStatus::kUnsupportedMethod:
      return "unpacking: entry " + Quoted(report.entry) + " " +
             RefusedFormText(report.status == UnpackStatus::kEncrypted,
                             report.method) +
             "; the player stops there";
  }
  return "unpacking failed";
}

namespace {

std::string StartPageProblem(const CPreviewDlg& dlg, const TourCheck& check) {
  const std::string in = check.content_folder == "."
                             ? "at the top of the package"
                             : "in the content folder " + check.content_folder;
  switch (dlg.start_page_status()) {
    case StartPageStatus::kOk:
      break;
    case StartPageStatus::kNoAutorun:
      return "start page: no autorun.inf " + in +
             (check.content_folder == "."
                  ? " (the package holds no qzviewer.swf, so the content "
                    "folder is the top of the package)"
                  : "");
    case StartPageStatus::kNoValue:
      return "start page: autorun.inf " + in +
             " has no shellexecute value in an [autorun] section";
    case StartPageStatus::kNoDot:
      return "start page: the shellexecute value " +
             Quoted(dlg.start_page().launcher_name) +
             " in autorun.inf has no \".\"";
    case StartPageStatus::kNoLauncher:
      return "start page: the launcher page " + Quoted(check.launcher) +
             " that autorun.inf names is missing or unreadable";
    case StartPageStatus::kNoMatch:
      return "start page: the launcher page " + Quoted(check.launcher) +
             " holds no pop-up call like "
             "javascript:window.open('PAGE','NAME','...,width=W,height=H')";
    case StartPageStatus::kSizeTooLarge:
      return "start page: the pop-up call in the launcher page " +
             Quoted(check.launcher) +
             " asks for a width or height beyond 2147483647, the largest "
             "the player takes";
    case StartPageStatus::kLauncherOutside:
      return "start page: the launcher page " + Quoted(check.launcher) +
             " that autorun.inf names lies outside the work folder; the "
             "player does not read it";
    case StartPageStatus::kPageOutside:
      return "start page: the tour page " + Quoted(check.start_page) +
             " that the launcher opens lies outside the work folder; the "
             "player shows nothing";
  }
  return "start page: failed";
}

// Reads every entry back and notes those whose data does not match.
void VerifyArchive(const std::string& tour, const UnpackReport& launch,
                   TourCheck* check) {
  std::string error;
  const std::string temp_zip = CopyArchiveOut(tour, &error);
  if (temp_zip.empty()) return;  // the launch has said why already
  {
    ArchivePtr archive(
        ArchiveOpen(temp_zip.c_str(), 0, ArchiveIoKind::ByFileName));
    if (archive != nullptr) {
      ArchiveEntry entry;
      ArchiveGetEntry(archive.get(), -1, &entry);
      check->entries = entry.index;
      // The entry at which the launch stopped for its record has been
      // reported already.
      const bool launch_stopped_at_record =
          launch.status == UnpackStatus::kBadRecord ||
          launch.status == UnpackStatus::kEncrypted ||
          launch.status == UnpackStatus::kUnsupportedMethod;
      for (int32_t i = 0; i < check->entries; ++i) {
        if (launch_stopped_at_record && launch.index == i) continue;
        const std::string number = "#" + std::to_string(i);
        ArchiveEntryFormat format;
        if (ArchiveGetEntryFormat(archive.get(), i, &format) == ArchiveOk &&
            (format.encrypted || !ArchiveMethodSupported(format.method))) {
          check->problems.push_back(
              "data: entry " + Quoted(format.name) + " " +
              RefusedFormText(format.encrypted, format.method));
          continue;
        }
        ArchiveResult rc = ArchiveGetEntry(archive.get(), i, &entry);
        if (rc != ArchiveOk) {
          check->problems.push_back(
              "data: the record of entry " + number + " cannot be read: " +
              ArchiveResultText(rc, ArchiveEntryProblem(archive.get(), i)));
          continue;
        }
        ArchiveEntryCheck data;
        rc = ArchiveVerifyEntry(archive.get(), i, &data);
        const std::string what = "data: entry " + Quoted(entry.name);
        char hex[64];
        if (rc != ArchiveOk) {
          check->problems.push_back(
              what + " cannot be read: " + ArchiveResultText(rc));
        } else if (!data.readable) {
          check->problems.push_back(what +
                                    ": its data cannot be read or "
                                    "inflated");
        } else if (data.size != data.recorded_size) {
          check->problems.push_back(what + " holds " +
                                    std::to_string(data.size) +
                                    " bytes of data, its record says " +
                                    std::to_string(data.recorded_size));
        } else if (data.crc != data.recorded_crc) {
          std::snprintf(hex, sizeof hex,
                        ": its data has the CRC-32 %08x, its record says %08x",
                        data.crc, data.recorded_crc);
          check->problems.push_back(what + hex);
        }
      }
    }
  }
  RemoveFile(temp_zip);
}

}  // namespace

PrivateTempFolder::PrivateTempFolder()
    : ScopedTempFolder(TempFolder(), "morva-pack-") {}

std::string CopyArchiveOut(const std::string& tour, std::string* error) {
  ModuleOverride files(tour, Files());
  ScopedFileSystem scope(&files);
  std::string temp_zip;
  if (CreateTempZip(&temp_zip, error) == 0) return "";
  return temp_zip;
}

TourCheck CheckTour(const std::string& tour_path) {
  TourCheck check;
  // The launch moves the current folder, so the path is made absolute first.
  const std::string tour = AbsolutePath(tour_path);
  int64_t tour_length = -1;
  check.has_trailer = ReadTrailer(tour, &check.archive_size, &tour_length);
  // The real temporary folder, before the check moves to a private one.
  const std::string temp_folder = TempFolder();
  const std::string stale =
      StaleNote(FindStale(temp_folder, Files()), temp_folder);
  if (!stale.empty()) check.notes.push_back(stale);
  PrivateTempFolder temp;
  if (!temp.ok()) {
    check.problems.push_back(temp.error());
    return check;
  }

  HeadlessWindow window;
  UnpackReport launch_unpack;
  {
    ModuleOverride files(tour, Files());
    ScopedFileSystem scope(&files);
    CPreviewDlg dlg(&window);
    bool start_page_missing = false;
    window.while_shown = [&] {
      // What is on disk while the window would show.
      if (!dlg.work_folder().empty()) {
        check.flash_movies = FindFlashMovies(dlg.work_folder());
        for (const std::string& note : PagesThatNeedAServer(dlg.work_folder()))
          check.notes.push_back(note);
      }
      FileInfo st;
      const std::string& file = dlg.start_page().page_file;
      start_page_missing =
          dlg.launch_stop() == LaunchStop::kNone &&
          (Files()->StatAt(kCurrentFolder, file, &st, true) != 0 ||
           st.kind != FileKind::kFile);
    };
    dlg.DoModal();
    temp.RestoreCurrentFolder();

    const std::string& work = dlg.work_folder();
    check.stop = dlg.launch_stop();
    check.title = window.title;
    launch_unpack = dlg.unpack_report();
    if (!work.empty())
      check.content_folder = Relative(dlg.content_folder(), work);
    if (!dlg.start_page().launcher_path.empty()) {
      check.launcher = Relative(dlg.start_page().launcher_path, work);
    }
    switch (check.stop) {
      case LaunchStop::kNotRun:
        check.problems.push_back("the launch did not run");
        break;
      case LaunchStop::kCreateTempZip:
        if (tour_length >= 0 &&
            (!check.has_trailer || check.archive_size > tour_length - 4)) {
          check.problems.push_back(
              "copying the archive out: no package appended, or a trailer "
              "that names no region (" +
              dlg.temp_zip_error() + ")");
        } else {
          check.problems.push_back("copying the archive out: " +
                                   dlg.temp_zip_error());
        }
        break;
      case LaunchStop::kUnpack:
        check.problems.push_back(
            UnpackProblemText(launch_unpack, check.archive_size));
        break;
      case LaunchStop::kNoContentFolder:
        check.problems.push_back("unpacking: no content folder");
        break;
      case LaunchStop::kStartPage:
        if (!dlg.start_page().start_address.empty()) {
          check.start_page = Relative(dlg.start_page().start_address, work);
        }
        check.problems.push_back(StartPageProblem(dlg, check));
        break;
      case LaunchStop::kNone:
        check.start_page = Relative(dlg.start_address(), work);
        check.width = dlg.requested_size().right;
        check.height = dlg.requested_size().bottom;
        if (check.width > kLargeScreenWidth ||
            check.height > kLargeScreenHeight) {
          check.notes.push_back(
              "the tour asks for a " + std::to_string(check.width) + " x " +
              std::to_string(check.height) + " window, larger than a " +
              std::to_string(kLargeScreenWidth) + " x " +
              std::to_string(kLargeScreenHeight) +
              " screen; the player limits the window to the screen's work "
              "area");
        }
        if (start_page_missing) {
          check.problems.push_back("start page: the tour page " +
                                   Quoted(check.start_page) +
                                   " that the launcher opens is not in the "
                                   "package");
        } else if (!IsValidUtf8(dlg.start_page().page_file)) {
          // The web view reaches no file whose path is not UTF-8.
          check.problems.push_back(
              "start page: the web view cannot load the tour page " +
              Quoted(check.start_page) + ": its path " +
              Quoted(AnsiToUtf8(dlg.start_page().page_file)) +
              " is not valid UTF-8");
        }
        break;
    }
    for (const FlashMovie& movie : check.flash_movies) {
      if (!movie.present) {
        check.notes.push_back("the Flash movie " + Quoted(movie.path) +
                              " that " + Quoted(movie.pages.front()) +
                              " embeds is not in the package");
      }
    }
    // Said where it explains why the start page was not found; a web
    // export that plays has no viewer movie to speak of.
    if (check.content_folder == "." && check.stop == LaunchStop::kStartPage &&
        dlg.start_page_status() != StartPageStatus::kNoAutorun) {
      check.notes.push_back(
          "the package holds no qzviewer.swf, so the content folder is the "
          "top of the package");
    }
  }

  const std::vector<std::string> left = temp.List();
  if (!left.empty()) {
    std::string names;
    for (const std::string& name : left) names += " " + name;
    check.problems.push_back("cleanup: the player would leave" + names +
                             " in the temporary folder");
  }
  if (check.stop != LaunchStop::kCreateTempZip) {
    VerifyArchive(tour, launch_unpack, &check);
  }
  return check;
}

std::string ArchiveResultText(uint32_t result, const std::string& reason) {
  const char* text = "unexpected result";
  switch (result) {
    case ArchiveOk:
      text = "no error";
      break;
    case ArchiveNoFile:
      text =
          "its file cannot be created (a folder or a read-only file of "
          "that name in the way?)";
      break;
    case ArchiveWriteFailed:
      text =
          "its data cannot be read or inflated, is shorter than its "
          "record says, or cannot be written";
      break;
    case ArchiveCorrupt:
      text =
          "its local header does not match its central record, its "
          "compression method is neither stored nor deflated, or its name "
          "is too long (259 bytes at most)";
      break;
    case ArchiveReadFailed:
      text = "its local extra field cannot be read";
      break;
    case ArchiveBadArguments:
      text = "bad arguments";
      break;
    case ArchiveInflateFailed:
      text = "its data cannot be inflated";
      break;
  }
  char code[16];
  std::snprintf(code, sizeof code, " (0x%x)", result);
  return (reason.empty() ? text : reason) + std::string(code);
}

}  // namespace morva::pack
