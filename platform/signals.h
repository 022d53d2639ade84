// How the player answers signals.
//
// A signal that asks the process to end becomes an end request: a flag that
// any thread can read and a byte in a pipe that the main loop watches, so
// the player closes through its normal path (the cleanup included) at any
// moment of its life: before its window exists, while it unpacks, while a
// dialog or a menu is open. The handlers do nothing else, so they are safe
// whatever the process is doing when the signal arrives.
//
// Ending: SIGINT, SIGTERM, SIGHUP and SIGQUIT (a user or the session asking
// the program to stop), SIGALRM (a time limit someone set for it), SIGXCPU
// (the CPU limit; the kernel kills at the hard limit, so close while we can)
// and SIGPWR (power failing, the system going down).
//
// Ignored: the other signals that would end the process by default but ask
// nothing of this program: SIGUSR1 and SIGUSR2 (the player gives them no
// meaning), SIGPIPE and SIGXFSZ (the write then fails with EPIPE or EFBIG
// and is handled as the failed write it is), SIGIO, SIGPROF, SIGVTALRM,
// SIGSTKFLT and the real-time signals. They get a handler that does nothing
// rather than SIG_IGN, which child processes would inherit across exec.
//
// Left alone: the fault signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT,
// SIGTRAP, SIGSYS), where the process cannot be trusted to clean up; what a
// crashed player leaves, the next player removes (package/private_folder.h).
#ifndef MORVA_PLATFORM_SIGNALS_H_
#define MORVA_PLATFORM_SIGNALS_H_

#include <signal.h>

#include <string>
#include <vector>

namespace morva {

// Installs the dispositions above. `spare` (0 for none) is a signal another
// part of the program has claimed for itself; it keeps its disposition.
// Returns false with *error set when a handler could not be installed.
// REQUIRES: called once, first thing in main(), before any thread exists and
// before anything is written to disk.
bool InstallSignalDispositions(int spare, std::string* error);

// The first signal that asked the process to end, or 0. Any thread.
int EndRequestSignal();
inline bool EndRequested() { return EndRequestSignal() != 0; }

// The read end of the pipe that becomes readable once an end was requested
// (-1 before InstallSignalDispositions). Drain it without blocking.
int EndRequestFd();

// What an ending signal does, for callers that end the run themselves.
// Async-signal-safe.
void RequestEnd(int signal_number);

// While it lives, threads that the creating thread starts take no
// asynchronous signals, so that the ending signals stay with the thread that
// runs the window (their handlers only note the request, and writes stop
// through the launch's file system on any thread). The fault signals stay
// open: a fault in a helper ends the process as it would anywhere. Nothing
// on Windows, which has no asynchronous signals to steer.
class HelperSignalMask {
 public:
  HelperSignalMask();
  ~HelperSignalMask();
  HelperSignalMask(const HelperSignalMask&) = delete;
  HelperSignalMask& operator=(const HelperSignalMask&) = delete;

 private:
  alignas(8) unsigned char previous_[128];  // the mask before
};

// The signals each way, for tests.
std::vector<int> EndingSignals();
std::vector<int> IgnoredSignals(int spare);

}  // namespace morva

#endif  // MORVA_PLATFORM_SIGNALS_H_
