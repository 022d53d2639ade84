#include "tests/killed_player.h"

#include "app/null_window.h"
#include "app/player_process.h"
#include "app/preview_dlg.h"
#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace morva::testing {
namespace {

#ifdef _WIN32
// The exit code the child ends itself with, not one a failing run gives.
constexpr UINT kKilledCode = 0xDEAD;
// Names the tour the child is to launch; set only in the child.
constexpr wchar_t kTourVariable[] = L"MORVA_TEST_KILLED_PLAYER_TOUR";
#endif

class KilledWindow : public NullWindow {
 public:
  int RunModal(DialogHandler* handler) override {
    handler->OnInitDialog();
#ifdef _WIN32
    TerminateProcess(GetCurrentProcess(), kKilledCode);
#else
    kill(getpid(), SIGKILL);
#endif
    return 2;
  }
};

// The player's launch of `tour`, up to where the window kills the process.
void LaunchTour(const std::string& tour) {
  PlayerProcess process(0);
  ModuleOverride module(tour, Files());
  ScopedFileSystem scope(&module);
  KilledWindow window;
  CPreviewDlg dlg(&window);
  dlg.DoModal();
}

}  // namespace

#ifdef _WIN32

// No fork on Windows: the child is this program again, told by an
// environment variable which tour to launch. It inherits the environment, so
// TMP and TEMP, and with them the temporary folder, are the parent's.
bool LaunchAndKill(const std::string& tour) {
  std::vector<wchar_t> self(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, self.data(),
                                       static_cast<DWORD>(self.size()));
    if (n == 0) return false;
    if (n < self.size()) break;
    self.resize(self.size() * 2);
  }
  std::wstring command = L"\"" + std::wstring(self.data()) + L"\"";
  if (!SetEnvironmentVariableW(kTourVariable, WidePath(tour).c_str())) {
    return false;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  const bool started =
      CreateProcessW(self.data(), command.data(), nullptr, nullptr, FALSE, 0,
                     nullptr, nullptr, &startup, &child);
  SetEnvironmentVariableW(kTourVariable, nullptr);
  if (!started) return false;
  CloseHandle(child.hThread);
  DWORD code = 0;
  const bool ended =
      WaitForSingleObject(child.hProcess, INFINITE) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hProcess);
  return ended && code == kKilledCode;
}

void RunKilledPlayerIfAsked() {
  const DWORD n = GetEnvironmentVariableW(kTourVariable, nullptr, 0);
  if (n == 0) return;
  std::wstring tour(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(kTourVariable, tour.data(), n);
  if (got == 0 || got >= n) ExitProcess(1);
  tour.resize(got);
  LaunchTour(Utf8FromWide(tour.data(), tour.size()));
  ExitProcess(1);  // the window ends the process; reaching here is a failure
}

#else

bool LaunchAndKill(const std::string& tour) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    LaunchTour(tour);
    _exit(1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

void RunKilledPlayerIfAsked() {}

#endif  // _WIN32

}  // namespace morva::testing
