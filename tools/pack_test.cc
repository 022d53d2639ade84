#include "tools/pack.h"

#include <cerrno>
#include <map>
#include <sstream>

#include "gtest/gtest.h"
#include "package/cleanup.h"
#include "package/paths.h"
#include "platform/files.h"
#include "platform/path.h"
#include "tests/faulty_files.h"
#include "tests/killed_player.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva::pack {
namespace {

using testing::AppendPackage;
using testing::ReadFile;
using testing::ScopedTempDir;
using testing::ZipEntryDef;
using testing::ZipWriter;
using Tree = std::vector<std::string>;

constexpr char kPlayerBytes[] = "#!/bin/sh\n# stands in for the player\n";

constexpr char kAutorun[] = "[autorun] \r\r\nshellexecute=Tour name.html\r\r\n";
constexpr char kLauncher[] =
    "<html><body><a href=\"#\" onclick=\"javascript:window.open("
    "'Tour%20page.html','_blank','status=yes,resizable=yes,top=0,"
    "left=0,width=1024,height=768')\">Start</a></body></html>\r\n";

struct Result {
  int code;
  std::string out;
  std::string err;
};

// The files of a small tour, as packages lay them out.
std::vector<std::pair<std::string, std::string>> TourFiles() {
  return {{"_flash/qzviewer.swf", "FWS"},
          {"_flash/autorun.inf", kAutorun},
          {"_flash/Tour name.html", kLauncher},
          {"_flash/Tour page.html", "<html>tour</html>"},
          {"_flash/scenes/s1.jpg", std::string(70000, 'j')}};
}

ZipWriter TourZip() {
  ZipWriter zip;
  zip.AddDir("_flash/");
  for (const auto& [name, data] : TourFiles()) zip.AddFile(name, data);
  return zip;
}

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override { player_ = tmp_.Write("player", kPlayerBytes); }

  Result Run(std::vector<std::string> args) {
    args.insert(args.begin(), "morva-pack");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code =
        RunMorvaPack(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
  }
  Result BuildFrom(const std::string& source, const std::string& output,
                   std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"build", source,     "-o",
                                     output,  "--player", player_};
    args.insert(args.end(), more.begin(), more.end());
    return Run(args);
  }

  // A tour folder "name" with TourFiles(); returns its path.
  std::string TourFolder(const std::string& name) {
    for (const auto& [file, data] : TourFiles())
      tmp_.Write(name + "/" + file, data);
    return tmp_.Join(name);
  }
  // A tour executable made by hand: the player's bytes, zip, its length.
  std::string HandMadeTour(const std::string& name, const ZipWriter& zip) {
    return tmp_.Write(name,
                      AppendPackage(kPlayerBytes, zip.Bytes(tmp_.path())));
  }

  // Nothing of the tool's own is left in the temporary folder.
  void ExpectOnly(const Tree& names) { EXPECT_EQ(tmp_.List(), names); }

  ScopedTempDir tmp_;
  std::string player_;
};

TEST_F(PackTest, FolderRoundTripBuildCheckListExtract) {
  const std::string src = TourFolder("src");
  const std::string tour = tmp_.Join("tour.run");
  Result r = BuildFrom(src, tour);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");

  // The player's bytes, the archive, its length.
  const std::string bytes = ReadFile(tour);
  const std::string player = kPlayerBytes;
  ASSERT_GT(bytes.size(), player.size() + 4);
  EXPECT_EQ(bytes.substr(0, player.size()), player);
  const std::string trailer = bytes.substr(bytes.size() - 4);
  EXPECT_EQ(trailer, testing::LittleEndian32(static_cast<uint32_t>(
                         bytes.size() - player.size() - 4)));
  EXPECT_EQ(bytes.substr(player.size(), 4), std::string("PK\x03\x04", 4));
#ifndef _WIN32
  // Windows runs a file by its name, and has no mode to give.
  struct stat st;
  ASSERT_EQ(stat(tour.c_str(), &st), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0777 & ~mask);
  EXPECT_NE(st.st_mode & 0100, 0u) << "executable";
#endif
  ExpectOnly({"player", "src", "tour.run"});

  r = Run({"check", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, tour +
                       ": plays intact\n"
                       "  title           Tour name  -  Morva\n"
                       "  tour page       _flash/Tour page.html\n"
                       "  window size     1024 x 768\n"
                       "  content folder  _flash (in the work folder)\n"
                       "  launcher page   _flash/Tour name.html\n"
                       "  archive         " +
                       std::to_string(bytes.size() - player.size() - 4) +
                       " bytes, 7 entries\n");
  ExpectOnly({"player", "src", "tour.run"});

  r = Run({"list", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<std::string> names;
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 51 && line[0] != '-' &&
        line.find("Name") == std::string::npos &&
        line.find("entries") == std::string::npos)
      names.push_back(line.substr(51));
  }
  EXPECT_EQ(names,
            (Tree{"_flash/", "_flash/Tour name.html", "_flash/Tour page.html",
                  "_flash/autorun.inf", "_flash/qzviewer.swf", "_flash/scenes/",
                  "_flash/scenes/s1.jpg"}));
  EXPECT_NE(r.out.find("     70000 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" d----  _flash/scenes/\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("7 entries\n"), std::string::npos) << r.out;

  const std::string out = tmp_.Join("out");
  r = Run({"extract", tour, out});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "unpacked " + tour + " into " + out +
                       "\n  content folder  _flash\n");
  EXPECT_EQ(ListTree(out), ListTree(src));
  for (const auto& [file, data] : TourFiles()) {
    EXPECT_EQ(ReadFile(out + "/" + file), data) << file;
  }
  ExpectOnly({"out", "player", "src", "tour.run"});
}

TEST_F(PackTest, ZipRoundTripKeepsTheArchiveAsItIs) {
  const std::string zip_path = tmp_.Join("tour.zip");
  TourZip().Write(zip_path);
  const std::string tour = tmp_.Join("tour.run");
  Result r = BuildFrom(zip_path, tour);
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string zip = ReadFile(zip_path);
  EXPECT_EQ(ReadFile(tour), AppendPackage(kPlayerBytes, zip));

  EXPECT_EQ(Run({"check", tour}).code, 0);
  r = Run({"list", tour});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("  _flash/scenes/s1.jpg\n"), std::string::npos) << r.out;
  const std::string out = tmp_.Join("out");
  r = Run({"extract", tour, out + "/"});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ListTree(out),
            (Tree{"_flash/", "_flash/Tour name.html", "_flash/Tour page.html",
                  "_flash/autorun.inf", "_flash/qzviewer.swf", "_flash/scenes/",
                  "_flash/scenes/s1.jpg"}));
  EXPECT_EQ(ReadFile(out + "/_flash/autorun.inf"), kAutorun);
}

