// Small helpers shared by the benchmark programs: clocks, medians, timed
// child processes with their peak RSS, a trash folder for old output, and the
// machine-readable result line that bench/run_all.py collects.
#ifndef MORVA_BENCH_BENCH_UTIL_H_
#define MORVA_BENCH_BENCH_UTIL_H_

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "package/cleanup.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva::bench {

inline double Now() {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The middle value; the mean of the two middle ones for an even count.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs a shell command, returns its wall time in seconds (negative on failure).
inline double TimeCommand(const std::string& command) {
  double start = Now();
  int rc = std::system(command.c_str());
  double elapsed = Now() - start;
  if (rc != 0) {
    std::fprintf(stderr, "bench: command failed (%d): %s\n", rc,
                 command.c_str());
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

struct ChildRun {
  double seconds = 0;
  long max_rss_kib = 0;
  bool ok = false;
};

// Runs argv[0] (a full path) as a child process with the given variables
// set in its environment, and waits for it. Wall time counts from the fork
// to the end of wait4, so both sides of a comparison pay the same process
// start; the peak RSS is the child's own, from wait4.
inline ChildRun RunChild(
    const std::vector<std::string>& argv,
    const std::vector<std::pair<std::string, std::string>>& env = {}) {
  ChildRun result;
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  const double start = Now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [name, value] : env)
      setenv(name.c_str(), value.c_str(), 1);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return result;
  result.seconds = Now() - start;
  result.max_rss_kib = usage.ru_maxrss;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result.ok) {
    std::fprintf(stderr, "bench: %s exited with status %d\n", argv[0].c_str(),
                 WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return result;
}

// Full path of this program, to run it again as a child.
inline std::string SelfPath() { return RealFiles()->ModuleFileName(); }

// The benchmark's work folder: --work when given, else name in the
// temporary folder.
inline std::string WorkFolder(const std::string& given, const char* name) {
  const std::string work = given.empty() ? JoinPath(TempFolder(), name) : given;
  MakeFolder(work, 0700);
  return work;
}

// Old output goes here instead of being deleted between runs: on ext4,
// creating many files right after deleting many is slow for minutes, which
// would land on whichever side runs next. Everything is deleted at the end.
class Trash {
 public:
  explicit Trash(std::string folder) : folder_(std::move(folder)) {
    MakeFolder(folder_, 0700);
  }
  ~Trash() { RemoveTree(folder_); }
  Trash(const Trash&) = delete;
  Trash& operator=(const Trash&) = delete;

  // Moves path into the trash; false when it cannot be moved. Names left
  // in the trash by an interrupted run are stepped over.
  bool Take(const std::string& path) {
    for (int tries = 0; tries < 10000; ++tries) {
      const std::string target = JoinPath(folder_, std::to_string(count_++));
      if (std::rename(path.c_str(), target.c_str()) == 0) return true;
      if (errno != EEXIST && errno != ENOTEMPTY) break;
    }
    std::fprintf(stderr, "bench: cannot move %s aside\n", path.c_str());
    return false;
  }

 private:
  std::string folder_;
  int count_ = 0;
};

// One figure with its reference, printed as a line that bench/run_all.py
// reads:
//   RESULT name=... what="..." ours_label="..." ref_label="..." ours=...
//   ref=...
//          unit=s ratio=... target="<=1.00" met=yes rss_ours_kib=...
//          rss_ref_kib=...
// A figure without a time ratio (a peak RSS bound) leaves ratio out and is
// judged on its own value.
struct Result {
  std::string name;        // short identifier
  std::string what;        // what was measured, for the report
  std::string ours_label;  // our side
  std::string ref_label;   // the reference tool
  double ours = 0;         // median, in unit
  double ref = 0;          // median, in unit
  std::string unit = "s";
  // Ratio bound (ours / ref <= max_ratio) or, when max_ratio is 0, a bound
  // on our peak RSS (rss_ours_kib < max_rss_kib).
  double max_ratio = 0;
  long max_rss_kib = 0;
  long rss_ours_kib = 0;
  long rss_ref_kib = 0;
  int runs = 0;
  std::string note;

  bool Met() const {
    if (max_ratio > 0) return ref > 0 && ours / ref <= max_ratio;
    if (max_rss_kib > 0) return rss_ours_kib < max_rss_kib;
    return true;
  }
};

inline void PrintResult(const Result& r) {
  std::printf("RESULT name=%s what=\"%s\" ours_label=\"%s\" ref_label=\"%s\"",
              r.name.c_str(), r.what.c_str(), r.ours_label.c_str(),
              r.ref_label.c_str());
  if (r.ref > 0) {
    std::printf(" ours=%.6f ref=%.6f unit=%s ratio=%.3f", r.ours, r.ref,
                r.unit.c_str(), r.ours / r.ref);
  } else if (r.ours > 0) {
    std::printf(" ours=%.6f unit=%s", r.ours, r.unit.c_str());
  }
  if (r.max_ratio > 0) {
    std::printf(" target=\"ratio<=%.2f\"", r.max_ratio);
  } else if (r.max_rss_kib > 0) {
    std::printf(" target=\"rss<%ldKiB\"", r.max_rss_kib);
  } else {
    std::printf(" target=\"-\"");
  }
  std::printf(" met=%s", r.max_ratio > 0 || r.max_rss_kib > 0
                             ? (r.Met() ? "yes" : "no")
                             : "-");
  if (r.rss_ours_kib > 0) std::printf(" rss_ours_kib=%ld", r.rss_ours_kib);
  if (r.rss_ref_kib > 0) std::printf(" rss_ref_kib=%ld", r.rss_ref_kib);
  if (r.runs > 0) std::printf(" runs=%d", r.runs);
  if (!r.note.empty()) std::printf(" note=\"%s\"", r.note.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

// The options the package-shape benchmarks share:
//   [--work DIR] [--runs N] [--shape NAME]...
struct ShapeArgs {
  std::string work;
  int runs = 7;
  std::vector<std::string> only;  // empty: every shape

  bool Wants(const std::string& shape) const {
    return only.empty() ||
           std::find(only.begin(), only.end(), shape) != only.end();
  }
};

// Parses argv from index 1; on anything else prints the usage with the
// shape names and returns false.
inline bool ParseShapeArgs(int argc, char** argv, const char* shapes,
                           ShapeArgs* args) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--work" && i + 1 < argc) {
      args->work = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      args->runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--shape" && i + 1 < argc) {
      args->only.push_back(argv[++i]);
    } else {
      std::fprintf(stderr,
                   "usage: %s [--work DIR] [--runs N] [--shape %s]...\n",
                   argv[0], shapes);
      return false;
    }
  }
  return true;
}

}  // namespace morva::bench

#endif  // MORVA_BENCH_BENCH_UTIL_H_
