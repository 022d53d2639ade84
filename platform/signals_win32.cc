// Ending requests on Windows: the console's control events (Ctrl+C,
// Ctrl+Break, the console window closed, logoff, shutdown) stand for the
// ending signals. There is nothing to ignore, and no descriptor to wait on.
#include <windows.h>

#include <atomic>

#include "platform/signals.h"

namespace morva {
namespace {

std::atomic<int> g_end_signal{0};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Numbered from 1 so that 0 keeps meaning "no request".
      RequestEnd(static_cast<int>(event) + 1);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::vector<int> EndingSignals() {
  return {CTRL_C_EVENT + 1, CTRL_BREAK_EVENT + 1, CTRL_CLOSE_EVENT + 1,
          CTRL_LOGOFF_EVENT + 1, CTRL_SHUTDOWN_EVENT + 1};
}

std::vector<int> IgnoredSignals(int) { return {}; }

bool InstallSignalDispositions(int, std::string* error) {
  if (SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return true;
  *error = "SetConsoleCtrlHandler failed";
  return false;
}

int EndRequestSignal() { return g_end_signal.load(); }

int EndRequestFd() { return -1; }

void RequestEnd(int signal_number) {
  int none = 0;
  g_end_signal.compare_exchange_strong(none, signal_number);
}

HelperSignalMask::HelperSignalMask() : previous_{} {}
HelperSignalMask::~HelperSignalMask() = default;

}  // namespace morva