TEST_F(PackTest, BuildFromATourTakesOnlyItsArchive) {
  const std::string zip_path = tmp_.Join("tour.zip");
  TourZip().Write(zip_path);
  const std::string zip = ReadFile(zip_path);
  // One of ours, and one made for Windows: another program in front, the
  // archive, its length.
  const std::string ours = tmp_.Join("ours.run");
  ASSERT_EQ(BuildFrom(zip_path, ours).code, 0);
  const std::string windows = tmp_.Write(
      "Tour.exe", AppendPackage("MZ\x90\0" + std::string(5000, 'w'), zip));
  for (const std::string& source : {ours, windows}) {
    SCOPED_TRACE(source);
    const std::string again = tmp_.Join("again.run");
    Result r = BuildFrom(source, again);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err,
              "morva-pack: note: " + source + " carries a package; only its " +
                  std::to_string(zip.size()) + "-byte archive is packed\n");
    EXPECT_EQ(ReadFile(again), AppendPackage(kPlayerBytes, zip));
  }

  // A ZIP archive whose comment ends in bytes that would read as a length
  // is still a ZIP archive, taken whole.
  std::string commented = zip;
  const std::string comment = "see the tour" + testing::LittleEndian32(40);
  commented[commented.size() - 2] = static_cast<char>(comment.size());
  commented += comment;
  const std::string commented_path = tmp_.Write("commented.zip", commented);
  Result r = BuildFrom(commented_path, tmp_.Join("c.run"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(tmp_.Join("c.run")),
            AppendPackage(kPlayerBytes, commented));
}

TEST_F(PackTest, EncryptedEntriesAreNamedAndStopTheUnpackThere) {
  ZipEntryDef secret;
  secret.name = "_flash/scenes/secret.jpg";
  secret.data = "a scene under a password";
  secret.password = "tour";
  ZipEntryDef later = secret;
  later.name = "_flash/scenes/later.jpg";
  ZipWriter zip;
  zip.AddFile("_flash/qzviewer.swf", "FWS")
      .Add(secret)
      .AddFile("_flash/after.txt", "x")
      .Add(later);
  const std::string tour = HandMadeTour("secret.run", zip);
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "morva-pack: " + tour +
                ": unpacking: entry \"_flash/scenes/secret.jpg\" is "
                "encrypted, and the player does not decrypt; the player stops "
                "there\n"
                "morva-pack: " +
                tour +
                ": data: entry \"_flash/scenes/later.jpg\" is encrypted, and "
                "the player does not decrypt\n");

  const std::string out = tmp_.Join("out");
  r = Run({"extract", tour, out});
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("entry \"_flash/scenes/secret.jpg\" is encrypted"),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(testing::Exists(out)) << "the folder it made is gone again";
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  EXPECT_EQ(Run({"extract", tour, out}).code, 1);
  EXPECT_EQ(ListTree(out),
            (Tree{"_flash/", "_flash/qzviewer.swf", "_flash/scenes/"}))
      << "nothing of the entry or after it";
  ExpectOnly({"out", "player", "secret.run"});
}

