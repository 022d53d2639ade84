#include "app/preview_app.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>

#include "app/preview_dlg.h"
#include "platform/files.h"

namespace morva {
namespace {

constexpr char kProgram[] = "morva";
constexpr char kUsage[] = "Usage: morva [OPTIONS] [TOUR]\n";
constexpr char kHelp[] =
    "Plays a virtual tour in a window: the package appended to TOUR (a tour\n"
    "made by morva-pack, or a tour executable made for Windows), or without\n"
    "TOUR the one appended to this program; a program that carries none\n"
    "shows a page to open a tour from, or to drop one on. Nothing it unpacks\n"
    "outlives the window.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "  -V, --version  show the version and exit\n"
    "\n"
    "When a tour opens an empty window, `morva-pack check TOUR` says why.\n";

int UsageError(std::ostream& err, const std::string& problem) {
  err << kProgram << ": " << problem << "\n"
      << kUsage << "Try 'morva --help' for more information.\n";
  return 2;
}

// The display the toolkit would have opened, for the message.
std::string DisplayName() {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "(neither DISPLAY nor WAYLAND_DISPLAY is set)";
}

}  // namespace

CPreviewApp::CPreviewApp(WindowFactory make_window,
                         std::function<bool()> set_up)
    : make_window_(std::move(make_window)), set_up_(std::move(set_up)) {}

int CPreviewApp::Run(int argc, const char* const* argv, std::ostream& out,
                     std::ostream& err) {
  std::optional<std::string> tour;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && (arg == "-h" || arg == "--help")) {
      out << kUsage << kHelp;
      return 0;
    } else if (!options_end && (arg == "-V" || arg == "--version")) {
      out << kProgram << " " << MORVA_VERSION << "\n";
      return 0;
    } else if (!options_end && arg.size() > 1 && arg[0] == '-') {
      return UsageError(err, "unknown option '" + std::string(arg) + "'");
    } else if (tour) {
      return UsageError(err, "one tour at a time ('" + *tour + "' and '" +
                                 std::string(arg) + "')");
    } else {
      tour = std::string(arg);
    }
  }

  tour_.clear();
  if (tour) {
    // Checked here so that a mistyped name gets a message, not an empty
    // window; what the file holds is the launch's business.
    struct stat st;
    if (Files()->StatAt(AT_FDCWD, *tour, &st, 0) != 0) {
      err << kProgram << ": " << *tour << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    if (!S_ISREG(st.st_mode)) {
      err << kProgram << ": " << *tour << ": not a file\n";
      return 1;
    }
    const int fd = Files()->OpenAt(AT_FDCWD, *tour, O_RDONLY, 0);
    if (fd < 0) {
      err << kProgram << ": " << *tour << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    Files()->Close(fd);
    // The cleanup moves the current folder; the launch reads TOUR before,
    // but an absolute path keeps that no matter.
    tour_ = AbsolutePath(*tour);
  }

  if (set_up_ && !set_up_()) return 0;
  InitInstance();
  if (modal_result_ < 0) {
    err << kProgram << ": cannot open display " << DisplayName() << "\n";
    return 1;
  }
  return 0;
}

bool CPreviewApp::InitInstance() {
  std::unique_ptr<PlayerWindow> window = make_window_();
  if (window == nullptr) return false;
  // The tour from the command line stands in for the running executable.
  std::optional<ModuleOverride> module;
  std::optional<ScopedFileSystem> scope;
  if (!tour_.empty()) {
    module.emplace(tour_, Files());
    scope.emplace(&*module);
  }
  CPreviewDlg dlg(window.get());
  if (tour_.empty()) dlg.OfferTourChoice();
  modal_result_ = dlg.DoModal();
  // No application loop after the window: returning false ends the program.
  return false;
}

}  // namespace morva
