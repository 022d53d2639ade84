// Generated tour packages for the benchmarks.
//
// A package looks like the ones the packer builds: everything under _flash/,
// the viewer movie _flash/qzviewer.swf, _flash/autorun.inf naming a launcher
// page that opens the tour page with the pop-up call, and scene folders of
// tiles (incompressible, like JPEG payload) and small text files. The shape
// decides how many folders and files there are and how large they get, so the
// same writer makes a few hundred large files or tens of thousands of small
// ones. Output is deterministic: the same shape gives the same bytes.
#ifndef MORVA_BENCH_TOUR_PACKAGE_H_
#define MORVA_BENCH_TOUR_PACKAGE_H_

#include <minizip/zip.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "package/trailer.h"

namespace morva::bench {

// The tour page the launcher opens, and the size it asks for.
inline constexpr char kTourPage[] = "Tour page.html";
inline constexpr char kLauncherPage[] = "Tour name.html";
inline constexpr int kTourWidth = 1024;
inline constexpr int kTourHeight = 768;

struct TourShape {
  int folders = 12;          // scene folders
  int tiles = 24;            // incompressible files per folder
  size_t tile_min = 150000;  // tile sizes: tile_min + [0, tile_spread)
  size_t tile_spread = 100000;
  int small_files = 4;     // small files per folder
  size_t small_min = 300;  // small sizes: small_min + [0, small_spread)
  size_t small_spread = 1500;
  int pages = 20;  // text pages at the top
};

// About 60 MB in a few hundred files: the usual tour.
inline TourShape LargeTilesShape() { return TourShape{}; }

// About 20,000 small files (thumbnails, hotspot and scene descriptions) in
// 200 folders, about 50 MB unpacked.
inline TourShape SmallFilesShape() {
  TourShape shape;
  shape.folders = 200;
  shape.tiles = 0;
  shape.small_files = 100;
  shape.small_min = 500;
  shape.small_spread = 4000;
  shape.pages = 20;
  return shape;
}

// Byte patterns with the statistics of JPEG payload: deflate gains nothing.
inline void FillNoise(std::string* out, size_t size, uint64_t* state) {
  out->resize(size);
  for (char& c : *out) {
    *state ^= *state << 13;
    *state ^= *state >> 7;
    *state ^= *state << 17;
    c = static_cast<char>(*state);
  }
}

inline void FillText(std::string* out, size_t size, uint64_t* state) {
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

// Adds one entry the way a Unix zip tool would: Unix mode in the upper half
// of the external attributes, deflated files, stored folders.
inline bool AddZipEntry(zipFile zip, const std::string& name,
                        const std::string& data, bool directory) {
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

// Writes the package's archive (the bare ZIP file) to path.
inline bool WriteTourArchive(const std::string& path, const TourShape& shape) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  uint64_t state = 0x9E3779B97F4A7C15u;
  std::string data;
  const std::string top = "_flash/";
  bool ok = AddZipEntry(zip, top, "", true);
  FillNoise(&data, 90000, &state);
  ok = ok && AddZipEntry(zip, top + "qzviewer.swf", data, false);
  ok = ok && AddZipEntry(zip, top + "autorun.inf",
                         std::string("[autorun] \r\r\nshellexecute=") +
                             kLauncherPage + "\r\r\n",
                         false);
  FillText(&data, 3000, &state);
  const std::string launcher =
      "<html><body>\r\n" + data +
      "\r\n<a href=\"javascript:window.open('Tour%20page.html','_blank',"
      "'status=yes,resizable=yes,top=0,left=0,width=" +
      std::to_string(kTourWidth) + ",height=" + std::to_string(kTourHeight) +
      "')\">Start the tour</a>\r\n</body></html>\r\n";
  ok = ok && AddZipEntry(zip, top + kLauncherPage, launcher, false);
  FillText(&data, 20000, &state);
  ok = ok && AddZipEntry(zip, top + kTourPage, data, false);
  for (int page = 0; page < shape.pages && ok; ++page) {
    FillText(&data, 2000 + 3000 * static_cast<size_t>(page), &state);
    ok = AddZipEntry(zip, top + "page" + std::to_string(page) + ".html", data,
                     false);
  }
  for (int scene = 0; scene < shape.folders && ok; ++scene) {
    const std::string folder = top + "scene" + std::to_string(scene) + "/";
    ok = AddZipEntry(zip, folder, "", true);
    for (int tile = 0; tile < shape.tiles && ok; ++tile) {
      FillNoise(&data, shape.tile_min + (state % shape.tile_spread), &state);
      ok = AddZipEntry(zip, folder + "tile" + std::to_string(tile) + ".jpg",
                       data, false);
    }
    for (int small = 0; small < shape.small_files && ok; ++small) {
      const size_t size = shape.small_min + (state % shape.small_spread);
      // Every other small file is a thumbnail (incompressible), the rest
      // hotspot descriptions.
      if (small % 2 == 1) {
        FillNoise(&data, size, &state);
        ok = AddZipEntry(zip, folder + "thumb" + std::to_string(small) + ".jpg",
                         data, false);
      } else {
        FillText(&data, size, &state);
        ok = AddZipEntry(zip,
                         folder + "hotspot" + std::to_string(small) + ".xml",
                         data, false);
      }
    }
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// Writes executable_path as program bytes, then the archive at archive_path,
// then the archive's length as 4 bytes little-endian.
inline bool WritePackageExecutable(const std::string& archive_path,
                                   const std::string& executable_path) {
  FILE* in = std::fopen(archive_path.c_str(), "rb");
  if (in == nullptr) return false;
  FILE* out = std::fopen(executable_path.c_str(), "wb");
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  std::string program;
  uint64_t state = 0x0123456789ABCDEFu;
  FillNoise(&program, 300000, &state);  // the "program image"
  bool ok =
      std::fwrite(program.data(), 1, program.size(), out) == program.size();
  uint64_t length = 0;
  std::vector<char> buffer(1 << 20);
  for (size_t n;
       ok && (n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0;) {
    ok = std::fwrite(buffer.data(), 1, n, out) == n;
    length += n;
  }
  ok = ok && !std::ferror(in) && length <= UINT32_MAX;
  const std::string trailer = EncodeTrailer(static_cast<uint32_t>(length));
  ok = ok &&
       std::fwrite(trailer.data(), 1, trailer.size(), out) == trailer.size();
  std::fclose(in);
  return std::fclose(out) == 0 && ok;
}

// Writes the archive to archive_path unless a file is there already (the
// names carry the shape, so a kept file is the same package).
inline bool EnsureTourArchive(const std::string& archive_path,
                              const TourShape& shape) {
  struct stat st;
  if (stat(archive_path.c_str(), &st) == 0 && st.st_size > 0) return true;
  std::printf("writing %s ...\n", archive_path.c_str());
  std::fflush(stdout);
  const std::string partial = archive_path + ".part";
  if (!WriteTourArchive(partial, shape)) return false;
  return std::rename(partial.c_str(), archive_path.c_str()) == 0;
}

}  // namespace morva::bench

#endif  // MORVA_BENCH_TOUR_PACKAGE_H_