TEST_F(PackTest, NamesInAWindowsCodePageShowAsTheTitleDoes) {
  // The launcher "Caf\xe9" in Windows-1252, the tour page in CP437 bytes.
  const std::string tour = HandMadeTour(
      "cafe.run",
      ZipWriter()
          .AddFile("_flash/qzviewer.swf", "FWS")
          .AddFile("_flash/autorun.inf",
                   "[autorun]\r\nshellexecute=Caf\xE9.html")
          .AddFile("_flash/Caf\xE9.html",
                   "javascript:window.open('P\x82ge.html?scene=2','_blank',"
                   "'width=640,height=480')")
          .AddFile("_flash/P\x82ge.html", "<html></html>"));
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  title           Caf\xC3\xA9  -  Morva\n"
                       "  tour page       _flash/P\xE2\x80\x9Age.html?scene=2\n"
                       "  window size     640 x 480\n"),
            std::string::npos)
      << r.out;
  r = Run({"list", tour});
  EXPECT_NE(r.out.find("  _flash/Caf\xC3\xA9.html\n"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  _flash/P\xE2\x80\x9Age.html\n"), std::string::npos);
  r = Run({"extract", tour, tmp_.Join("out")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(testing::Exists(tmp_.Join("out/_flash/P\xE2\x80\x9Age.html")));

  // A page the web view cannot reach is never "plays intact": here the
  // temporary folder's own name is not UTF-8. Windows has no such name: it
  // reads any name in the code page and keeps it in UTF-16.
#ifndef _WIN32
  const std::string odd_tmp = tmp_.Join("tmp\xE9");
  ASSERT_EQ(mkdir(odd_tmp.c_str(), 0700), 0);
  const char* old_tmpdir = getenv("TMPDIR");
  const std::string saved = old_tmpdir ? old_tmpdir : "";
  setenv("TMPDIR", odd_tmp.c_str(), 1);
  r = Run({"check", tour});
  setenv("TMPDIR", saved.c_str(), 1);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            tour + ": plays, but not intact");
  EXPECT_NE(r.err.find("start page: the web view cannot load the tour page "
                       "\"_flash/P\xE2\x80\x9Age.html?scene=2\": its path \""),
            std::string::npos)
      << r.err;
#endif
}

TEST_F(PackTest, ReadOnlyFilesAndFileTimesSurviveBuildAndExtract) {
  const std::string src = TourFolder("src");
  tmp_.Write("src/_flash/notes.txt", "read only");
  const std::string ro = tmp_.Join("src/_flash/notes.txt");
  const std::string page = tmp_.Join("src/_flash/Tour page.html");
  ASSERT_TRUE(testing::SetFileTimes(ro, 1600000000, 1500000001));
  ASSERT_TRUE(testing::SetFileTimes(page, 1600000000, 1234567891));
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);

  const std::string tour = tmp_.Join("tour.run");
  ASSERT_EQ(BuildFrom(src, tour).code, 0);
  Result r = Run({"list", tour});
  EXPECT_NE(r.out.find("2017-07-14 02:40:01  -r---  _flash/notes.txt\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("2009-02-13 23:31:31  -----  _flash/Tour page.html\n"),
            std::string::npos)
      << r.out;

  const std::string out = tmp_.Join("out");
  ASSERT_EQ(Run({"extract", tour, out}).code, 0);
  FileInfo st = testing::InfoOf(out + "/_flash/notes.txt");
  EXPECT_EQ(st.permissions & 0222, 0u) << "still read-only";
  EXPECT_EQ(testing::UnixSeconds(st.write_time), 1500000001);
  // The access time comes from the DOS date-time: even seconds.
  EXPECT_EQ(testing::UnixSeconds(st.access_time), 1500000000);
  st = testing::InfoOf(out + "/_flash/Tour page.html");
  EXPECT_NE(st.permissions & 0200, 0u) << "writable stays writable";
  EXPECT_EQ(testing::UnixSeconds(st.write_time), 1234567891);
}

// A package that fails at one step of the launch, and what check says.
struct FailCase {
  const char* what;
  std::string tour_bytes;
  std::string verdict;  // the first line of the report, after "TOUR: "
  std::string problem;  // the complaint, after "morva-pack: TOUR: "
};

ZipWriter TourWithout(const std::string& skip) {
  ZipWriter zip;
  for (const auto& [name, data] : TourFiles()) {
    if (name != skip) zip.AddFile(name, data);
  }
  return zip;
}

ZipWriter TourWith(const std::string& name, const std::string& data) {
  ZipWriter zip;
  for (const auto& [file, content] : TourFiles()) {
    zip.AddFile(file, file == name ? data : content);
  }
  return zip;
}

TEST_F(PackTest, CheckNamesTheStepThatWouldLeaveTheWindowEmpty) {
  const std::string scratch = tmp_.path();
  const std::string empty = "the player's window would stay empty";
  ZipEntryDef method12;
  method12.name = "_flash/strange.bin";
  method12.data = "xxxx";
  method12.method = 12;
  method12.raw = true;
  method12.raw_uncompressed_size = 4;
  ZipEntryDef short_data;
  short_data.name = "_flash/short.bin";
  short_data.data = "only ten b";
  short_data.method = 0;
  short_data.raw = true;
  short_data.raw_uncompressed_size = 100;

  FailCase cases[] = {
      {"no package appended", std::string(kPlayerBytes) + "\x01\x02\x03\x7f",
       empty,
       "copying the archive out: no package appended, or a trailer that names "
       "no region (TOUR: the trailer names 2130903553 archive bytes, but "
       "only " +
           std::to_string(sizeof kPlayerBytes - 1) + " bytes precede it)"},
      {"not a zip archive",
       AppendPackage(kPlayerBytes, "these are no zip bytes"), empty,
       "unpacking: the 22 bytes that the trailer names are not a ZIP archive "
       "(was a package appended?)"},
      {"unsafe entry name",
       AppendPackage(kPlayerBytes,
                     TourZip().AddFile("../outside.txt", "x").Bytes(scratch)),
       empty,
       "unpacking: entry \"../outside.txt\" would land outside the work folder "
       "(an absolute name, a drive letter or a \"..\" component, or on "
       "Windows a device or stream name); the player stops there"},
      {"a method the reader lacks, named",
       AppendPackage(kPlayerBytes, TourZip().Add(method12).Bytes(scratch)),
       empty,
       "unpacking: entry \"_flash/strange.bin\" is compressed with bzip2 "
       "(method 12), which the player does not read (only stored and "
       "deflated); the player stops there"},
      {"entry that cannot be written",
       AppendPackage(kPlayerBytes, TourZip().Add(short_data).Bytes(scratch)),
       empty,
       "unpacking: entry \"_flash/short.bin\" cannot be written: its data "
       "cannot be read or inflated, is shorter than its record says, or cannot "
       "be written (0x400)\n"
       // Reading the data back finds why.
       "morva-pack: TOUR: data: entry \"_flash/short.bin\" holds 10 bytes of "
       "data, its record says 100"},
      {"no autorun.inf",
       AppendPackage(kPlayerBytes,
                     TourWithout("_flash/autorun.inf").Bytes(scratch)),
       empty, "start page: no autorun.inf in the content folder _flash"},
      {"no viewer movie, so no autorun.inf at the top",
       AppendPackage(kPlayerBytes,
                     TourWithout("_flash/qzviewer.swf").Bytes(scratch)),
       empty,
       "start page: no autorun.inf at the top of the package (the package "
       "holds no qzviewer.swf, so the content folder is the top of the "
       "package)"},
      {"no shellexecute value",
       AppendPackage(kPlayerBytes, TourWith("_flash/autorun.inf",
                                            "[autorun]\r\nopen=x.exe\r\n")
                                       .Bytes(scratch)),
       empty,
       "start page: autorun.inf in the content folder _flash has no "
       "shellexecute value in an [autorun] section"},
      {"value without a dot",
       AppendPackage(kPlayerBytes, TourWith("_flash/autorun.inf",
                                            "[autorun]\nshellexecute=index\n")
                                       .Bytes(scratch)),
       empty,
       "start page: the shellexecute value \"index\" in autorun.inf has no "
       "\".\""},
      {"launcher page missing",
       AppendPackage(kPlayerBytes,
                     TourWithout("_flash/Tour name.html").Bytes(scratch)),
       empty,
       "start page: the launcher page \"_flash/Tour name.html\" that "
       "autorun.inf names is missing or unreadable"},
      {"no pop-up call",
       AppendPackage(kPlayerBytes,
                     TourWith("_flash/Tour name.html",
                              "<a href='Tour page.html' target=_blank>go</a>")
                         .Bytes(scratch)),
       empty,
       "start page: the launcher page \"_flash/Tour name.html\" holds no "
       "pop-up call like "
       "javascript:window.open('PAGE','NAME','...,width=W,height=H')"},
      {"a size beyond int32",
       AppendPackage(kPlayerBytes,
                     TourWith("_flash/Tour name.html",
                              "javascript:window.open('Tour%20page.html','w',"
                              "'width=99999999999,height=768')")
                         .Bytes(scratch)),
       empty,
       "start page: the pop-up call in the launcher page \"_flash/Tour "
       "name.html\" asks for a width or height beyond 2147483647, the largest "
       "the player takes"},
      {"tour page outside the work folder",
       AppendPackage(kPlayerBytes,
                     TourWith("_flash/Tour name.html",
                              "javascript:window.open('../../../tmp/x/"
                              "outside.html','w','left=0,width=8,height=6'")
                         .Bytes(scratch)),
       empty,
       "start page: the tour page \"_flash/../../../tmp/x/outside.html\" that "
       "the launcher opens lies outside the work folder; the player shows "
       "nothing"},
      {"launcher page outside the work folder",
       AppendPackage(kPlayerBytes,
                     TourWith("_flash/autorun.inf",
                              "[autorun]\nshellexecute=../../etc/x.html\n")
                         .Bytes(scratch)),
       empty,
       "start page: the launcher page \"_flash/../../etc/x.html\" that "
       "autorun.inf names lies outside the work folder; the player does not "
       "read it"},
      {"tour page missing",
       AppendPackage(kPlayerBytes,
                     TourWithout("_flash/Tour page.html").Bytes(scratch)),
       "plays, but not intact",
       "start page: the tour page \"_flash/Tour page.html\" that the launcher "
       "opens is not in the package"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string tour = tmp_.Write("bad.run", c.tour_bytes);
    Result r = Run({"check", tour});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), tour + ": " + c.verdict);
    std::string problem = c.problem;
    for (size_t at = problem.find("TOUR"); at != std::string::npos;
         at = problem.find("TOUR", at + tour.size())) {
      problem.replace(at, 4, tour);
    }
    EXPECT_EQ(r.err, "morva-pack: " + tour + ": " + problem + "\n");
    ExpectOnly({"bad.run", "player"});
  }
}

TEST_F(PackTest, CheckNotesAWindowLargerThanAScreen) {
  std::string launcher = kLauncher;
  launcher.replace(launcher.find("width=1024,height=768"), 21,
                   "width=100000,height=100000");
  const std::string tour =
      HandMadeTour("big.run", TourWith("_flash/Tour name.html", launcher));
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("\n  window size     100000 x 100000\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\n  note            the tour asks for a 100000 x "
                       "100000 window, larger than a 3840 x 2160 screen; the "
                       "player limits the window to the screen's work area\n"),
            std::string::npos)
      << r.out;
  // An ordinary size gets no such note.
  r = Run({"check", HandMadeTour("ok.run", TourZip())});
  EXPECT_EQ(r.out.find("screen"), std::string::npos) << r.out;
}

