#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/signals.h"

namespace morva {
namespace {

// Written by signal handlers, read by any thread: a lock-free atomic.
std::atomic<int> g_end_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);
int g_pipe[2] = {-1, -1};

void OnEndingSignal(int signal_number) { RequestEnd(signal_number); }

void OnIgnoredSignal(int /*signal_number*/) {}

bool Install(int signal_number, void (*handler)(int), std::string* error) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // System calls that the signal interrupts carry on.
  action.sa_flags = SA_RESTART;
  if (sigaction(signal_number, &action, nullptr) == 0) return true;
  *error = "sigaction(" + std::to_string(signal_number) +
           "): " + std::strerror(errno);
  return false;
}

}  // namespace

std::vector<int> EndingSignals() {
  return {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGXCPU, SIGPWR};
}

std::vector<int> IgnoredSignals(int spare) {
  std::vector<int> signals = {SIGUSR1, SIGUSR2, SIGPIPE,   SIGXFSZ,
                              SIGIO,   SIGPROF, SIGVTALRM, SIGSTKFLT};
  // SIGRTMIN is the first one the C library leaves to programs.
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) signals.push_back(s);
  std::erase(signals, spare);
  return signals;
}

bool InstallSignalDispositions(int spare, std::string* error) {
  // The pipe first: a signal may arrive as soon as its handler is in place.
  if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("pipe2: ") + std::strerror(errno);
    return false;
  }
  for (int s : EndingSignals()) {
    if (s != spare && !Install(s, OnEndingSignal, error)) return false;
  }
  for (int s : IgnoredSignals(spare)) {
    if (!Install(s, OnIgnoredSignal, error)) return false;
  }
  return true;
}

int EndRequestSignal() { return g_end_signal.load(); }

int EndRequestFd() { return g_pipe[0]; }

void RequestEnd(int signal_number) {
  const int saved_errno = errno;
  int none = 0;
  g_end_signal.compare_exchange_strong(none, signal_number);
  // One byte per request; a full pipe already says enough.
  if (g_pipe[1] >= 0 && write(g_pipe[1], "", 1) < 0) {
  }
  errno = saved_errno;
}

HelperSignalMask::HelperSignalMask() {
  static_assert(sizeof(sigset_t) <= sizeof previous_);
  sigset_t blocked;
  sigfillset(&blocked);
  for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP})
    sigdelset(&blocked, fault);
  pthread_sigmask(SIG_BLOCK, &blocked, reinterpret_cast<sigset_t*>(previous_));
}

HelperSignalMask::~HelperSignalMask() {
  pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(previous_), nullptr);
}

}  // namespace morva
