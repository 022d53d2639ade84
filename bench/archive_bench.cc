// Extraction speed of the archive reader against `unzip -q` (and, for
// comparison, `bsdtar -xf`).
//
// Takes the "tour" package of bench/tour_package.h (about 300 deflated files,
// mostly JPEG tiles plus text, sounds and movies, about 60 MB), then extracts
// it into fresh folders with ArchiveExtractEntry on one thread, entry after
// entry, and with `unzip -q` and `bsdtar -xf`, in alternating runs. Each run is
// its own process, started the same way for both, so that wall time and peak
// RSS (from wait4) compare like with like. Prints the medians, their ratio and
// the peak RSS of each side.
//
//   archive_bench [--work DIR] [--runs N]
//   archive_bench --extract ARCHIVE FOLDER   (one run of ours; used internally)
#include <fcntl.h>
#include <minizip/zip.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "bench/tour_package.h"
#include "package/archive/archive.h"
#include "platform/attributes.h"

namespace {

using morva::ArchiveEntry;
using morva::ArchiveIoKind;
using morva::bench::ChildRun;
using morva::bench::Median;
using morva::bench::RunChild;

// One extraction the way the player's unpack step does it: the count, then
// each record and each entry in order, folders made before their files.
int ExtractAll(const char* archive_path, const std::string& folder) {
  morva::ArchivePtr archive(
      morva::ArchiveOpen(archive_path, 0, ArchiveIoKind::ByFileName));
  if (archive == nullptr) return 2;
  ArchiveEntry entry;
  if (morva::ArchiveGetEntry(archive.get(), -1, &entry) != morva::ArchiveOk)
    return 3;
  const int32_t count = entry.index;
  std::set<std::string> made;
  for (int32_t i = 0; i < count; ++i) {
    if (morva::ArchiveGetEntry(archive.get(), i, &entry) != morva::ArchiveOk)
      return 4;
    std::string path = folder + "/" + entry.name;
    if ((entry.attributes & morva::kAttrDirectory) != 0) {
      if (path.back() == '/') path.pop_back();
      if (made.insert(path).second) mkdir(path.c_str(), 0777);
      continue;
    }
    for (size_t slash = path.find('/', folder.size() + 1);
         slash != std::string::npos; slash = path.find('/', slash + 1)) {
      std::string parent = path.substr(0, slash);
      if (made.insert(parent).second) mkdir(parent.c_str(), 0777);
    }
    if (morva::ArchiveExtractEntry(archive.get(), i, path.data(), 0,
                                   ArchiveIoKind::ByFileName) !=
        morva::ArchiveOk) {
      return 5;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
    return ExtractAll(argv[2], argv[3]);
  }
  std::string work;
  int runs = 7;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--work" && i + 1 < argc) {
      work = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else {
      std::fprintf(stderr, "usage: %s [--work DIR] [--runs N]\n", argv[0]);
      return 2;
    }
  }
  work = morva::bench::WorkFolder(work, "archive-bench");
  const std::string archive = morva::bench::EnsureTourArchive(
      morva::bench::CorpusFolder(), morva::bench::TourLikeShape());
  if (archive.empty()) {
    std::fprintf(stderr, "cannot write the tour package\n");
    return 1;
  }
  struct stat st;
  stat(archive.c_str(), &st);
  int count_entries = 0;
  {
    morva::ArchivePtr handle(
        morva::ArchiveOpen(archive.c_str(), 0, ArchiveIoKind::ByFileName));
    ArchiveEntry count;
    if (handle == nullptr ||
        morva::ArchiveGetEntry(handle.get(), -1, &count) != morva::ArchiveOk) {
      std::fprintf(stderr, "cannot open %s\n", archive.c_str());
      return 1;
    }
    std::printf("archive: %.1f MB, %d entries\n", st.st_size / 1e6,
                count.index);
    count_entries = count.index;
  }

  const std::string self = morva::bench::SelfPath();
  // Three sides: ours, unzip -q and bsdtar -xf, taking turns at going first.
  const char* const kSides[] = {"archive", "unzip", "bsdtar"};
  std::vector<double> times[3];
  long peak_rss[3] = {0, 0, 0};
  morva::bench::Trash trash(work + "/trash");
  for (int run = 0; run < 3 * runs; ++run) {
    const int side = (run + run / 3) % 3;
    // Let the previous run's writes reach the disk first.
    sync();
    const std::string out = work + "/out";
    mkdir(out.c_str(), 0700);
    ChildRun r = side == 0 ? RunChild({self, "--extract", archive, out})
                 : side == 1
                     ? RunChild({"/usr/bin/unzip", "-q", archive, "-d", out})
                     : RunChild({"/usr/bin/bsdtar", "-xf", archive, "-C", out});
    if (!r.ok) {
      std::fprintf(stderr, "%s run %d failed\n", kSides[side], run);
      return 1;
    }
    times[side].push_back(r.seconds);
    peak_rss[side] = std::max(peak_rss[side], r.max_rss_kib);
    std::printf("  %-7s %7.1f ms  %6ld KiB\n", kSides[side], r.seconds * 1e3,
                r.max_rss_kib);
    // Deleting many files right before creating many slows ext4 down; move
    // the output aside and delete it all at the end.
    if (!trash.Take(out)) return 1;
  }

  const double a = Median(times[0]), u = Median(times[1]), b = Median(times[2]);
  std::printf(
      "median ArchiveExtractEntry %.1f ms, unzip -q %.1f ms (ratio %.3f), "
      "bsdtar -xf %.1f ms (ratio %.3f)\n",
      a * 1e3, u * 1e3, a / u, b * 1e3, a / b);
  std::printf(
      "peak RSS ArchiveExtractEntry %ld KiB, unzip -q %ld KiB, "
      "bsdtar -xf %ld KiB\n",
      peak_rss[0], peak_rss[1], peak_rss[2]);
  morva::bench::Result result;
  result.name = "archive_extract";
  result.what =
      "extracting a " + std::to_string(count_entries) + "-entry archive of " +
      std::to_string(static_cast<int>(st.st_size / 1e6 + 0.5)) + " MB to files";
  result.ours_label = "ArchiveExtractEntry";
  result.ref_label = "unzip -q";
  result.ours = a;
  result.ref = u;
  result.max_ratio = 0.9;
  result.rss_ours_kib = peak_rss[0];
  result.rss_ref_kib = peak_rss[1];
  result.runs = runs;
  morva::bench::PrintResult(result);
  // The same runs against bsdtar, for comparison only.
  result.name = "archive_extract_bsdtar";
  result.ref_label = "bsdtar -xf";
  result.ref = b;
  result.max_ratio = 0;
  result.rss_ref_kib = peak_rss[2];
  morva::bench::PrintResult(result);
  return 0;
}
