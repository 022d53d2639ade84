// Removing the unpacked tour (RemoveLaunchFiles, that is DeleteDirTree on
// the work folder) against `rm -rf` of an identical tree.
//
// Each run unpacks the package twice with `unzip -q` (not timed), lets the
// writes reach the disk, then removes one tree with our cleanup and the other
// with `rm -rf`, each in its own process, taking turns going first.
//
// Packages: the "tour", "many-small" and "cd" shapes of bench/tour_package.h.
//
//   cleanup_bench [--work DIR] [--runs N] [--shape tour|many-small|cd]...
//   cleanup_bench --delete FOLDER   (one cleanup of ours; used internally)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/tour_package.h"
#include "package/cleanup.h"

namespace morva::bench {
namespace {

bool RunShape(const std::string& self, const std::string& work,
              const TourShape& shape, int runs) {
  const std::string archive = EnsureTourArchive(CorpusFolder(), shape);
  if (archive.empty()) {
    std::fprintf(stderr, "cleanup_bench: cannot write the %s package\n",
                 shape.name);
    return false;
  }
  std::vector<double> ours, theirs;
  long ours_rss = 0, theirs_rss = 0;
  const std::string trees[2] = {work + "/tree-a", work + "/tree-b"};
  for (int run = 0; run <= runs; ++run) {
    for (const std::string& tree : trees) {
      if (!RunChild({"/usr/bin/unzip", "-q", archive, "-d", tree}).ok) {
        std::fprintf(stderr, "cleanup_bench: unzip into %s failed\n",
                     tree.c_str());
        return false;
      }
    }
    for (int turn = 0; turn < 2; ++turn) {
      const bool mine = (run + turn) % 2 == 0;
      const std::string& tree = trees[turn];
      sync();
      ChildRun r = mine ? RunChild({self, "--delete", tree})
                        : RunChild({"/bin/rm", "-rf", tree});
      struct stat st;
      if (!r.ok || lstat(tree.c_str(), &st) == 0) {
        std::fprintf(stderr, "cleanup_bench: %s left %s behind\n",
                     mine ? "RemoveLaunchFiles" : "rm -rf", tree.c_str());
        return false;
      }
      // Run 0 is a warm-up: the first tree's metadata may still be settling.
      if (run > 0) (mine ? ours : theirs).push_back(r.seconds);
      long& rss = mine ? ours_rss : theirs_rss;
      rss = std::max(rss, r.max_rss_kib);
      std::printf("  %-6s %-17s %8.1f ms  %6ld KiB%s\n", shape.name,
                  mine ? "RemoveLaunchFiles" : "rm -rf", r.seconds * 1e3,
                  r.max_rss_kib, run == 0 ? "  (warm-up)" : "");
    }
  }
  Result result;
  result.name = std::string("cleanup_") + shape.name;
  result.what = std::string("removing the unpacked tree of the ") + shape.name +
                " package";
  result.ours_label = "RemoveLaunchFiles (DeleteDirTree)";
  result.ref_label = "rm -rf";
  result.ours = Median(ours);
  result.ref = Median(theirs);
  result.max_ratio = 1.0;
  result.rss_ours_kib = ours_rss;
  result.rss_ref_kib = theirs_rss;
  result.runs = runs;
  result.note =
      "the time is the file system's (journal, other load) and moves a lot "
      "between runs; the sides alternate, so the ratio holds";
  PrintResult(result);
  return true;
}

}  // namespace
}  // namespace morva::bench

int main(int argc, char** argv) {
  using namespace morva::bench;
  if (argc == 3 && std::strcmp(argv[1], "--delete") == 0) {
    morva::RemoveLaunchFiles(argv[2], "");
    return 0;
  }
  ShapeArgs args;
  if (!ParseShapeArgs(argc, argv, "tour|many-small|cd", &args)) return 2;
  const std::string work = WorkFolder(args.work, "cleanup-bench");
  const std::string self = SelfPath();
  for (const TourShape& shape :
       {TourLikeShape(), ManySmallShape(), CdShape()}) {
    if (!args.Wants(shape.name)) continue;
    // Each run of the large package unpacks it twice first: fewer runs.
    const int runs =
        std::string(shape.name) == "cd" ? std::min(args.runs, 5) : args.runs;
    if (!RunShape(self, work, shape, runs)) return 1;
  }
  return 0;
}
