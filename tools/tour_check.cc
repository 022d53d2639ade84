#include "tools/tour_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/null_window.h"
#include "package/archive/archive.h"
#include "package/cleanup.h"
#include "package/temp_zip.h"
#include "platform/files.h"
#include "platform/path.h"
#include "startpage/profile.h"

namespace morva::pack {
namespace {

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

// The launch moves the current folder, so paths are made absolute first.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == kPathSeparator) return path;
  char* cwd = getcwd(nullptr, 0);
  if (cwd == nullptr) return path;
  std::string result = JoinPath(cwd, path);
  free(cwd);
  return result;
}

// path relative to folder; "." for folder itself.
std::string Relative(const std::string& path, const std::string& folder) {
  if (folder.empty()) return path;
  if (path == folder) return ".";
  if (path.compare(0, folder.size(), folder) == 0 &&
      path.size() > folder.size() && path[folder.size()] == kPathSeparator) {
    return path.substr(folder.size() + 1);
  }
  return path;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Reads the trailer for the messages (the launch reads it for itself).
// *length is the tour's length, -1 when it cannot be read.
bool ReadTrailer(const std::string& tour, uint32_t* size, int64_t* length) {
  *length = -1;
  const int fd = open(tour.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = false;
  *length = lseek(fd, 0, SEEK_END);
  unsigned char bytes[4];
  if (*length >= 4 && pread(fd, bytes, 4, *length - 4) == 4) {
    *size = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
            uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
    ok = true;
  }
  close(fd);
  return ok;
}

}  // namespace

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
      return "unpacking: the " + std::to_string(archive_size) +
             " bytes that the trailer names are not a ZIP archive (was a "
             "package appended?)";
    case UnpackStatus::kBadRecord:
      return "unpacking: the record of entry " + report.entry +
             " cannot be read: " + ArchiveResultText(report.archive_result);
    case UnpackStatus::kUnsafeName:
      return "unpacking: entry " + Quoted(report.entry) +
             " would land outside the work folder (an absolute name, a drive "
             "letter or a \"..\" component); the player stops there";
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
  }
  return "unpacking failed";
}

namespace {

std::string StartPageProblem(const CPreviewDlg& dlg, const TourCheck& check,
                             const std::string& shellexecute) {
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
      return "start page: the shellexecute value " + Quoted(shellexecute) +
             " in autorun.inf has no \".\"";
    case StartPageStatus::kNoLauncher:
      return "start page: the launcher page " + Quoted(check.launcher) +
             " that autorun.inf names is missing or unreadable";
    case StartPageStatus::kNoMatch:
      return "start page: the launcher page " + Quoted(check.launcher) +
             " holds no pop-up call like "
             "javascript:window.open('PAGE','NAME','...,width=W,height=H')";
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
      for (int32_t i = 0; i < check->entries; ++i) {
        const std::string number = "#" + std::to_string(i);
        ArchiveResult rc = ArchiveGetEntry(archive.get(), i, &entry);
        if (rc != ArchiveOk) {
          if (!(launch.status == UnpackStatus::kBadRecord &&
                launch.entry == number)) {
            check->problems.push_back(
                "data: the record of entry " + number +
                " cannot be read: " + ArchiveResultText(rc));
          }
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

PrivateTempFolder::PrivateTempFolder() {
  cwd_fd_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  std::string templ = JoinPath(TempFolder(), "morva-pack-XXXXXX");
  std::vector<char> buffer(templ.begin(), templ.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    error_ = ErrnoMessage("mkdtemp", templ);
    return;
  }
  path_ = buffer.data();
  const char* old = std::getenv("TMPDIR");
  had_tmpdir_ = old != nullptr;
  if (old != nullptr) old_tmpdir_ = old;
  setenv("TMPDIR", path_.c_str(), 1);
}

PrivateTempFolder::~PrivateTempFolder() {
  if (!path_.empty()) {
    if (had_tmpdir_) {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    DeleteDirTree(path_);
  }
  RestoreCurrentFolder();
  if (cwd_fd_ >= 0) close(cwd_fd_);
}

void PrivateTempFolder::RestoreCurrentFolder() const {
  if (cwd_fd_ >= 0 && fchdir(cwd_fd_) != 0) {
    // The folder we started in is gone; nothing sensible is left to do.
  }
}

std::vector<std::string> PrivateTempFolder::Contents() const {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path_.c_str())) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string CopyArchiveOut(const std::string& tour, std::string* error) {
  ModuleOverride files(tour, Files());
  ScopedFileSystem scope(&files);
  std::string temp_zip;
  if (CreateTempZip(&temp_zip, error) == 0) return "";
  return temp_zip;
}

TourCheck CheckTour(const std::string& tour_path) {
  TourCheck check;
  const std::string tour = Absolute(tour_path);
  int64_t tour_length = -1;
  check.has_trailer = ReadTrailer(tour, &check.archive_size, &tour_length);
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
    std::string shellexecute;
    bool start_page_missing = false;
    window.while_shown = [&] {
      // What is on disk while the window would show.
      if (dlg.start_page_status() == StartPageStatus::kNoDot) {
        GetProfileValue(JoinPath(dlg.content_folder(), "autorun.inf"),
                        "autorun", "shellexecute", &shellexecute);
      }
      if (!dlg.work_folder().empty()) {
        check.flash_movies = FindFlashMovies(dlg.work_folder());
      }
      struct stat st;
      start_page_missing =
          dlg.launch_stop() == LaunchStop::kNone &&
          (stat(dlg.start_address().c_str(), &st) != 0 || !S_ISREG(st.st_mode));
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
        check.problems.push_back(StartPageProblem(dlg, check, shellexecute));
        break;
      case LaunchStop::kNone:
        check.start_page = Relative(dlg.start_address(), work);
        check.width = dlg.requested_size().right;
        check.height = dlg.requested_size().bottom;
        if (start_page_missing) {
          check.problems.push_back("start page: the tour page " +
                                   Quoted(check.start_page) +
                                   " that the launcher opens is not in the "
                                   "package");
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
    if (check.content_folder == "." && check.stop != LaunchStop::kUnpack) {
      check.notes.push_back(
          "the package holds no qzviewer.swf, so the content folder is the "
          "top of the package");
    }
  }

  const std::vector<std::string> left = temp.Contents();
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

std::string ArchiveResultText(uint32_t result) {
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
  return text + std::string(code);
}

}  // namespace morva::pack
