// Generated tour packages for the benchmarks, made to look like real tours.
//
// What a tour holds decides what unpacking it costs: panorama tiles and
// thumbnails are JPEG files, whose entropy-coded data deflate barely shrinks
// but still codes (so inflating them is real work, not a copy); pages,
// scripts, style sheets and hotspot descriptions are text that deflate
// shrinks several times; sounds are MP3 frames and Flash movies are
// zlib-compressed SWF files, both already compressed. Every file is deflated
// at level 6, as authoring tools do.
//
// The JPEG files are real: photo-like images (smooth shapes over several
// scales, fine grain) are generated here and encoded by ImageMagick into a
// small pool, once per work folder; each entry takes an
// image of the pool with its own comment segment, so that no two entries
// are alike. Everything else is generated here. Nothing is fetched: the
// same shape gives the same bytes, on any machine with the same
// ImageMagick.
//
// Shapes: "tour" (about 60 MB in about 300 files, a usual tour), "many-small"
// (about 20,000 files of a few kilobytes, about 60 MB) and "cd" (about
// 600 MB, a tour that fills a CD).
#ifndef MORVA_BENCH_TOUR_PACKAGE_H_
#define MORVA_BENCH_TOUR_PACKAGE_H_

#include <minizip/zip.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "package/trailer.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva::bench {

// The tour page the launcher opens, and the size it asks for.
inline constexpr char kTourPage[] = "Tour page.html";
inline constexpr char kLauncherPage[] = "Tour name.html";
inline constexpr int kTourWidth = 1024;
inline constexpr int kTourHeight = 768;

struct TourShape {
  const char* name;
  int scenes;     // scene folders
  int tiles;      // panorama tiles (JPEG, about 250 KB) per scene
  int thumbs;     // thumbnails (JPEG, a few KB) per scene
  int texts;      // hotspot descriptions and scripts per scene
  int panoramas;  // whole panoramas (JPEG, about 2.5 MB) in the package
  int sounds;     // MP3-like sounds in the package
  size_t sound_size;
  int movies;  // SWF-like movies besides the viewer movie
  size_t movie_size;
  int pages;  // HTML pages, scripts and style sheets at the top
};

// About 60 MB in about 300 files: the usual tour.
inline TourShape TourLikeShape() {
  return {"tour", 12, 18, 3, 2, 0, 2, 1500000, 1, 400000, 20};
}

// About 20,000 files of a few kilobytes (thumbnails, hotspot descriptions,
// scene scripts) in 200 folders, about 60 MB.
inline TourShape ManySmallShape() {
  return {"many-small", 200, 0, 50, 50, 0, 1, 800000, 0, 0, 20};
}

// About 600 MB: a tour that fills a CD.
inline TourShape CdShape() {
  return {"cd", 40, 50, 6, 6, 16, 12, 3000000, 4, 2000000, 40};
}

// The shape called name, or false.
inline bool ShapeNamed(const std::string& name, TourShape* shape) {
  for (const TourShape& s : {TourLikeShape(), ManySmallShape(), CdShape()}) {
    if (name == s.name) {
      *shape = s;
      return true;
    }
  }
  return false;
}

// A small, fast generator; the same seed gives the same sequence.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15u + 1) {}
  uint64_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return state_;
  }
  // In [0, n).
  size_t Below(size_t n) { return n == 0 ? 0 : Next() % n; }

 private:
  uint64_t state_;
};

inline uint32_t HashPoint(int32_t x, int32_t y, uint32_t seed) {
  uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^
               static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  h ^= h >> 15;
  return h;
}

// Smooth noise in [0, 1): random values on a lattice of cells `cell` pixels
// wide, blended between lattice points.
inline float ValueNoise(int x, int y, int cell, uint32_t seed) {
  const int cx = x / cell, cy = y / cell;
  float fx = static_cast<float>(x % cell) / static_cast<float>(cell);
  float fy = static_cast<float>(y % cell) / static_cast<float>(cell);
  fx = fx * fx * (3 - 2 * fx);
  fy = fy * fy * (3 - 2 * fy);
  auto at = [&](int dx, int dy) {
    return static_cast<float>(HashPoint(cx + dx, cy + dy, seed) >> 8) /
           16777216.0f;
  };
  const float top = at(0, 0) + (at(1, 0) - at(0, 0)) * fx;
  const float bottom = at(0, 1) + (at(1, 1) - at(0, 1)) * fx;
  return top + (bottom - top) * fy;
}

