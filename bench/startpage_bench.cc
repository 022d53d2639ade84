// The pop-up call search must stay linear in the page's length: launcher pages
// are one line once joined, and a page of tens of megabytes must not stall
// the start of the player.
//
//   build/bench/startpage_bench --benchmark_counters_tabular=true

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "benchmark/benchmark.h"
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

// The same page read from disk and searched, as the player does it.
void BM_ReadAndMatchNoMatch(benchmark::State& state) {
  const char* base = getenv("TMPDIR");
  std::string path =
      std::string(base && *base ? base : "/tmp") + "/morva-bench-XXXXXX";
  int fd = mkstemp(path.data());
  if (fd < 0) {
    state.SkipWithError("mkstemp failed");
    return;
  }
  const std::string page =
      NoMatchPage(static_cast<size_t>(state.range(0)) << 20);
  bool written =
      write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
  close(fd);
  if (!written) {
    unlink(path.c_str());
    state.SkipWithError("write failed");
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
                          static_cast<int64_t>(page.size()));
}
BENCHMARK(BM_ReadAndMatchNoMatch)
    ->Arg(10)
    ->Arg(50)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace morva

BENCHMARK_MAIN();
