// The Flash movies a tour's pages embed, for `morva-pack check`.
//
// Pages of the Flash era embed their viewer movie with <object>/<embed>
// markup, often written by a script (document.write, SWFObject), so the
// pages are searched as text for addresses of movies rather than parsed.
#ifndef MORVA_TOOLS_FLASH_MOVIES_H_
#define MORVA_TOOLS_FLASH_MOVIES_H_

#include <string>
#include <string_view>
#include <vector>

namespace morva::pack {

struct FlashMovie {
  // Relative to the work folder, "/"-separated; for an address that does
  // not lead into the package (a web address), the address as written.
  std::string path;
  // The pages that embed it, relative to the work folder, sorted.
  std::vector<std::string> pages;
  // True when the movie is a file in the package.
  bool present = false;
};

// Addresses of Flash movies (ending in .swf or .spl, any letter case, a
// query or fragment allowed) in a page's text, as written, each once, in
// order of appearance: quoted strings and unquoted attribute values.
std::vector<std::string> FlashMovieAddresses(std::string_view page);

// Every page (.htm, .html, .xhtml, any letter case) below `work_folder`,
// relative to it ("/"-separated) and sorted; symbolic links are not
// followed.
std::vector<std::string> FindTourPages(const std::string& work_folder);

// Searches every page (.htm, .html, .xhtml, any letter case) below
// `work_folder`, never following symbolic links, and returns the movies
// they embed sorted by path. Relative addresses resolve against the page's
// folder ("%XX" decoded, query and fragment dropped); ones that would lead
// outside the work folder are listed as written, not present.
std::vector<FlashMovie> FindFlashMovies(const std::string& work_folder);

}  // namespace morva::pack

#endif  // MORVA_TOOLS_FLASH_MOVIES_H_