// A photo-like picture as a binary PPM: large soft shapes in a few colours,
// detail on every scale below them, and sensor grain. JPEG codes it at about
// the rate of a photograph of a room or a landscape.
inline std::string PhotoLikePpm(int width, int height, uint32_t seed) {
  std::string ppm =
      "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  const size_t header = ppm.size();
  ppm.resize(header + static_cast<size_t>(width) * height * 3);
  unsigned char* out = reinterpret_cast<unsigned char*>(&ppm[header]);
  const float tint[3] = {
      0.6f + 0.4f * static_cast<float>(HashPoint(1, 0, seed) & 255) / 255,
      0.6f + 0.4f * static_cast<float>(HashPoint(2, 0, seed) & 255) / 255,
      0.6f + 0.4f * static_cast<float>(HashPoint(3, 0, seed) & 255) / 255};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      float light = 0, amplitude = 0.5f;
      for (int cell = 256; cell >= 2; cell /= 2) {
        light += amplitude * (ValueNoise(x, y, cell, seed + cell) - 0.5f);
        amplitude *= 0.62f;
      }
      const float hue = ValueNoise(x, y, 128, seed ^ 0x5A5A5A5Au) - 0.5f;
      const uint32_t grain = HashPoint(x, y, seed ^ 0xA5A5A5A5u);
      for (int c = 0; c < 3; ++c) {
        float v = 0.5f + light * 1.6f + hue * (c == 1 ? -0.3f : 0.3f);
        v = v * tint[c] * 255.0f +
            static_cast<float>(static_cast<int>((grain >> (8 * c)) & 31) - 16);
        *out++ = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
  }
  return ppm;
}

// JPEG images to build packages from, encoded once per work folder.
struct JpegPool {
  std::vector<std::string> tiles;      // 1024 x 1024 and near it
  std::vector<std::string> thumbs;     // 160 x 120 and near it
  std::vector<std::string> panoramas;  // 4096 x 2048 and near it
};

inline bool ReadFileBytes(const std::string& path, std::string* bytes) {
  return ReadWholeFile(path, bytes) && !bytes->empty();
}

inline bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Fills *pool from folder, first generating the pictures and encoding them
// with ImageMagick (quality 85, as tour tools export) unless they are there.
inline bool LoadJpegPool(const std::string& folder, JpegPool* pool) {
  struct Kind {
    const char* prefix;
    int count, width, height;
    std::vector<std::string>* images;
  } kinds[] = {
      {"tile", 24, 1024, 1024, &pool->tiles},
      {"thumb", 32, 160, 120, &pool->thumbs},
      {"pano", 3, 4096, 2048, &pool->panoramas},
  };
  mkdir(folder.c_str(), 0700);
  const std::string done = folder + "/complete";
  struct stat st;
  if (stat(done.c_str(), &st) != 0) {
    std::printf("encoding the JPEG pool in %s ...\n", folder.c_str());
    std::fflush(stdout);
    // Two of three with the standard Huffman tables that libjpeg, cameras
    // and most export tools write (deflate still finds about 1 % to gain,
    // so it codes them), one with optimised tables (deflate stores those).
    std::string lists[2];
    uint32_t seed = 1;
    for (const Kind& kind : kinds) {
      for (int i = 0; i < kind.count; ++i, ++seed) {
        // Sizes vary a little, as crops and exports do.
        const int w = kind.width + static_cast<int>(HashPoint(i, 7, seed) % 9) *
                                       kind.width / 64;
        const int h =
            kind.height +
            static_cast<int>(HashPoint(i, 9, seed) % 9) * kind.height / 64;
        const std::string base = folder + "/" + kind.prefix + std::to_string(i);
        if (!WriteFileBytes(base + ".ppm", PhotoLikePpm(w, h, seed)))
          return false;
        lists[seed % 3 == 0 ? 1 : 0] += " '" + base + ".ppm'";
      }
    }
    for (int optimise = 0; optimise < 2; ++optimise) {
      const std::string command = std::string(
                                      "/usr/bin/mogrify -quality 85 -define "
                                      "jpeg:optimize-coding=") +
                                  (optimise ? "true" : "false") +
                                  " -format jpg" + lists[optimise] +
                                  " && rm -f" + lists[optimise];
      if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "bench: ImageMagick failed: %s\n",
                     command.c_str());
        return false;
      }
    }
    if (!WriteFileBytes(done, "")) return false;
  }
  for (const Kind& kind : kinds) {
    kind.images->clear();
    for (int i = 0; i < kind.count; ++i) {
      std::string jpeg;
      if (!ReadFileBytes(
              folder + "/" + kind.prefix + std::to_string(i) + ".jpg", &jpeg)) {
        return false;
      }
      kind.images->push_back(std::move(jpeg));
    }
  }
  return true;
}

