#include "platform/ansi_text.h"

#include <string>

#include "gtest/gtest.h"

namespace morva {
namespace {

TEST(AnsiTextTest, ValidUtf8PassesUnchanged) {
  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(AnsiToUtf8("Tour name  -  Morva"), "Tour name  -  Morva");
  // Two-, three- and four-byte forms.
  const std::string mixed =
      "Gr\xC3\xBC\xC3\x9F"
      "e \xE2\x82\xAC \xF0\x9F\x8C\x8D";
  EXPECT_EQ(AnsiToUtf8(mixed), mixed);
}

TEST(AnsiTextTest, Windows1252Bytes) {
  // "Café Zürich" as a Windows-1252 launcher name.
  EXPECT_EQ(AnsiToUtf8("Caf\xE9 Z\xFCrich"), "Caf\xC3\xA9 Z\xC3\xBCrich");
  // The 0x80 block maps to punctuation and letters far above Latin-1.
  EXPECT_EQ(AnsiToUtf8("\x80\x85\x93x\x94\x99\x9F"),
            "\xE2\x82\xAC\xE2\x80\xA6\xE2\x80\x9Cx\xE2\x80\x9D\xE2\x84\xA2"
            "\xC5\xB8");
  // Latin-1 range edges.
  EXPECT_EQ(AnsiToUtf8("\xA0\xFF"), "\xC2\xA0\xC3\xBF");
}

TEST(AnsiTextTest, UnassignedWindows1252BytesBecomeC1Controls) {
  // iconv refuses these five; they must still come out as valid UTF-8.
  const std::string out = AnsiToUtf8("\x81\x8D\x8F\x90\x9D");
  EXPECT_EQ(out, "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_TRUE(IsValidUtf8(out));
}

TEST(AnsiTextTest, OneBadSequenceSwitchesTheWholeText) {
  // A valid UTF-8 "é" next to a stray Windows-1252 byte: the text as a whole
  // is not UTF-8, so every byte is read as Windows-1252.
  EXPECT_EQ(AnsiToUtf8("\xC3\xA9\xE9"), "\xC3\x83\xC2\xA9\xC3\xA9");
}

TEST(AnsiTextTest, RejectsMalformedUtf8) {
  EXPECT_TRUE(IsValidUtf8("plain"));
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));       // U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));              // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));          // overlong, 3 bytes
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));          // surrogate U+D800
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));      // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));              // truncated at the end
  EXPECT_FALSE(IsValidUtf8("\xE2\x28\xA1"));          // bad continuation
  EXPECT_FALSE(IsValidUtf8("\x80"));                  // lone continuation
  EXPECT_FALSE(IsValidUtf8("\xF8\x88\x80\x80\x80"));  // 5-byte form
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xE2\x82", "\xFF\xFE"}) {
    EXPECT_TRUE(IsValidUtf8(AnsiToUtf8(bad))) << bad;
  }
}

TEST(AnsiTextTest, Utf16LittleEndian) {
  using namespace std::string_literals;
  // "Café €" with a character beyond the BMP (U+1F30D) as a surrogate pair.
  EXPECT_EQ(Utf16LeToUtf8("C\0a\0f\0\xE9\0 \0\xAC\x20<\xD8\x0D\xDF"s),
            "Caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x8C\x8D");
  // Lone surrogates and an odd last byte never give invalid UTF-8; a NUL
  // unit stays a NUL byte, for the reader to end the value there.
  const std::string broken = Utf16LeToUtf8("\x00\xD8x\0\x00\xDC\0\0y"s);
  EXPECT_EQ(broken, "\xEF\xBF\xBDx\xEF\xBF\xBD\0"s);
  EXPECT_TRUE(IsValidUtf8(broken));
}

}  // namespace
}  // namespace morva
