// Copying the appended archive out of a tour executable, against dd copying
// the same byte range with the same block size, alternated in one run.
//
//   temp_zip_bench [MiB] [repetitions]     (default 200 MiB, 7 repetitions)
//
// Works in $TMPDIR (else /tmp); prints the medians and the ratio.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "package/temp_zip.h"
#include "package/trailer.h"
#include "platform/files.h"

namespace {

bool WriteExecutable(const std::string& path, uint32_t archive_size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::vector<char> block(1 << 20);
  uint32_t x = 12345;
  for (char& c : block) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  std::fwrite(block.data(), 1, 300000, f);  // the "program image"
  for (uint32_t done = 0; done < archive_size;) {
    uint32_t n = std::min<uint32_t>(archive_size - done, block.size());
    std::fwrite(block.data(), 1, n, f);
    done += n;
  }
  const std::string trailer = morva::EncodeTrailer(archive_size);
  std::fwrite(trailer.data(), 1, trailer.size(), f);
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  using morva::bench::Median;
  using morva::bench::Now;
  const uint32_t mib = argc > 1 ? std::atoi(argv[1]) : 200;
  const int reps = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::string folder = morva::TempFolder();
  const std::string exe = folder + "/morva-bench-tour.exe";
  const uint32_t size = mib << 20;
  if (!WriteExecutable(exe, size)) {
    std::fprintf(stderr, "temp_zip_bench: cannot write %s\n", exe.c_str());
    return 1;
  }
  const std::string dd_out = folder + "/morva-bench-dd.out";
  const std::string dd =
      "dd if=" + exe + " of=" + dd_out +
      " bs=64K iflag=skip_bytes,count_bytes skip=300000 count=" +
      std::to_string(size) + " status=none";
  morva::ModuleOverride files(exe);
  morva::ScopedFileSystem scope(&files);
  std::vector<double> ours, theirs;
  for (int i = 0; i < reps + 1; ++i) {
    // Alternate which goes first, so neither always follows the other's
    // deletion of a freshly written file.
    double t = 0, d = 0;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn + i) % 2 == 0) {
        std::string path;
        double start = Now();
        if (morva::CreateTempZip(&path) != 1) {
          std::fprintf(stderr, "temp_zip_bench: CreateTempZip failed\n");
          return 1;
        }
        t = Now() - start;
        morva::RemoveFile(path);
      } else {
        d = morva::bench::TimeCommand(dd);
        morva::RemoveFile(dd_out);
        if (d < 0) return 1;
      }
    }
    if (i == 0) continue;  // warm-up: both read the same cached file afterwards
    ours.push_back(t);
    theirs.push_back(d);
  }
  morva::RemoveFile(exe);
  const double a = Median(ours), b = Median(theirs);
  std::printf(
      "CreateTempZip %u MiB: median %.3f s; dd bs=64K: median %.3f s; "
      "ratio %.2f (target <= 1.20) %s; peak RSS ours %.1f MiB, dd %.1f MiB\n",
      mib, a, b, a / b, a / b <= 1.2 ? "met" : "NOT met",
      morva::bench::PeakRssMiB(), morva::bench::ChildrenPeakRssMiB());
  morva::bench::Result result;
  result.name = "temp_zip_copy";
  result.what =
      "copying a " + std::to_string(mib) + " MiB archive out of the executable";
  result.ours_label = "CreateTempZip";
  result.ref_label = "dd bs=64K";
  result.ours = a;
  result.ref = b;
  result.max_ratio = 1.2;
  result.runs = reps;
  result.note = "in-process; dd started by the shell";
  morva::bench::PrintResult(result);
  return 0;
}
