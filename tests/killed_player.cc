#include "tests/killed_player.h"

#ifdef _WIN32

namespace morva::testing {

// No fork on Windows: the tests that need a killed player skip there.
bool LaunchAndKill(const std::string&) { return false; }

}  // namespace morva::testing

#else

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/null_window.h"
#include "app/player_process.h"
#include "app/preview_dlg.h"
#include "platform/files.h"

namespace morva::testing {
namespace {

class KilledWindow : public NullWindow {
 public:
  int RunModal(DialogHandler* handler) override {
    handler->OnInitDialog();
    kill(getpid(), SIGKILL);
    return 2;
  }
};

}  // namespace

bool LaunchAndKill(const std::string& tour) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    PlayerProcess process(0);
    ModuleOverride module(tour, Files());
    ScopedFileSystem scope(&module);
    KilledWindow window;
    CPreviewDlg dlg(&window);
    dlg.DoModal();
    _exit(1);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace morva::testing

#endif  // _WIN32
