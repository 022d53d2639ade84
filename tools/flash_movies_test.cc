#include "tools/flash_movies.h"

#include "gmock/gmock.h"
#include "gtest/gtest.h"
#include "tests/posix_calls.h"
#include "tests/test_util.h"

namespace morva::pack {
namespace {

using ::testing::ElementsAre;
using testing::ScopedTempDir;

TEST(FlashMovieAddressesTest, FindsMoviesInMarkupAndScripts) {
  // What pages of the time held: markup written by document.write with
  // both kinds of quotes and escaped quotes, unquoted attributes, a movie
  // parameter, SWFObject calls, queries, any letter case; each address
  // once, in order; anything that is not a movie is left alone.
  const std::string page =
      "<object classid=\"clsid:D27CDB6E-AE6D-11cf-96B8-444553540000\">"
      "<param name=\"movie\" value=\"qzviewer.swf\">"
      "<embed src=qzviewer.swf type=\"application/x-shockwave-flash\">"
      "</object>\r\n"
      "<script>document.write('<embed src=\"intro.SWF?lang=en\">');\n"
      "document.write(\"<embed src=\\\"old/banner.spl\\\">\");\n"
      "swfobject.embedSWF('Menu%20Bar.swf#top', 'menu', 400, 80);\n"
      "var notAMovie = 'swf.html', another = \"readme.swf.txt\";\n"
      "</script><img src=\"scene.jpg\"><a href='x.swf'>x</a>";
  EXPECT_THAT(FlashMovieAddresses(page),
              ElementsAre("qzviewer.swf", "intro.SWF?lang=en", "old/banner.spl",
                          "Menu%20Bar.swf#top", "x.swf"));
  EXPECT_THAT(FlashMovieAddresses("no movies here .swf"), ElementsAre());
  // Minified viewers of today: a method whose name starts like an
  // extension is none.
  EXPECT_THAT(FlashMovieAddresses("<script>c&&U[a].splice(0,1);var t=!1,"
                                  "T.splice(c,1),y=v.swf2d</script>"),
              ElementsAre());
  // Bytes of any code page pass through as they are.
  EXPECT_THAT(FlashMovieAddresses("<embed src=\"f\xfchrung.swf\">"),
              ElementsAre("f\xfchrung.swf"));
}

TEST(FindFlashMoviesTest, ResolvesAgainstEachPageAndTellsWhatIsMissing) {
  ScopedTempDir dir;
  dir.Write("work/_flash/qzviewer.swf", "FWS");
  dir.Write("work/_flash/Menu Bar.swf", "FWS");
  dir.Write("work/_flash/Tour.html",
            "<embed src=\"qzviewer.swf\"><embed src='Menu%20Bar.swf'>");
  dir.Write("work/_flash/Start.HTM", "<param name=movie value=./qzviewer.swf>");
  dir.Write("work/_flash/pages/Sub.html",
            "<embed src=\"../qzviewer.swf\"><embed src=\"gone.swf\">"
            "<embed src=\"../../../outside.swf\">"
            "<embed src=\"http://example.invalid/web.swf\">");
  // Not pages, and a link that is never followed.
  dir.Write("work/_flash/notes.txt", "<embed src=\"text.swf\">");
  if (kCanPlantLinks) {
    ASSERT_EQ(symlink(dir.Join("work/_flash/Tour.html").c_str(),
                      dir.Join("work/_flash/Link.html").c_str()),
              0);
  }

  const std::vector<FlashMovie> movies = FindFlashMovies(dir.Join("work"));
  ASSERT_EQ(movies.size(), 5u);
  EXPECT_EQ(movies[0].path, "../../../outside.swf");
  EXPECT_FALSE(movies[0].present);
  EXPECT_EQ(movies[1].path, "_flash/Menu Bar.swf");
  EXPECT_TRUE(movies[1].present);
  EXPECT_EQ(movies[2].path, "_flash/pages/gone.swf");
  EXPECT_FALSE(movies[2].present);
  EXPECT_THAT(movies[2].pages, ElementsAre("_flash/pages/Sub.html"));
  EXPECT_EQ(movies[3].path, "_flash/qzviewer.swf");
  EXPECT_TRUE(movies[3].present);
  EXPECT_THAT(movies[3].pages,
              ElementsAre("_flash/Start.HTM", "_flash/Tour.html",
                          "_flash/pages/Sub.html"));
  EXPECT_EQ(movies[4].path, "http://example.invalid/web.swf");
  EXPECT_FALSE(movies[4].present);

  EXPECT_TRUE(FindFlashMovies(dir.Join("missing")).empty());
}

}  // namespace
}  // namespace morva::pack
