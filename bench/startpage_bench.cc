// The pop-up call search must stay linear in the page's length: launcher pages
// are one line once joined, and a page of tens of megabytes must not stall
// the start of the player. `grep -E -i` with the same pattern on the same
// file is the reference (it searches line by line, we search the joined page).
//
//   build/bench/startpage_bench --benchmark_counters_tabular=true

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "benchmark/benchmark.h"
#include "platform/files.h"
#include "startpage/start_page.h"

namespace morva {
namespace {

// A page of `bytes` bytes that keeps the search busy: every row opens a
// pop-up call whose sizes never complete, so no match is ever found.
std::string NoMatchPage(size_t bytes) {
  static constexpr char kRow[] =
      "<tr><td class=\"thumb\"><a href=\"javascript:window.open('Scene%20"
      "one.html','_blank','status=yes,resizable=yes,width=800,height=600)\">"
      "Scene one</a></td></tr>\r\n";
  std::string page;
  page.reserve(bytes + sizeof kRow);
  while (page.size() < bytes) page += kRow;
  page.resize(bytes);
  return page;
}

void BM_MatchPopupCallNoMatch(benchmark::State& state) {
  const std::string page =
      NoMatchPage(static_cast<size_t>(state.range(0)) << 20);
  std::string url;
  int32_t width = 0;
  int32_t height = 0;
  for (auto _ : state) {
    bool matched = MatchPopupCall(page, &url, &width, &height);
    benchmark::DoNotOptimize(matched);
    if (matched) state.SkipWithError("unexpected match");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_MatchPopupCallNoMatch)
    ->Arg(10)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond);

// Writes the page to a new file in the temporary folder; empty on failure.
std::string WritePageFile(size_t mib) {
  const std::string path =
      morva::CreateUniqueTempFile(morva::TempFolder(), "morva-bench-");
  if (path.empty()) return {};
  const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const std::string page = NoMatchPage(mib << 20);
  bool written =
      write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
  close(fd);
  if (!written) {
    unlink(path.c_str());
    return {};
  }
  return path;
}

// The same page read from disk and searched, as the player does it.
void BM_ReadAndMatchNoMatch(benchmark::State& state) {
  const std::string path = WritePageFile(static_cast<size_t>(state.range(0)));
  if (path.empty()) {
    state.SkipWithError("cannot write the page");
    return;
  }
  std::string text;
  std::string url;
  int32_t width = 0;
  int32_t height = 0;
  for (auto _ : state) {
    bool ok = ReadLauncherText(path, &text) &&
              !MatchPopupCall(text, &url, &width, &height);
    if (!ok) state.SkipWithError("read failed or unexpected match");
  }
  unlink(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                              static_cast<int64_t>(state.range(0))
                          << 20);
}
BENCHMARK(BM_ReadAndMatchNoMatch)
    ->Arg(10)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond);

// The reference: grep in the C locale with the same pattern, one process per
// search, on the same file.
void BM_GrepNoMatch(benchmark::State& state) {
  const std::string path = WritePageFile(static_cast<size_t>(state.range(0)));
  if (path.empty()) {
    state.SkipWithError("cannot write the page");
    return;
  }
  static char kGrep[] = "/usr/bin/grep";
  static char kOptions[] = "-Eiq";
  static char kPattern[] =
      "javascript:window\\.open\\('[^']+','[^']+','.+width=[0-9]+.+height="
      "[0-9]+'";
  static char kLocale[] = "LC_ALL=C";
  char* argv[] = {kGrep, kOptions, kPattern, const_cast<char*>(path.c_str()),
                  nullptr};
  char* envp[] = {kLocale, nullptr};
  for (auto _ : state) {
    pid_t pid;
    int status = 0;
    if (posix_spawn(&pid, kGrep, nullptr, nullptr, argv, envp) != 0 ||
        waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 1) {
      state.SkipWithError("grep failed or matched");
      break;
    }
  }
  unlink(path.c_str());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                              static_cast<int64_t>(state.range(0))
                          << 20);
}
BENCHMARK(BM_GrepNoMatch)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morva

int main(int argc, char** argv) {
  // The search copies the page once per call. glibc serves copies above its
  // mmap threshold (at most 32 MiB) with fresh pages every time and smaller
  // ones from reused heap, which would make the 50 MB page look slower per
  // byte than the 10 MB one for reasons that have nothing to do with the
  // search. Keep both on the heap.
  mallopt(M_MMAP_THRESHOLD, 512 << 20);
  mallopt(M_TRIM_THRESHOLD, 1024 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