// Two central records on one local header: the second record's local
// header offset is set to the first's.
uint32_t ReadLe32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;)
    value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::string OverlappingTour(const std::string& scratch) {
  std::string zip = TourZip()
                        .AddFile("_flash/a0", "same")
                        .AddFile("_flash/a1", "same")
                        .Bytes(scratch);
  const std::string central("PK\x01\x02", 4);
  size_t first = std::string::npos, second = std::string::npos;
  for (size_t at = zip.find(central); at != std::string::npos;
       at = zip.find(central, at + 1)) {
    const std::string name = zip.substr(at + 46, 9);
    if (name == "_flash/a0") first = at;
    if (name == "_flash/a1") second = at;
  }
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(second, std::string::npos);
  zip.replace(second + 42, 4, zip.substr(first + 42, 4));
  return AppendPackage(kPlayerBytes, zip);
}

TEST_F(PackTest, CheckNamesPackagesThePlayerRefusesWhole) {
  std::string tour = tmp_.Write("bad.run", OverlappingTour(tmp_.path()));
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            tour + ": the player's window would stay empty");
  EXPECT_EQ(r.err.substr(0, r.err.find('\n')),
            "morva-pack: " + tour +
                ": unpacking: entry \"_flash/a1\" shares its data with "
                "another entry, as crafted archives do; the player unpacks "
                "nothing");

  tour = HandMadeTour("big.run", TourZip());
  testing::FaultyFiles small_disk(Files());
  small_disk.SetFreeSpace(1000);
  ScopedFileSystem scope(&small_disk);
  r = Run({"check", tour});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + tour +
                       ": unpacking: the entries declare more bytes than the "
                       "disk has free; the player unpacks nothing\n");
  ExpectOnly({"bad.run", "big.run", "player"});
}

TEST_F(PackTest, Zip64RecordsPlayAndTheLimitsAreNamed) {
  // Streaming writers keep sizes and offsets in ZIP64 blocks of the central
  // records, however small the entries.
  ZipWriter zip = TourZip();
  ZipEntryDef streamed;
  streamed.name = "_flash/scenes/s2.jpg";
  streamed.data = std::string(5000, 's');
  streamed.central_zip64 = testing::kZip64Sizes | testing::kZip64Offset;
  zip.Add(streamed);
  std::string tour = HandMadeTour("zip64.run", zip);
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), tour + ": plays intact");

  // One that declares 4 GiB or more stops the unpack, and says so.
  std::string bytes = zip.Bytes(tmp_.path());
  const size_t block = bytes.rfind(std::string("\x01\x00\x18\x00", 4));
  ASSERT_NE(block, std::string::npos);
  bytes[block + 4 + 4] = 1;  // the uncompressed size's high half
  tour = tmp_.Write("big.run", AppendPackage(kPlayerBytes, bytes));
  // check and list both fail with the line each prints after the tour.
  auto expect_named = [this](const std::string& tour, const std::string& check,
                             const std::string& list) {
    Result r = Run({"check", tour});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "morva-pack: " + tour + ": " + check + "\n");
    r = Run({"list", tour});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "morva-pack: " + tour + ": " + list + "\n");
  };
  const std::string reason =
      "its size is 4 GiB or more (a ZIP64 entry); the player unpacks entries "
      "below 4 GiB only (0x700)";
  expect_named(tour,
               "unpacking: the record of entry #6 cannot be read: " + reason,
               "entry #6: " + reason);

  // More entries than the player reads: a ZIP64 end record that counts
  // 65536 (the records themselves are not read).
  bytes = ZipWriter().AddFile("one", "1").Bytes(tmp_.path());
  const std::string end = bytes.substr(bytes.size() - 22);
  bytes.resize(bytes.size() - 22);
  auto le64 = [](uint64_t v) {
    return testing::LittleEndian32(static_cast<uint32_t>(v)) +
           testing::LittleEndian32(static_cast<uint32_t>(v >> 32));
  };
  const uint64_t zip64_end = bytes.size();
  // The central directory's size and offset, from the old end record.
  const std::string directory =
      le64(ReadLe32(end, 12)) + le64(ReadLe32(end, 16));
  bytes += std::string("PK\x06\x06", 4) + le64(44) +
           std::string("\x2d\x00\x2d\x00", 4) + std::string(8, '\0') +
           le64(65536) + le64(65536) + directory;
  bytes += std::string("PK\x06\x07", 4) + std::string(4, '\0') +
           le64(zip64_end) + testing::LittleEndian32(1);
  bytes += std::string("PK\x05\x06", 4) + std::string(4, '\0') +
           std::string(12, '\xff') + std::string(2, '\0');
  tour = tmp_.Write("many.run", AppendPackage(kPlayerBytes, bytes));
  const std::string count =
      "the archive holds 65536 entries (a ZIP64 archive); the player reads "
      "65535 at most";
  expect_named(tour, "unpacking: " + count, count);
  ExpectOnly({"big.run", "many.run", "player", "zip64.run"});
}

