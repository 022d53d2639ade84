// The headless launch against `unzip -q`, and its peak RSS.
//
// Our side is the launch as the player runs it, without a window: copying
// the archive out of a tour executable (CreateTempZip), unpacking it into a
// fresh work folder (UnpackTempZip) and reading the start page
// (ReadStartPage). The reference unpacks the bare archive with `unzip -q`
// into a fresh folder, so ours pays for the copy out of the executable on
// top. Each run is its own process started the same way for both sides, so
// wall time and peak RSS (from wait4) compare like with like; the sides
// alternate and take turns going first.
//
// Packages: "large" (about 60 MB in a few hundred files), "small" (about
// 20,000 small files) and "huge" (about 200 MB, only to show that the peak
// RSS does not grow with the package).
//
//   launch_bench [--work DIR] [--runs N] [--shape large|small|huge]...
//   launch_bench --launch EXECUTABLE   (one launch of ours; used internally)
//   launch_bench --launch-any EXECUTABLE
//                (one launch of any tour; used by the startup benchmark)
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
  const char* name;
  TourShape shape;
  int runs;    // 0: use --runs
  bool timed;  // false: the time ratio is for information only
};

bool RunShape(const std::string& self, const std::string& work,
              const ShapeRun& shape_run, int runs, Trash* trash, long* max_rss,
              long* max_ref_rss) {
  const std::string tag = std::string(shape_run.name) + "-" +
                          std::to_string(shape_run.shape.folders) + "x" +
                          std::to_string(shape_run.shape.tiles) + "x" +
                          std::to_string(shape_run.shape.small_files);
  const std::string archive = work + "/tour-" + tag + ".zip";
  const std::string exe = work + "/tour-" + tag + ".exe";
  if (!EnsureTourArchive(archive, shape_run.shape)) {
    std::fprintf(stderr, "launch_bench: cannot write %s\n", archive.c_str());
    return false;
  }
  struct stat st;
  if (stat(exe.c_str(), &st) != 0 && !WritePackageExecutable(archive, exe)) {
    std::fprintf(stderr, "launch_bench: cannot write %s\n", exe.c_str());
    return false;
  }
  stat(archive.c_str(), &st);
  const double archive_mb = st.st_size / 1e6;

  std::vector<double> ours, theirs;
  long ours_rss = 0, theirs_rss = 0;
  size_t files = 0;
  // Run 0 warms the page cache for both sides and is not counted.
  for (int run = 0; run <= runs; ++run) {
    for (int turn = 0; turn < 2; ++turn) {
      const bool mine = (run + turn) % 2 == 0;
      // Let the previous run's writes reach the disk first.
      sync();
      const std::string out = work + "/out";
      mkdir(out.c_str(), 0700);
      ChildRun r = mine ? RunChild({self, "--launch", exe}, {{"TMPDIR", out}})
                        : RunChild({"/usr/bin/unzip", "-q", archive, "-d",
                                    out + "/unzip"});
      if (!r.ok) {
        std::fprintf(stderr, "launch_bench: %s run %d failed\n",
                     mine ? "launch" : "unzip", run);
        return false;
      }
      if (run == 0) {
        // Both sides must have written the same files (our temporary
        // archive is gone by now).
        const size_t n = CountFiles(out);
        if (files != 0 && n != files) {
          std::fprintf(stderr, "launch_bench: %zu files unpacked, unzip %zu\n",
                       mine ? n : files, mine ? files : n);
          return false;
        }
        files = n;
      } else {
        (mine ? ours : theirs).push_back(r.seconds);
      }
      long& rss = mine ? ours_rss : theirs_rss;
      rss = std::max(rss, r.max_rss_kib);
      std::printf("  %-6s %-6s %8.1f ms  %6ld KiB%s\n", shape_run.name,
                  mine ? "launch" : "unzip", r.seconds * 1e3, r.max_rss_kib,
                  run == 0 ? "  (warm-up)" : "");
      trash->Take(out);
    }
  }
  *max_rss = std::max(*max_rss, ours_rss);
  *max_ref_rss = std::max(*max_ref_rss, theirs_rss);

  Result result;
  result.name = std::string("launch_") + shape_run.name;
  result.what = "headless launch, " + std::to_string(files) + " files, " +
                std::to_string(static_cast<int>(archive_mb + 0.5)) +
                " MB archive";
  result.ours_label = "CreateTempZip+UnpackTempZip+ReadStartPage";
  result.ref_label = "unzip -q";
  result.ours = Median(ours);
  result.ref = Median(theirs);
  result.max_ratio = shape_run.timed ? 1.0 : 0;
  result.rss_ours_kib = ours_rss;
  result.rss_ref_kib = theirs_rss;
  result.runs = runs;
  if (!shape_run.timed) result.note = "for the RSS bound; time for information";
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
  ShapeArgs args;
  if (!ParseShapeArgs(argc, argv, "large|small|huge", &args)) return 2;
  const std::string work = WorkFolder(args.work, "launch-bench");
  const std::string self = SelfPath();

  TourShape huge = LargeTilesShape();
  huge.folders = 40;  // about 200 MB
  const ShapeRun shapes[] = {
      {"large", LargeTilesShape(), 0, true},
      {"small", SmallFilesShape(), 0, true},
      {"huge", huge, 3, false},
  };
  // One trash for all packages, emptied at the very end, so that no package
  // is unpacked right after the previous one's output was deleted.
  Trash trash(work + "/trash");
  long max_rss = 0, max_ref_rss = 0;
  std::string measured;
  for (const ShapeRun& shape : shapes) {
    if (!args.Wants(shape.name)) continue;
    if (!RunShape(self, work, shape, shape.runs > 0 ? shape.runs : args.runs,
                  &trash, &max_rss, &max_ref_rss)) {
      return 1;
    }
    measured += measured.empty() ? shape.name : std::string(", ") + shape.name;
  }
  Result rss;
  rss.name = "launch_rss";
  rss.what =
      "peak RSS of the headless launch, largest over packages " + measured;
  rss.ours_label = "headless launch";
  rss.ref_label = "unzip -q";
  rss.max_rss_kib = 8192;
  rss.rss_ours_kib = max_rss;
  rss.rss_ref_kib = max_ref_rss;
  PrintResult(rss);
  return 0;
}
