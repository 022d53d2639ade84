#include "startpage/profile.h"

#include <string>

#include "gtest/gtest.h"
#include "tests/test_util.h"

namespace morva {
namespace {

class ProfileTest : public ::testing::Test {
 protected:
  // Writes `ini` to a file and reads [section] key from it.
  ProfileStatus Read(std::string_view ini, std::string_view section,
                     std::string_view key, std::string* value) {
    std::string path = folder_.Write("autorun.inf", ini);
    return GetProfileValue(path, section, key, value);
  }

  // The [autorun] shellexecute value, or "<none>" when there is none.
  std::string Shellexecute(std::string_view ini) {
    std::string value;
    if (Read(ini, "autorun", "shellexecute", &value) != ProfileStatus::kFound) {
      EXPECT_EQ(value, "");
      return "<none>";
    }
    return value;
  }

  testing::ScopedTempDir folder_;
};

TEST_F(ProfileTest, PackageFileWithBlankAfterBracketAndCrCrLf) {
  EXPECT_EQ(Shellexecute("[autorun] \r\r\nshellexecute=Tour name.html"),
            "Tour name.html");
  EXPECT_EQ(Shellexecute("[autorun] \r\r\nshellexecute=Tour name.html\r\r\n"),
            "Tour name.html");
}

TEST_F(ProfileTest, LineEndings) {
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=a.html\nx=y\n"), "a.html");
  EXPECT_EQ(Shellexecute("[autorun]\r\nshellexecute=a.html\r\nx=y\r\n"),
            "a.html");
  EXPECT_EQ(Shellexecute("[autorun]\rshellexecute=a.html\rx=y\r"), "a.html");
  // Notepad starts UTF-8 files with a byte order mark.
  EXPECT_EQ(Shellexecute("\xEF\xBB\xBF[autorun]\nshellexecute=a.html"),
            "a.html");
}

TEST_F(ProfileTest, NamesIgnoreAsciiCaseAndBlanks) {
  EXPECT_EQ(Shellexecute("[AutoRun]\nShellExecute=a.html"), "a.html");
  EXPECT_EQ(Shellexecute("[AUTORUN]\nSHELLEXECUTE=a.html"), "a.html");
  EXPECT_EQ(Shellexecute("  [ autorun ]  \n\t shellexecute \t=  a b.html \t"),
            "a b.html");
  std::string value;
  EXPECT_EQ(Read("[AutoRun]\nKey=v", " autorun ", "KEY ", &value),
            ProfileStatus::kFound);
  EXPECT_EQ(value, "v");
  // Only ASCII letters fold: Latin-1 0xC9 and 0xE9 are different names.
  EXPECT_EQ(Read("[\xC9]\nk=v", "\xE9", "k", &value), ProfileStatus::kNotFound);
}

TEST_F(ProfileTest, MatchingQuotesAreStripped) {
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"Tour name.html\""),
            "Tour name.html");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute='a.html'"), "a.html");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=  \" a.html \"  "),
            " a.html ");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"\""), "");
  // Quotes that do not pair up stay.
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"a.html'"), "\"a.html'");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"a.html"), "\"a.html");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\""), "\"");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=a\"b\""), "a\"b\"");
}

TEST_F(ProfileTest, FirstMatchWins) {
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=1.html\nshellexecute=2.html"),
            "1.html");
  EXPECT_EQ(Shellexecute("[other]\nshellexecute=1.html\n"
                         "[autorun]\nshellexecute=2.html"),
            "2.html");
  // Only the first [autorun] is searched.
  EXPECT_EQ(Shellexecute("[autorun]\nicon=a.ico\n"
                         "[autorun]\nshellexecute=2.html"),
            "<none>");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=1.html\n"
                         "[Autorun]\nshellexecute=2.html"),
            "1.html");
}

TEST_F(ProfileTest, ValueIsCappedAt259Bytes) {
  std::string long_value(300, 'v');
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=" + long_value),
            long_value.substr(0, 259));
  std::string fits(259, 'w');
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"" + fits + "\""), fits);
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"" + long_value + "\""),
            long_value.substr(0, 259));
}

