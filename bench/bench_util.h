// Small helpers shared by the benchmark programs.
#ifndef MORVA_BENCH_BENCH_UTIL_H_
#define MORVA_BENCH_BENCH_UTIL_H_

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace morva::bench {

inline double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Runs a shell command, returns its wall time in seconds (negative on failure).
inline double TimeCommand(const std::string& command) {
  double start = Now();
  int rc = std::system(command.c_str());
  double elapsed = Now() - start;
  if (rc != 0) {
    std::fprintf(stderr, "bench: command failed (%d): %s\n", rc, command.c_str());
    return -1;
  }
  return elapsed;
}

// Peak resident set of this process so far, in MiB.
inline double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

// Peak resident set of the largest child waited for so far, in MiB.
inline double ChildrenPeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace morva::bench

#endif  // MORVA_BENCH_BENCH_UTIL_H_
