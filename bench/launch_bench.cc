// The headless launch against `unzip -q` and `bsdtar -xf`, and its peak RSS.
//
// Our side is the launch as the player runs it, without a window: copying
// the archive out of a tour executable (CreateTempZip), unpacking it into a
// fresh work folder (UnpackTempZip) and reading the start page
// (ReadStartPage). The references unpack the bare archive into a fresh
// folder, so ours pays for the copy out of the executable on top. Each run
// is its own process started the same way for every side, so wall time and
// peak RSS (from wait4) compare like with like; the three sides take turns
// going first.
//
// Packages (bench/tour_package.h): "tour" (about 60 MB in about 300 files),
// "many-small" (about 20,000 files) and "cd" (about 600 MB; its time is for
// information, it is there to show that the peak RSS does not grow with the
// package).
//
//   launch_bench [--work DIR] [--runs N] [--shape tour|many-small|cd]...
//   launch_bench --launch EXECUTABLE   (one launch of ours; used internally)
//   launch_bench --launch-any EXECUTABLE
//                (one launch of any tour; used by the startup benchmark)
//   launch_bench --write-archive SHAPE
//                (writes the shape's archive unless it is there, prints its
//                path; used by the startup benchmark)
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/null_window.h"
#include "app/preview_dlg.h"
#include "bench/bench_util.h"
#include "bench/tour_package.h"
#include "platform/files.h"

namespace morva::bench {
namespace {

// One launch; the exit status says which step failed. A generated package
// must also give the page and size it was made with.
int LaunchOnce(const std::string& exe, bool generated) {
  ModuleOverride files(exe);
  ScopedFileSystem scope(&files);
  NullWindow window;
  CPreviewDlg dlg(&window);
  if (dlg.CreateTempZip() != 1) return 2;
  if (dlg.UnpackTempZip() != 1) return 3;
  if (dlg.content_folder().empty()) return 4;
  if (dlg.ReadStartPage() != 1) return 5;
  if (generated &&
      (dlg.start_address() != dlg.content_folder() + "/" + kTourPage ||
       dlg.requested_size() != Rect{0, 0, kTourWidth, kTourHeight})) {
    return 6;
  }
  return 0;
}

size_t g_tree_files = 0;
int CountFile(const char*, const struct stat*, int type, struct FTW*) {
  if (type == FTW_F) ++g_tree_files;
  return 0;
}
size_t CountFiles(const std::string& folder) {
  g_tree_files = 0;
  nftw(folder.c_str(), CountFile, 16, FTW_PHYS);
  return g_tree_files;
}

struct ShapeRun {
  TourShape shape;
  int runs;          // 0: use --runs
  double max_ratio;  // against unzip -q; 0: the time is for information
  bool beat_bsdtar;  // the target includes being ahead of bsdtar -xf
};

enum Side { kOurs, kUnzip, kBsdtar, kSides };
const char* const kSideNames[kSides] = {"launch", "unzip", "bsdtar"};

bool RunShape(const std::string& self, const std::string& work,
              const ShapeRun& shape_run, int runs, Trash* trash, long* max_rss,
              long* max_ref_rss) {
  const char* name = shape_run.shape.name;
  const std::string exe = EnsureTourExecutable(CorpusFolder(), shape_run.shape);
  if (exe.empty()) {
    std::fprintf(stderr, "launch_bench: cannot write the %s package\n", name);
    return false;
  }
  const std::string archive = exe.substr(0, exe.size() - 4) + ".zip";
  struct stat st;
  stat(archive.c_str(), &st);
  const double archive_mb = st.st_size / 1e6;

  // What an interrupted run left goes first.
  struct stat left;
  if (stat((work + "/out").c_str(), &left) == 0 && !trash->Take(work + "/out"))
    return false;
  std::vector<double> times[kSides];
  long rss[kSides] = {0, 0, 0};
  size_t files = 0;
  // Run 0 warms the page cache for every side and is not counted.
  for (int run = 0; run <= runs; ++run) {
    for (int turn = 0; turn < kSides; ++turn) {
      const Side side = static_cast<Side>((run + turn) % kSides);
      // Let the previous run's writes reach the disk first.
      sync();
      const std::string out = work + "/out";
      mkdir(out.c_str(), 0700);
      const std::string into = out + "/tree";
      mkdir(into.c_str(), 0700);
      ChildRun r =
          side == kOurs ? RunChild({self, "--launch", exe}, {{"TMPDIR", out}})
          : side == kUnzip
              ? RunChild({"/usr/bin/unzip", "-q", archive, "-d", into})
              : RunChild({"/usr/bin/bsdtar", "-xf", archive, "-C", into});
      if (!r.ok) {
        std::fprintf(stderr, "launch_bench: %s run %d failed\n",
                     kSideNames[side], run);
        return false;
      }
      if (run == 0) {
        // Every side must have written the same files (our temporary
        // archive is gone by now).
        const size_t n = CountFiles(out);
        if (files != 0 && n != files) {
          std::fprintf(stderr, "launch_bench: %s wrote %zu files, not %zu\n",
                       kSideNames[side], n, files);
          return false;
        }
        files = n;
      } else {
        times[side].push_back(r.seconds);
      }
      rss[side] = std::max(rss[side], r.max_rss_kib);
      std::printf("  %-10s %-6s %8.1f ms  %6ld KiB%s\n", name, kSideNames[side],
                  r.seconds * 1e3, r.max_rss_kib,
                  run == 0 ? "  (warm-up)" : "");
      if (!trash->Take(out)) return false;
    }
  }
  *max_rss = std::max(*max_rss, rss[kOurs]);
  *max_ref_rss = std::max({*max_ref_rss, rss[kUnzip], rss[kBsdtar]});

  Result result;
  result.name = std::string("launch_") + name;
  result.what = "headless launch, " + std::string(name) + " package, " +
                std::to_string(files) + " files, " +
                std::to_string(static_cast<int>(archive_mb + 0.5)) +
                " MB archive";
  result.ours_label = "CreateTempZip+UnpackTempZip+ReadStartPage";
  result.ref_label = "unzip -q";
  result.ours = Median(times[kOurs]);
  result.ref = Median(times[kUnzip]);
  result.max_ratio = shape_run.max_ratio;
  result.rss_ours_kib = rss[kOurs];
  result.rss_ref_kib = rss[kUnzip];
  result.runs = runs;
  if (shape_run.max_ratio == 0)
    result.note = "for the RSS bound; time for information";
  PrintResult(result);
  // The same runs against bsdtar.
  result.name += "_bsdtar";
  result.ref_label = "bsdtar -xf";
  result.ref = Median(times[kBsdtar]);
  result.rss_ref_kib = rss[kBsdtar];
  result.max_ratio = shape_run.beat_bsdtar ? 0.99 : 0;
  PrintResult(result);
  return true;
}

}  // namespace
}  // namespace morva::bench

