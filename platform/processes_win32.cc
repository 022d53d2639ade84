// Helper processes on Windows: the core starts none of its own there, and
// no Windows web view is part of the program yet, so none can count.
#include <windows.h>

#include <algorithm>
#include <thread>

#include "platform/processes.h"

namespace morva {

int EndProcessesUsing(const std::string&, std::chrono::milliseconds) {
  return 0;
}

int UsableCores() {
  DWORD_PTR process = 0, system = 0;
  int cores = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++cores;
  }
  if (cores <= 0) cores = static_cast<int>(std::thread::hardware_concurrency());
  return std::max(cores, 1);
}

}  // namespace morva