// A JPEG file with a comment segment after its start marker: the same
// picture, other bytes.
inline std::string WithComment(const std::string& jpeg,
                               const std::string& comment) {
  const size_t length = comment.size() + 2;
  std::string segment = "\xFF\xFE";
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  segment += comment;
  return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

// Bytes that look like an MP3 file: frame headers of 128 kbit/s, 44.1 kHz
// every 417 bytes, the frames' coded data in between.
inline std::string Mp3Like(size_t size, Rng* rng) {
  std::string out = "ID3\x03";
  out.append(6, '\0');
  while (out.size() < size) {
    out += "\xFF\xFB\x90\x64";
    for (int i = 0; i < 413; i += 8) {
      const uint64_t v = rng->Next();
      out.append(reinterpret_cast<const char*>(&v), 8);
    }
  }
  out.resize(size);
  return out;
}

// Text that looks like a tour's pages, scripts, style sheets and hotspot
// descriptions, with names and numbers that vary as real ones do.
inline std::string TextLike(size_t size, Rng* rng) {
  static const char* const kWords[] = {
      "<div class=\"hotspot\" id=\"hs",
      "\">",
      "</div>\n",
      "<scene name=\"scene",
      "\" yaw=\"",
      "\" pitch=\"",
      "\" fov=\"",
      "\"/>\n",
      "var view = viewer.load(\"tiles/",
      ".jpg\");\n",
      "function onClick",
      "(e) { return go(",
      "); }\n",
      ".panel { margin: ",
      "px; color: #",
      "; }\n",
      "<title>",
      "</title>\n",
      "<param name=\"movie\" value=\"qzviewer.swf\">\n",
      "if (view.ready && ",
      ") {\n  view.rotate(",
      ", ",
      ");\n}\n",
      "<a href=\"scene",
      ".html\">",
      "</a>\n",
      "\t",
      "  ",
      "\n"};
  std::string out;
  out.reserve(size + 64);
  while (out.size() < size) {
    out += kWords[rng->Below(std::size(kWords))];
    if (rng->Below(3) == 0) out += std::to_string(rng->Below(100000));
  }
  out.resize(size);
  return out;
}

// Bytes that look like a Flash movie saved compressed: the "CWS" header and
// a zlib stream of tags (text, shapes and an embedded JPEG).
inline std::string SwfLike(size_t size, const JpegPool& pool, Rng* rng) {
  std::string body;
  while (body.size() < size) {
    body += TextLike(2000 + rng->Below(4000), rng);
    for (int i = 0; i < 300; ++i) {
      const uint64_t v = rng->Next() & 0x0F0F0F0F0F0F0F0Fu;
      body.append(reinterpret_cast<const char*>(&v), 8);
    }
    body += pool.tiles[rng->Below(pool.tiles.size())].substr(0, 60000);
  }
  uLongf packed_size = compressBound(body.size());
  std::string packed(packed_size, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &packed_size,
            reinterpret_cast<const Bytef*>(body.data()), body.size(), 9);
  packed.resize(packed_size);
  std::string out = "CWS\x0A";
  for (int i = 0; i < 4; ++i)
    out += static_cast<char>((body.size() >> (8 * i)) & 0xFF);
  out += packed;
  out.resize(std::min(out.size(), size));
  return out;
}

// Adds one entry the way a Unix zip tool would: Unix mode in the upper half
// of the external attributes, files deflated at level 6, folders stored.
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

// Writes the package's archive (the bare ZIP file) to path: everything under
// _flash/, the viewer movie _flash/qzviewer.swf, _flash/autorun.inf naming a
// launcher page that opens the tour page with the pop-up call, pages at the
// top, the sounds and movies, and a folder per scene.
inline bool WriteTourArchive(const std::string& path, const TourShape& shape,
                             const JpegPool& pool) {
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  Rng rng(0x70757254u);
  const std::string top = "_flash/";
  auto jpeg = [&](const std::vector<std::string>& images,
                  const std::string& name) {
    return WithComment(images[rng.Below(images.size())], name);
  };
  bool ok = AddZipEntry(zip, top, "", true);
  ok = ok && AddZipEntry(zip, top + "qzviewer.swf", SwfLike(600000, pool, &rng),
                         false);
  ok = ok && AddZipEntry(zip, top + "autorun.inf",
                         std::string("[autorun] \r\r\nshellexecute=") +
                             kLauncherPage + "\r\r\n",
                         false);
  const std::string launcher =
      "<html><body>\r\n" + TextLike(3000, &rng) +
      "\r\n<a href=\"javascript:window.open('Tour%20page.html','_blank',"
      "'status=yes,resizable=yes,top=0,left=0,width=" +
      std::to_string(kTourWidth) + ",height=" + std::to_string(kTourHeight) +
      "')\">Start the tour</a>\r\n</body></html>\r\n";
  ok = ok && AddZipEntry(zip, top + kLauncherPage, launcher, false);
  ok = ok && AddZipEntry(zip, top + kTourPage,
                         "<html><head><title>Tour</title></head><body>" +
                             TextLike(20000, &rng) + "</body></html>\n",
                         false);
  static const char* const kPageKinds[] = {".html", ".js", ".css", ".xml"};
  for (int page = 0; page < shape.pages && ok; ++page) {
    ok = AddZipEntry(zip,
                     top + "page" + std::to_string(page) + kPageKinds[page % 4],
                     TextLike(2000 + rng.Below(60000), &rng), false);
  }
  if (ok && (shape.sounds > 0 || shape.movies > 0 || shape.panoramas > 0))
    ok = AddZipEntry(zip, top + "media/", "", true);
  for (int i = 0; i < shape.sounds && ok; ++i) {
    ok = AddZipEntry(
        zip, top + "media/sound" + std::to_string(i) + ".mp3",
        Mp3Like(shape.sound_size / 2 + rng.Below(shape.sound_size), &rng),
        false);
  }
  for (int i = 0; i < shape.movies && ok; ++i) {
    ok = AddZipEntry(
        zip, top + "media/movie" + std::to_string(i) + ".swf",
        SwfLike(shape.movie_size / 2 + rng.Below(shape.movie_size), pool, &rng),
        false);
  }
  for (int i = 0; i < shape.panoramas && ok; ++i) {
    const std::string name = top + "media/pano" + std::to_string(i) + ".jpg";
    ok = AddZipEntry(zip, name, jpeg(pool.panoramas, name), false);
  }
  for (int scene = 0; scene < shape.scenes && ok; ++scene) {
    const std::string folder = top + "scene" + std::to_string(scene) + "/";
    ok = AddZipEntry(zip, folder, "", true);
    for (int i = 0; i < shape.tiles && ok; ++i) {
      const std::string name = folder + "tile" + std::to_string(i) + ".jpg";
      ok = AddZipEntry(zip, name, jpeg(pool.tiles, name), false);
    }
    for (int i = 0; i < shape.thumbs && ok; ++i) {
      const std::string name = folder + "thumb" + std::to_string(i) + ".jpg";
      ok = AddZipEntry(zip, name, jpeg(pool.thumbs, name), false);
    }
    for (int i = 0; i < shape.texts && ok; ++i) {
      ok = AddZipEntry(
          zip,
          folder + "hotspot" + std::to_string(i) + (i % 2 ? ".js" : ".xml"),
          TextLike(300 + rng.Below(3000), &rng), false);
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
  std::string program(300000, '\0');  // the "program image"
  Rng rng(0x0123456789ABCDEFu);
  for (char& c : program) c = static_cast<char>(rng.Next());
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

// The archive of shape in work, written unless it is there already (the name
// carries the shape and the generator's version, so a kept file is the same
// package). Returns its path, or empty text on failure.
inline std::string EnsureTourArchive(const std::string& work,
                                     const TourShape& shape) {
  const std::string path = work + "/tour-" + shape.name + "-v3.zip";
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && st.st_size > 0) return path;
  // A child process writes it: the pictures and the writer's buffers would
  // otherwise raise this process's peak RSS, and every program it starts
  // afterwards reports that peak as its own (wait4's ru_maxrss carries the
  // parent's high-water mark over fork and exec), so the benchmarks' memory
  // figures would be this writer's.
  std::printf("writing %s ...\n", path.c_str());
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    JpegPool pool;
    const std::string partial = path + ".part";
    const bool ok = LoadJpegPool(work + "/jpeg-pool-v3", &pool) &&
                    WriteTourArchive(partial, shape, pool) &&
                    std::rename(partial.c_str(), path.c_str()) == 0;
    std::fflush(nullptr);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return "";
  }
  return path;
}

// Where the generated packages and their JPEG pool are kept between runs and
// between the benchmark programs: the names say what they hold.
inline std::string CorpusFolder() {
  const std::string folder = JoinPath(TempFolder(), "tour-corpus");
  MakeFolder(folder, 0700);
  return folder;
}

// The tour executable of shape in work (the archive behind program bytes),
// written unless it is there already; empty text on failure.
inline std::string EnsureTourExecutable(const std::string& work,
                                        const TourShape& shape) {
  const std::string archive = EnsureTourArchive(work, shape);
  if (archive.empty()) return "";
  const std::string exe = archive.substr(0, archive.size() - 4) + ".exe";
  struct stat st;
  if (stat(exe.c_str(), &st) == 0 && st.st_size > 0) return exe;
  const std::string partial = exe + ".part";
  if (!WritePackageExecutable(archive, partial)) return "";
  return std::rename(partial.c_str(), exe.c_str()) == 0 ? exe : "";
}

}  // namespace morva::bench

#endif  // MORVA_BENCH_TOUR_PACKAGE_H_