int main(int argc, char** argv) {
  using namespace morva::bench;
  if (argc == 3 && std::strcmp(argv[1], "--launch") == 0) {
    return LaunchOnce(argv[2], true);
  }
  if (argc == 3 && std::strcmp(argv[1], "--launch-any") == 0) {
    return LaunchOnce(argv[2], false);
  }
  if (argc == 3 && std::strcmp(argv[1], "--write-archive") == 0) {
    TourShape shape;
    if (!ShapeNamed(argv[2], &shape)) return 2;
    const std::string path = EnsureTourArchive(CorpusFolder(), shape);
    if (path.empty()) return 1;
    std::printf("%s\n", path.c_str());
    return 0;
  }
  ShapeArgs args;
  if (!ParseShapeArgs(argc, argv, "tour|many-small|cd", &args)) return 2;
  const std::string work = WorkFolder(args.work, "launch-bench");
  const std::string self = SelfPath();

  const ShapeRun shapes[] = {
      {TourLikeShape(), 0, 0.45, true},
      {ManySmallShape(), 0, 0.75, true},
      {CdShape(), 3, 0, false},
  };
  // One trash for all packages, emptied at the very end, so that no package
  // is unpacked right after the previous one's output was deleted.
  Trash trash(work + "/trash");
  long max_rss = 0, max_ref_rss = 0;
  std::string measured;
  for (const ShapeRun& shape : shapes) {
    if (!args.Wants(shape.shape.name)) continue;
    if (!RunShape(self, work, shape,
                  shape.runs > 0 ? std::min(shape.runs, args.runs) : args.runs,
                  &trash, &max_rss, &max_ref_rss)) {
      return 1;
    }
    measured += measured.empty() ? shape.shape.name
                                 : std::string(", ") + shape.shape.name;
  }
  Result rss;
  rss.name = "launch_rss";
  rss.what =
      "peak RSS of the headless launch, largest over packages " + measured;
  rss.ours_label = "headless launch";
  rss.ref_label = "unzip -q, bsdtar -xf";
  rss.max_rss_kib = 16384;
  rss.rss_ours_kib = max_rss;
  rss.rss_ref_kib = max_ref_rss;
  PrintResult(rss);
  return 0;
}