TEST_F(PackTest, CheckReadsBackEveryEntrysData) {
  ZipEntryDef wrong_crc;
  wrong_crc.name = "_flash/scenes/s2.jpg";
  wrong_crc.data = "picture";
  wrong_crc.method = 0;
  wrong_crc.raw = true;
  wrong_crc.raw_uncompressed_size = 7;
  wrong_crc.raw_crc = 0xDEADBEEF;
  const std::string tour = HandMadeTour("crc.run", TourZip().Add(wrong_crc));
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            tour + ": plays, but not intact");
  EXPECT_NE(r.out.find("  window size     1024 x 768\n"), std::string::npos);
  EXPECT_EQ(r.err, "morva-pack: " + tour +
                       ": data: entry \"_flash/scenes/s2.jpg\": its data has "
                       "the CRC-32 16db4f89, its record says deadbeef\n");
}

TEST_F(PackTest, CheckNotesWhatKilledPlayersLeftWithoutTouchingIt) {
  const std::string tour = HandMadeTour("tour.run", TourZip());
  Result r = Run({"check", tour});
  EXPECT_EQ(r.out.find("note"), std::string::npos) << r.out;
  ASSERT_TRUE(testing::LaunchAndKill(tour));
  const Tree before = ListTree(tmp_.path());
  r = Run({"check", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  const size_t note = r.out.find("  note            2 stale player folders (");
  ASSERT_NE(note, std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" kB) in " + tmp_.path() +
                           ", left by 1 player that did not end normally; "
                           "the next player start removes them\n",
                       note),
            std::string::npos)
      << r.out;
  EXPECT_EQ(ListTree(tmp_.path()), before);
}

TEST_F(PackTest, BuildRefusesATourThatWouldPlayEmptyAndWritesNothing) {
  const std::string src = TourFolder("src");
  ASSERT_EQ(unlink(tmp_.Join("src/_flash/autorun.inf").c_str()), 0);
  const std::string tour = tmp_.Join("tour.run");
  Result r = BuildFrom(src, tour);
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            tour + ": the player's window would stay empty");
  EXPECT_EQ(r.err,
            "morva-pack: " + tour +
                ": start page: no autorun.inf in the content folder _flash\n"
                "morva-pack: " +
                tour +
                ": not written: the tour would not play intact (--force "
                "writes it anyway)\n"
                "morva-pack: " +
                src +
                ": has no autorun.inf; for a web export, name its start "
                "page and morva-pack writes the rest: --page index.html\n");
  ExpectOnly({"player", "src"});

  // An older tour of that name stays as it was.
  testing::WriteFile(tour, "older tour");
  EXPECT_EQ(BuildFrom(src, tour).code, 1);
  EXPECT_EQ(ReadFile(tour), "older tour");
  ExpectOnly({"player", "src", "tour.run"});

  r = BuildFrom(src, tour, {"--force"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.err.find(": written with --force; it will not play intact\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFile(tour).substr(0, 9), "#!/bin/sh");
  EXPECT_EQ(Run({"check", tour}).code, 1);
}

TEST_F(PackTest, BuildOnAFullDiskLeavesNoPartTourAndTheOlderOneAsItWas) {
  const std::string zip = tmp_.Join("src.zip");
  TourZip().Write(zip);
  const uint64_t player = sizeof kPlayerBytes - 1;
  const uint64_t archive = ReadFile(zip).size();
  const std::string tour = tmp_.Join("tour.run");
  // The disk fills up in the player's bytes, in the archive, and just
  // before the trailer.
  for (const bool older : {false, true}) {
    if (older) testing::WriteFile(tour, "older tour");
    for (const uint64_t room : {uint64_t{0}, player + 100, player + archive}) {
      SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
      testing::FaultyFiles full;
      full.FillAfter(room);
      Result r;
      {
        ScopedFileSystem scope(&full);
        r = BuildFrom(zip, tour);
      }
      EXPECT_EQ(r.code, 1);
      EXPECT_GT(full.failed_writes(), 0);
      const std::string start = "morva-pack: write(" + tmp_.Join(".tour.run.");
      const std::string end = "): No space left on device\n";
      EXPECT_EQ(r.err.rfind(start, 0), 0u) << r.err;
      EXPECT_TRUE(r.err.ends_with(end)) << r.err;
      if (older) {
        EXPECT_EQ(ReadFile(tour), "older tour");
        ExpectOnly({"player", "src.zip", "tour.run"});
      } else {
        ExpectOnly({"player", "src.zip"});
      }
    }
  }
}

TEST_F(PackTest, BuildRefusesLinksAndAnOutputInsideTheSource) {
  const std::string src = TourFolder("src");
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink("/etc/hostname", tmp_.Join("src/_flash/host").c_str()),
              0);
    Result r = BuildFrom(src, tmp_.Join("tour.run"));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "morva-pack: " + src +
                         "/_flash/host: a symbolic link; packages hold no "
                         "links, so put the file or folder itself there\n");
    ASSERT_EQ(unlink(tmp_.Join("src/_flash/host").c_str()), 0);
  }

  Result r = BuildFrom(src, src + "/_flash/tour.run");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "morva-pack: " + src +
                "/_flash/tour.run: lies inside the tour folder " + src +
                ", so the next build would pack it; write it elsewhere\n");
  ExpectOnly({"player", "src"});
  EXPECT_EQ(ListTree(src), ListTree(TourFolder("again")));
}

