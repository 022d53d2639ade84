// Extraction speed of the archive reader against `unzip -q`.
//
// Writes a tour-like archive once (a few hundred deflated files, mostly
// incompressible image-like data plus some text, about 60 MB), then extracts
// it into fresh folders with ArchiveExtractEntry and with `unzip -q`, in
// alternating runs. Each run is its own process, started the same way for
// both, so that wall time and peak RSS (from wait4) compare like with like.
// Prints the medians, their ratio and the peak RSS of each side.
//
//   archive_bench [--work DIR] [--runs N] [--keep-archive]
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

#include "package/archive/archive.h"
#include "platform/attributes.h"

namespace {

using morva::ArchiveEntry;
using morva::ArchiveIoKind;

// Byte patterns with the statistics of JPEG payload: deflate gains nothing.
void FillNoise(std::string* out, size_t size, uint64_t* state) {
  out->resize(size);
  for (char& c : *out) {
    *state ^= *state << 13;
    *state ^= *state >> 7;
    *state ^= *state << 17;
    c = static_cast<char>(*state);
  }
}

void FillText(std::string* out, size_t size, uint64_t* state) {
  static const char* const kWords[] = {
      "<div class=\"hotspot\">",
      "scene",
      "pano",
      "yaw=\"12.5\"",
      "pitch=\"-3\"",
      "</div>\n",
      "var view = viewer.load(",
      "\"tiles/",
      ".jpg\");\n",
      "title",
      "<param name=\"movie\" value=\"qzviewer.swf\">",
      "fov",
      "\n"};
  out->clear();
  while (out->size() < size) {
    *state = *state * 6364136223846793005u + 1442695040888963407u;
    out->append(kWords[(*state >> 33) % std::size(kWords)]);
  }
  out->resize(size);
}

bool AddEntry(zipFile zip, const std::string& name, const std::string& data,
              bool directory) {
  zip_fileinfo info{};
  info.dosDate = 0x50CF6300;
  info.external_fa = directory ? 0x41ED0010u : 0x81A40000u;
  if (zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0,
                              nullptr, directory ? 0 : Z_DEFLATED,
                              directory ? 0 : 6, 0, -MAX_WBITS, DEF_MEM_LEVEL,
                              Z_DEFAULT_STRATEGY, nullptr, 0, (3 << 8) | 20, 0,
                              0) != ZIP_OK) {
    return false;
  }
  if (!data.empty() &&
      zipWriteInFileInZip(zip, data.data(),
                          static_cast<unsigned>(data.size())) != ZIP_OK) {
    return false;
  }
  return zipCloseFileInZip(zip) == ZIP_OK;
}

// About 60 MB: 12 folders of scenes, each with 24 tiles of 150-250 KB and a
// few small files, plus pages and scripts at the top.
bool WriteTourArchive(const std::string& path) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  uint64_t state = 0x9E3779B97F4A7C15u;
  std::string data;
  bool ok = AddEntry(zip, "tour/", "", true);
  for (int page = 0; page < 20 && ok; ++page) {
    FillText(&data, 2000 + 3000 * static_cast<size_t>(page), &state);
    ok = AddEntry(zip, "tour/page" + std::to_string(page) + ".html", data,
                  false);
  }
  for (int scene = 0; scene < 12 && ok; ++scene) {
    const std::string folder = "tour/scene" + std::to_string(scene) + "/";
    ok = AddEntry(zip, folder, "", true);
    for (int tile = 0; tile < 24 && ok; ++tile) {
      FillNoise(&data, 150000 + (state % 100000), &state);
      ok = AddEntry(zip, folder + "tile" + std::to_string(tile) + ".jpg", data,
                    false);
    }
    for (int small = 0; small < 4 && ok; ++small) {
      FillText(&data, 300 + 500 * static_cast<size_t>(small), &state);
      ok = AddEntry(zip, folder + "hotspot" + std::to_string(small) + ".xml",
                    data, false);
    }
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

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

struct RunResult {
  double seconds = 0;
  long max_rss_kib = 0;
  bool ok = false;
};

RunResult RunChild(const std::vector<std::string>& argv) {
  RunResult result;
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return result;
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  result.max_rss_kib = usage.ru_maxrss;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string SelfPath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
    return ExtractAll(argv[2], argv[3]);
  }
  std::string work;
  int runs = 7;
  bool keep_archive = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--work" && i + 1 < argc) {
      work = argv[++i];
    } else if (arg == "--runs" && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--keep-archive") {
      keep_archive = true;
    } else {
      std::fprintf(stderr,
                   "usage: %s [--work DIR] [--runs N] [--keep-archive]\n",
                   argv[0]);
      return 2;
    }
  }
  if (work.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    work = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") +
           "/archive-bench";
  }
  mkdir(work.c_str(), 0700);
  const std::string archive = work + "/tour.zip";
  struct stat st;
  if (stat(archive.c_str(), &st) != 0) {
    std::printf("writing %s ...\n", archive.c_str());
    if (!WriteTourArchive(archive)) {
      std::fprintf(stderr, "cannot write %s\n", archive.c_str());
      return 1;
    }
    stat(archive.c_str(), &st);
  }
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
  }

  const std::string self = SelfPath();
  std::vector<double> ours, theirs;
  long ours_rss = 0, theirs_rss = 0;
  std::vector<std::string> aside;
  for (int run = 0; run < 2 * runs; ++run) {
    // Alternate, and let the previous run's writes reach the disk first.
    const bool mine = run % 2 == 0;
    sync();
    const std::string out = work + "/out";
    mkdir(out.c_str(), 0700);
    RunResult r = mine ? RunChild({self, "--extract", archive, out})
                       : RunChild({"/usr/bin/unzip", "-q", archive, "-d", out});
    if (!r.ok) {
      std::fprintf(stderr, "%s run %d failed\n", mine ? "archive" : "unzip",
                   run);
      return 1;
    }
    (mine ? ours : theirs).push_back(r.seconds);
    long& rss = mine ? ours_rss : theirs_rss;
    rss = std::max(rss, r.max_rss_kib);
    std::printf("  %-7s %7.1f ms  %6ld KiB\n", mine ? "archive" : "unzip",
                r.seconds * 1e3, r.max_rss_kib);
    // Deleting many files right before creating many slows ext4 down; move
    // the output aside and delete it all at the end.
    aside.push_back(work + "/old" + std::to_string(run));
    rename(out.c_str(), aside.back().c_str());
  }
  for (const std::string& folder : aside) {
    RunChild({"/bin/rm", "-rf", folder});
  }
  if (!keep_archive) unlink(archive.c_str());

  const double a = Median(ours), u = Median(theirs);
  std::printf(
      "median ArchiveExtractEntry %.1f ms, unzip -q %.1f ms, ratio %.3f\n",
      a * 1e3, u * 1e3, a / u);
  std::printf("peak RSS ArchiveExtractEntry %ld KiB, unzip -q %ld KiB\n",
              ours_rss, theirs_rss);
  return 0;
}
