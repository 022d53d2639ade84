#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/processes.h"
#include "platform/trace.h"

namespace morva {
namespace {

using Clock = std::chrono::steady_clock;

// Through the system calls themselves: the C library's wrappers came late
// and, in some versions, without C linkage.
int OpenProcess(pid_t pid) {
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool Kill(int process_fd) {
  return syscall(SYS_pidfd_send_signal, process_fd, SIGKILL, nullptr, 0) == 0;
}

// More than any real environment; a longer one is judged on its start.
constexpr size_t kEnvironLimit = 1 << 20;

// The environment the process started with (NAME=VALUE entries, each ended
// by NUL); empty when it cannot be read (gone, or not ours to read).
std::string ReadEnviron(pid_t pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/environ";
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string text;
  char buffer[16384];
  while (text.size() < kEnvironLimit) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, got);
  }
  close(fd);
  return text;
}

bool NamesFolder(std::string_view environ, const std::string& folder) {
  while (!environ.empty()) {
    const size_t end = std::min(environ.find('\0'), environ.size());
    const std::string_view entry = environ.substr(0, end);
    environ.remove_prefix(std::min(end + 1, environ.size()));
    const size_t equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view value = entry.substr(equals + 1);
    if (value.starts_with(folder) &&
        (value.size() == folder.size() || value[folder.size()] == '/')) {
      return true;
    }
  }
  return false;
}

bool Counts(pid_t pid, const std::string& folder) {
  struct stat st;
  const std::string path = "/proc/" + std::to_string(pid);
  return stat(path.c_str(), &st) == 0 && st.st_uid == getuid() &&
         NamesFolder(ReadEnviron(pid), folder);
}

struct Held {
  pid_t pid;
  int fd;  // its process descriptor
  bool killed;
};

// Holds the processes that count and are not held yet. A process
// descriptor stays with the process it was opened for, whatever number the
// system gives out later; the process is checked again once it is held.
void HoldNew(const std::string& folder, std::vector<Held>* held) {
  DIR* dir = opendir("/proc");
  if (!dir) return;
  const pid_t self = getpid();
  while (const dirent* entry = readdir(dir)) {
    char* end = nullptr;
    const long number = strtol(entry->d_name, &end, 10);
    if (number <= 0 || *end != '\0') continue;
    const auto pid = static_cast<pid_t>(number);
    const bool known =
        std::any_of(held->begin(), held->end(),
                    [pid](const Held& h) { return h.pid == pid; });
    if (pid == self || known || !Counts(pid, folder)) continue;
    const int fd = OpenProcess(pid);
    if (fd < 0) continue;  // gone meanwhile
    if (!Counts(pid, folder)) {
      close(fd);
      continue;
    }
    held->push_back({pid, fd, false});
  }
  closedir(dir);
}

// Waits until every held process has ended or `until` has come; lets go of
// those that ended.
void WaitUntil(Clock::time_point until, std::vector<Held>* held) {
  while (!held->empty()) {
    std::vector<pollfd> polled;
    for (const Held& h : *held) polled.push_back({h.fd, POLLIN, 0});
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    const int ready = poll(polled.data(), polled.size(),
                           std::max<int>(0, static_cast<int>(left.count())));
    if (ready < 0 && errno != EINTR) return;
    for (size_t i = polled.size(); i-- > 0;) {
      if (polled[i].revents == 0) continue;
      close((*held)[i].fd);
      held->erase(held->begin() + i);
    }
    if (ready == 0 && Clock::now() >= until) return;
  }
}

}  // namespace

int EndProcessesUsing(const std::string& folder,
                      std::chrono::milliseconds wait) {
  const Clock::time_point start = Clock::now();
  const Clock::time_point give_up = start + wait;
  std::vector<Held> held;
  int killed = 0;
  // Until a look finds none left: a process may have started another.
  for (;;) {
    HoldNew(folder, &held);
    if (held.empty() || Clock::now() >= give_up) break;
    for (Held& h : held) {
      if (!h.killed && Kill(h.fd)) {
        h.killed = true;
        ++killed;
      }
    }
    WaitUntil(give_up, &held);
  }
  for (const Held& h : held) close(h.fd);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      Clock::now() - start);
  Trace("helper processes ended after %lld ms (%d killed, %zu still running)",
        static_cast<long long>(took.count()), killed, held.size());
  return static_cast<int>(held.size());
}

int UsableCores() {
  cpu_set_t cpus;
  int cores = 0;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) cores = CPU_COUNT(&cpus);
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::max(cores, 1);
}

}  // namespace morva