TEST_F(PackTest, ExtractRefusesUnsafeNamesLikeThePlayer) {
  for (const char* name :
       {"../escape.txt", "_flash/../../escape.txt", "/tmp/absolute.txt",
        "C:escape.txt", "_flash\\..\\..\\escape.txt"}) {
    SCOPED_TRACE(name);
    const std::string tour =
        HandMadeTour("bad.run", ZipWriter()
                                    .AddFile("_flash/first.txt", "x")
                                    .AddFile(name, "x")
                                    .AddFile("_flash/last.txt", "x"));
    // The folders the failed run made go again.
    Result r = Run({"extract", tour, tmp_.Join("deep/out")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "morva-pack: " + tour + ": unpacking: entry \"" +
                         std::string(name) +
                         "\" would land outside the work folder (an absolute "
                         "name, a drive letter or a \"..\" component, or on "
                         "Windows a device or stream name); the player stops "
                         "there\n");
    EXPECT_FALSE(testing::Exists(tmp_.Join("deep")));
    // A folder that was there stays, unpacked up to the unsafe entry, as the
    // player would, and no further.
    const std::string out = tmp_.Join("deep/out");
    ASSERT_EQ(CreateDirPath(out), 1);
    EXPECT_EQ(Run({"extract", tour, out}).code, 1);
    EXPECT_EQ(ListTree(out), (Tree{"_flash/", "_flash/first.txt"}));
    EXPECT_FALSE(testing::Exists(tmp_.Join("escape.txt")));
    EXPECT_FALSE(testing::Exists(tmp_.Join("deep/escape.txt")));
    EXPECT_FALSE(testing::Exists("/tmp/absolute.txt"));
    RemoveTree(tmp_.Join("deep"));
  }
}

TEST_F(PackTest, ExtractRefusesAFolderThatIsNotEmptyUnlessForced) {
  const std::string tour = HandMadeTour("tour.run", TourZip());
  const std::string out = tmp_.Join("out");
  tmp_.Write("out/_flash/autorun.inf", "mine");
  Result r = Run({"extract", tour, out});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + out +
                       ": not empty; --force unpacks into it anyway, replacing "
                       "files of the same names\n");
  EXPECT_EQ(ReadFile(out + "/_flash/autorun.inf"), "mine");

  r = Run({"extract", "--force", tour, out});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(out + "/_flash/autorun.inf"), kAutorun);

  // Never through a link, not even with --force.
  if (kCanPlantLinks) {
    ASSERT_EQ(mkdir(tmp_.Join("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(unlink((out + "/_flash/autorun.inf").c_str()), 0);
    RemoveTree(out + "/_flash/scenes");
    ASSERT_EQ(symlink(tmp_.Join("elsewhere").c_str(),
                      (out + "/_flash/scenes").c_str()),
              0);
    r = Run({"extract", "--force", tour, out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "morva-pack: " + out +
                         "/_flash/scenes: a symbolic link; extract writes into "
                         "no folder that holds one\n");
    EXPECT_EQ(ListTree(tmp_.Join("elsewhere")), Tree{});
    EXPECT_FALSE(testing::Exists(out + "/_flash/autorun.inf"));
  }

  r = Run({"extract", tour, tmp_.Join("tour.run")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + tmp_.Join("tour.run") + ": not a folder\n");
}

// Refuses to open one path, whoever asks (root included).
class DenyingFiles : public FileSystemWrapper {
 public:
  explicit DenyingFiles(std::string path)
      : FileSystemWrapper(Files()), path_(std::move(path)) {}
  FileHandle OpenAt(FileHandle dir_fd, const std::string& path, uint32_t flags,
                    uint32_t mode) override {
    if (path == path_) {
      errno = EACCES;
      return -1;
    }
    return FileSystemWrapper::OpenAt(dir_fd, path, flags, mode);
  }

 private:
  std::string path_;
};

// The files below a folder with their bytes, to see that a build left it
// as it was.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const std::string& name : ListTree(folder)) {
    files[name] = name.back() == '/' ? "" : ReadFile(folder + "/" + name);
  }
  return files;
}

TEST_F(PackTest, AWebExportBuildsWithConventionsMadeForItsPage) {
  tmp_.Write("export/index.html",
             "<!DOCTYPE html><html><head><TITLE lang=en>\n  Harbour &amp; "
             "Hills\n</TITLE></head><body><img src=\"pano.png\"></body>"
             "</html>");
  tmp_.Write("export/pano.png", std::string(5000, 'p'));
  tmp_.Write("export/data/scene.json", "{}");
  const std::string src = tmp_.Join("export");
  const auto before = Snapshot(src);
  const std::string tour = tmp_.Join("tour.run");
  Result r =
      BuildFrom(src, tour, {"--page", "index.html", "--size", "800x600"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const std::string& line : std::vector<std::string>{
           ": plays intact\n", "  title           Harbour & Hills  -  Morva\n",
           "  tour page       index.html\n", "  window size     800 x 600\n",
           "  launcher page   Harbour & Hills.html\n",
           "  added           autorun.inf, Harbour & Hills.html (in the "
           "archive; " +
               src + " is as it was)\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;
  }
  EXPECT_EQ(r.out.find("note"), std::string::npos) << r.out;
  EXPECT_EQ(Snapshot(src), before);
  ExpectOnly({"export", "player", "tour.run"});

  // What the archive holds: the folder and the two files, in the form
  // packages carry them.
  const std::string out = tmp_.Join("out");
  ASSERT_EQ(Run({"extract", tour, out}).code, 0);
  Tree expected = ListTree(src);
  expected.insert(expected.begin(), "Harbour & Hills.html");
  expected.insert(expected.begin() + 1, "autorun.inf");
  EXPECT_EQ(ListTree(out), expected);
  EXPECT_EQ(ReadFile(out + "/autorun.inf"),
            "[autorun] \r\r\nshellexecute=Harbour & Hills.html");
  const std::string launcher = ReadFile(out + "/Harbour & Hills.html");
  EXPECT_NE(launcher.find("<title>Harbour &amp; Hills</title>"),
            std::string::npos)
      << launcher;
  EXPECT_NE(launcher.find("javascript:window.open('index.html','_blank',"
                          "'status=yes,resizable=yes,top=0,left=0,"
                          "width=800,height=600')"),
            std::string::npos)
      << launcher;

  // The same folder and request give the same tour, byte for byte, and
  // init writes the same two files into the folder.
  ASSERT_EQ(BuildFrom(src, tmp_.Join("again.run"),
                      {"--page", "index.html", "--size", "800x600"})
                .code,
            0);
  EXPECT_EQ(ReadFile(tmp_.Join("again.run")), ReadFile(tour));
  r = Run({"init", src, "--page", "index.html", "--size", "800x600"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(src + "/autorun.inf"), ReadFile(out + "/autorun.inf"));
  EXPECT_EQ(ReadFile(src + "/Harbour & Hills.html"), launcher);
  // Now the folder has them: it builds as it is, and --page says why not.
  EXPECT_EQ(BuildFrom(src, tmp_.Join("kept.run")).code, 0);
  r = BuildFrom(src, tmp_.Join("x.run"), {"--page", "index.html"});
  EXPECT_EQ(r.code, 2);
  EXPECT_EQ(r.err, "morva-pack: " + src +
                       ": has its own autorun.inf, whose launcher names the "
                       "page and the window size; --page, --size and "
                       "--title are for a folder without one\n");

  // Without <title>: the folder's name, and the default size.
  tmp_.Write("Old Town/start.htm", "<p>no title</p>");
  r = BuildFrom(tmp_.Join("Old Town"), tmp_.Join("old.run"),
                {"--page", "start.htm"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  title           Old Town  -  Morva\n"
                       "  tour page       start.htm\n"
                       "  window size     1024 x 768\n"),
            std::string::npos)
      << r.out;
}

TEST_F(PackTest, PageNamesTheCallCarriesAndThoseItCannot) {
  // Blanks, "%", letters beyond ASCII, a folder, a fragment; a name in a
  // Windows code page; a page beside a content folder made by a viewer
  // movie elsewhere.
  struct Plays {
    std::string file, page, shown;
  } plays[] = {
      {"Vue à 100% été.html", "Vue à 100% été.html", "Vue à 100% été.html"},
      {"sub dir/Tour%.html", "./sub dir/Tour%.html#scene=2",
       "sub dir/Tour%.html#scene=2"},
      {"caf\xe9.html", "caf\xe9.html", "café.html"},
  };
  for (const Plays& c : plays) {
    SCOPED_TRACE(c.file);
    tmp_.Write("src/" + c.file, "<title>Names</title>");
    Result r =
        BuildFrom(tmp_.Join("src"), tmp_.Join("t.run"), {"--page", c.page});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find(": plays intact\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  tour page       " + c.shown + "\n"),
              std::string::npos)
        << r.out;
    ASSERT_TRUE(RemoveTree(tmp_.Join("src")));
  }
  tmp_.Write("movie/_flash/qzviewer.swf", "FWS");
  tmp_.Write("movie/index.html", "<title>Movie</title>");
  Result r = BuildFrom(tmp_.Join("movie"), tmp_.Join("t.run"),
                       {"--page", tmp_.Join("movie/index.html")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  tour page       _flash/../index.html\n"
                       "  window size     1024 x 768\n"
                       "  content folder  _flash (in the work folder)\n"
                       "  launcher page   _flash/Movie.html\n"),
            std::string::npos)
      << r.out;

  // What the call cannot name is refused, and nothing is written.
  struct Refused {
    std::string file, page, reason;
  } refused[] = {
      {"l'été.html", "l'été.html",
       "the launcher's pop-up call cannot name the page \"l'été.html\": it "
       "holds an apostrophe ('), which ends the name in the call; rename "
       "the file"},
      {"a%20b.html", "a%20b.html",
       "holds \"%20\", which the player reads as a blank"},
#ifndef _WIN32  // no Windows file name holds a "<"
      {"x<y.html", "x<y.html", "could end the launcher's script"},
#endif
      {"page.html", "page.html?who='me'", "holds an apostrophe"},
      {"page.html", "missing.html", "the page \"missing.html\" is not in "},
      {"page.html", "../src/page.html", "leads out of"},
      {"page.html", tmp_.Join("page.html"), "lies outside"},
      {"sub/page.html", "sub", "is not a file"},
      {"page.html", "./", "names " + tmp_.Join("src") + " itself"},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.page);
    tmp_.Write("src/" + c.file, "<title>Names</title>");
    r = BuildFrom(tmp_.Join("src"), tmp_.Join("r.run"), {"--page", c.page});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    ExpectOnly({"movie", "player", "src", "t.run"});
    ASSERT_TRUE(RemoveTree(tmp_.Join("src")));
  }
}

TEST_F(PackTest, TitlesAreLauncherNamesSoSomeAreRefusedOrMadeToFit) {
  tmp_.Write("src/Tour.html", "<title>Tour 2.0: Paris / Rome&#x2026;</title>");
  const std::string src = tmp_.Join("src");
  for (const char* title : {"v1.2", "a/b", "Why?", "  ", "tab\there"}) {
    SCOPED_TRACE(title);
    Result r = BuildFrom(src, tmp_.Join("t.run"),
                         {"--page", "Tour.html", "--title", title});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("morva-pack: --title ", 0), 0u) << r.err;
    r = Run({"init", src, "--page", "Tour.html", "--title", title});
    EXPECT_EQ(r.code, 2);
  }
  ExpectOnly({"player", "src"});

  // Taken from the page, a title is made to fit and says so; its launcher
  // stays clear of the page's own name.
  Result r = BuildFrom(src, tmp_.Join("t.run"), {"--page", "Tour.html"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  title           Tour 2\u20240 Paris Rome\u2026  -  "
                       "Morva\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("note: the title \"Tour 2.0: Paris / Rome\u2026\" "
                       "(the page's <title>) is written"),
            std::string::npos)
      << r.err;
  r = BuildFrom(src, tmp_.Join("t.run"),
                {"--page", "Tour.html", "--title", " Tour "});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  title           Tour  -  Morva\n"
                       "  tour page       Tour.html\n"
                       "  window size     1024 x 768\n"
                       "  content folder  . (the top of the work folder)\n"
                       "  launcher page   Tour.start.html\n"),
            std::string::npos)
      << r.out;
}