TEST_F(ProfileTest, MissingFileSectionOrKey) {
  std::string value = "stale";
  std::string err;
  EXPECT_EQ(GetProfileValue(folder_.path() + "/absent.inf", "autorun",
                            "shellexecute", &value, &err),
            ProfileStatus::kUnreadable);
  EXPECT_EQ(value, "");
  EXPECT_EQ(err.rfind("open(" + folder_.path() + "/absent.inf): ", 0), 0u)
      << err;

  // A folder opens but cannot be read.
  EXPECT_EQ(GetProfileValue(folder_.path(), "autorun", "shellexecute", &value),
            ProfileStatus::kUnreadable);

  EXPECT_EQ(Read("", "autorun", "shellexecute", &value),
            ProfileStatus::kNotFound);
  EXPECT_EQ(
      Read("[other]\nshellexecute=a.html", "autorun", "shellexecute", &value),
      ProfileStatus::kNotFound);
  EXPECT_EQ(Read("[autorun]\nopen=a.exe", "autorun", "shellexecute", &value),
            ProfileStatus::kNotFound);
  // Present but empty is found: the caller can tell it from a missing key.
  EXPECT_EQ(
      Read("[autorun]\nshellexecute=  ", "autorun", "shellexecute", &value),
      ProfileStatus::kFound);
  EXPECT_EQ(value, "");
}

TEST_F(ProfileTest, LinesThatAreNotKeys) {
  // Comments, lines without "=", a header without "]".
  EXPECT_EQ(
      Shellexecute("[autorun]\n;shellexecute=c.html\nshellexecute=a.html"),
      "a.html");
  EXPECT_EQ(Shellexecute("[autorun]\n  ; shellexecute=c.html\nshellexecute=a"),
            "a");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute\nshellexecute=a.html"),
            "a.html");
  EXPECT_EQ(Shellexecute("[autorun\nshellexecute=a.html"), "<none>");
  EXPECT_EQ(Shellexecute("[autorun]\n[broken\nshellexecute=a.html"), "a.html");
  // "=" inside the value is part of it.
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=a=b.html"), "a=b.html");
  // Keys before the first header belong to no named section.
  EXPECT_EQ(Shellexecute("shellexecute=a.html\n[autorun]\n"), "<none>");
  std::string value;
  EXPECT_EQ(Read("k=top\n[s]\nk=in", "", "k", &value), ProfileStatus::kFound);
  EXPECT_EQ(value, "top");
}

TEST_F(ProfileTest, NulEndsTheValue) {
  using namespace std::string_literals;
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=a.html\0junk\nx=y"s),
            "a.html");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\"a.html\0\""s), "\"a.html");
  // A NUL in a name makes it another name.
  EXPECT_EQ(Shellexecute("[autorun]\nshell\0execute=b.html"s), "<none>");
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=\0\nshellexecute=b.html"s),
            "");
  // Ctrl-Z is a blank; old editors left one at the end.
  EXPECT_EQ(Shellexecute("[autorun]\nshellexecute=a.html\x1a"), "a.html");
}

// UTF-16 LE as Notepad saves it: the byte order mark, then two bytes a unit.
std::string Utf16Le(std::u16string_view text, bool bom = true) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

TEST_F(ProfileTest, Utf16AsNotepadSavesIt) {
  // UTF-16 LE: converted, then every rule as for bytes (blank after the
  // bracket, CR CR LF, names in any case, blanks and quotes around the
  // value); the value comes out in UTF-8.
  EXPECT_EQ(Shellexecute(Utf16Le(u"[AutoRun] \r\r\n SHELLEXECUTE = "
                                 u"\"Caf\u00e9 \u20ac.html\"\r\n")),
            "Caf\xC3\xA9 \xE2\x82\xAC.html");
  EXPECT_EQ(Shellexecute(Utf16Le(u"[other]\r\nshellexecute=a.html")), "<none>");
  // The cap counts the bytes of the UTF-8 form and never halves a character:
  // 2 + 128 x 2 bytes fit, the next character would straddle byte 259.
  std::string e128;
  for (int i = 0; i < 128; ++i) e128 += "\xC3\xA9";
  EXPECT_EQ(Shellexecute(Utf16Le(u"[autorun]\nshellexecute=ab" +
                                 std::u16string(200, u'\u00e9') + u".html")),
            "ab" + e128);
  // Without the mark Windows reads bytes: no value here.
  EXPECT_EQ(Shellexecute(Utf16Le(u"[autorun]\nshellexecute=a.html", false)),
            "<none>");
}

}  // namespace
}  // namespace morva