TEST_F(PackTest, ConventionsOnlyWhereTheFolderLacksThem) {
  const std::string tour_folder = TourFolder("src");
  const std::string zip = tmp_.Join("src.zip");
  TourZip().Write(zip);
  tmp_.Write("web/index.html", "<title>Web</title>");
  const std::string web = tmp_.Join("web");
  struct Usage {
    std::vector<std::string> args;
    std::string says;
  } usage[] = {
      {{"build", zip, "-o", "t", "--page", "a.html"}, "--page is for a folder"},
      {{"build", web, "-o", "t", "--size", "800x600"},
       "--size and --title describe the launcher that --page makes"},
      {{"build", web, "-o", "t", "--title", "Web"}, "without --page"},
      {{"init", web, "--title", "Web"}, "--page"},
      {{"build", web, "-o", "t", "--page", "index.html", "--size", "800"},
       "the window size \"800\" is not WIDTHxHEIGHT"},
      {{"build", web, "-o", "t", "--page", "index.html", "--size", "0x600"},
       "1 to 16384"},
      {{"build", web, "-o", "t", "--page", "index.html", "--size",
        "100000x100000"},
       "1 to 16384"},
      {{"init", web, "--page", "index.html", "--size", "16384x16385"},
       "1 to 16384"},
  };
  for (const Usage& c : usage) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    Result r = Run(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }

  ExpectOnly({"player", "src", "src.zip", "web"});

  // init keeps what is there unless forced; forced, it replaces autorun.inf
  // (whatever its letter case) and the launcher it names, and only those.
  const auto before = Snapshot(tour_folder);
  Result r = Run({"init", tour_folder, "--page", "_flash/Tour page.html"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + tour_folder +
                       ": has an autorun.inf already (" +
                       testing::Native("_flash/autorun.inf") +
                       "); --force replaces it and the launcher it names\n");
  EXPECT_EQ(Snapshot(tour_folder), before);
  ASSERT_EQ(rename(tmp_.Join("src/_flash/autorun.inf").c_str(),
                   tmp_.Join("src/_flash/AUTORUN.INF").c_str()),
            0);
  for (int run = 0; run < 2; ++run) {
    r = Run({"init", tour_folder, "--page", "_flash/Tour page.html", "--title",
             "Tour name", "--size", "640x480", "--force"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "wrote " + testing::Native(tour_folder + "/_flash/autorun.inf") +
                  " and " +
                  testing::Native(tour_folder + "/_flash/Tour name.html") +
                  "\n"
                  "  title           Tour name  -  Morva\n"
                  "  tour page       Tour%20page.html\n"
                  "  window size     640 x 480\n");
  }
  EXPECT_EQ(ListTree(tour_folder),
            (Tree{"_flash/", "_flash/Tour name.html", "_flash/Tour page.html",
                  "_flash/autorun.inf", "_flash/qzviewer.swf", "_flash/scenes/",
                  "_flash/scenes/s1.jpg"}));
  r = BuildFrom(tour_folder, tmp_.Join("t.run"));
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  window size     640 x 480\n"), std::string::npos);

  // The launcher an older autorun.inf names goes, but never the page.
  tmp_.Write("web/autorun.inf", "[autorun]\r\nshellexecute=index.html\r\n");
  r = Run({"init", web, "--page", "index.html", "--title", "index", "--force"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(ReadFile(web + "/index.html"), "<title>Web</title>");
  EXPECT_EQ(ReadFile(web + "/autorun.inf"),
            "[autorun] \r\r\nshellexecute=index.start.html");
}

TEST_F(PackTest, CheckWarnsOfPannellumsStandaloneViewer) {
  ZipWriter zip;
  for (const auto& [name, data] : TourFiles()) zip.AddFile(name, data);
  zip.AddFile("_flash/viewer/pannellum.htm",
              "<script>\"file:\"==window.location.protocol?anError(\"Due to "
              "browser security restrictions, Pannellum can't be run from "
              "the local filesystem; some sort of web server must be "
              "used.\"):parseURLParameters()</script>");
  zip.AddFile("_flash/pano.html",
              "<iframe src=\"viewer/Pannellum.htm#config=tour.json\">");
  const std::string tour = HandMadeTour("tour.run", zip);
  Result r = Run({"check", tour});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("  note            \"_flash/pano.html\" opens "
                       "Pannellum's standalone viewer"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  note            \"_flash/viewer/pannellum.htm\" "
                       "is Pannellum's standalone viewer (configuration from "
                       "a file), which refuses to run from files"),
            std::string::npos)
      << r.out;
}

TEST_F(PackTest, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    int code;
  } usage[] = {
      {{}, 2},
      {{"frobnicate"}, 2},
      {{"build", tmp_.path()}, 2},  // no -o
      {{"build", "-o", "x"}, 2},    // no source
      {{"check"}, 2},
      {{"check", "a", "b"}, 2},
      {{"extract", "tour"}, 2},
      {{"list", "--bogus", "tour"}, 2},
  };
  for (const Case& c : usage) {
    Result r = Run(c.args);
    EXPECT_EQ(r.code, c.code) << ::testing::PrintToString(c.args);
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(Run({"frobnicate", "x"}).err,
            "morva-pack: unknown command 'frobnicate'\n"
            "Try 'morva-pack --help' for the commands.\n");

  Result r = Run({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* command : {"build", "check", "list", "extract"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
  }
  r = Run({"build", "--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--player"), std::string::npos) << r.out;
  r = Run({"extract", "--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("--force"), std::string::npos) << r.out;
  r = Run({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, std::string("morva-pack ") + MORVA_VERSION + "\n");

  // A tour the player cannot open is no missing package.
  {
    const std::string locked = HandMadeTour("locked.run", TourZip());
    DenyingFiles denying(locked);
    ScopedFileSystem scope(&denying);
    r = Run({"check", locked});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "morva-pack: " + locked +
                         ": copying the archive out: open(" + locked +
                         "): Permission denied\n");
  }

  // Files that are not there are named, with the call and the reason, the
  // same way by every command.
  const std::string missing = tmp_.Join("missing.run");
  const std::string missing_err = "morva-pack: " + missing + ": stat(" +
                                  missing + "): No such file or directory\n";
  for (const char* command : {"check", "list"}) {
    r = Run({command, missing});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, missing_err) << command;
  }
  r = Run({"extract", missing, tmp_.Join("out")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, missing_err);
  EXPECT_FALSE(testing::Exists(tmp_.Join("out")));
  r = Run({"list", tmp_.path()});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + tmp_.path() + ": not a file\n");
  r = Run({"build", tmp_.Join("nothing"), "-o", tmp_.Join("t"), "--player",
           player_});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + tmp_.Join("nothing") + ": stat(" +
                       tmp_.Join("nothing") + "): No such file or directory\n");
  r = Run({"build", TourFolder("src"), "-o", tmp_.Join("t"), "--player",
           tmp_.Join("no-player")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "morva-pack: " + tmp_.Join("no-player") +
                       ": the player is not a file\n");
}

TEST_F(PackTest, DefaultPlayerBesideTheToolOrInItsBuildTree) {
  auto path = [&](const std::string& name) {
    return testing::Native(tmp_.Join(name)) + kExecutableSuffix;
  };
  auto exe = [&](const std::string& name) {
    tmp_.Write(name + kExecutableSuffix, "x");
    chmod(path(name).c_str(), 0755);
  };
  exe("installed/bin/morva-pack");
  EXPECT_EQ(FindDefaultPlayer(path("installed/bin/morva-pack")), "");
  exe("installed/bin/morva");
  EXPECT_EQ(FindDefaultPlayer(path("installed/bin/morva-pack")),
            path("installed/bin/morva"));

  exe("build/tools/morva-pack");
  exe("build/morva");
  EXPECT_EQ(FindDefaultPlayer(path("build/tools/morva-pack")),
            path("build/tools/../morva"));
  // The player is built at the top of the build tree, nowhere else.
  exe("build/app/morva");
  ASSERT_TRUE(RemoveTree(tmp_.Join("build/morva") + kExecutableSuffix));
  EXPECT_EQ(FindDefaultPlayer(path("build/tools/morva-pack")), "");

#ifndef _WIN32
  // Not executable: not a player. Windows runs any file named so.
  tmp_.Write("other/tools/morva", "x");
  EXPECT_EQ(FindDefaultPlayer(path("other/tools/morva-pack")), "");
#endif
}

}  // namespace
}  // namespace morva::pack
