// Finding the tour page and the window size in an unpacked package.
//
// The package's autorun.inf names a launcher page; that page opens the tour in
// a pop-up with a call like
//   javascript:window.open('Tour%20page.html','_blank','...,width=1024,height=768')
// and the player shows the same page at the same size instead.
#ifndef MORVA_STARTPAGE_START_PAGE_H_
#define MORVA_STARTPAGE_START_PAGE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace morva {

// Appended to the launcher's name to form the window title.
inline constexpr char kTitleSuffix[] = "  -  Morva";

enum class StartPageStatus {
  kOk,
  kNoAutorun,   // autorun.inf could not be opened or read.
  kNoValue,     // autorun.inf has no (or an empty) [autorun] shellexecute.
  kNoDot,       // The launcher name has no "."; no title was set.
  kNoLauncher,  // The launcher page could not be opened or read.
  kNoMatch,     // The launcher page holds no usable pop-up call.
  // The launcher name leads outside the work folder; it was not read.
  kLauncherOutside,
  // The tour page lies outside the work folder; start_address is set.
  kPageOutside,
  // The call asks for a width or height beyond INT32_MAX.
  kSizeTooLarge,
};

// The three names the step looks up in the package (autorun.inf, the
// launcher, the tour page) are found as Windows would find them: see
// FindPackageFile. A name that nothing has stays as written.
struct StartPage {
  // The [autorun] shellexecute value: the launcher's name in the package.
  std::string launcher_name;
  // The launcher name up to its first "." followed by kTitleSuffix.
  std::string title;
  // The launcher page's path below the content folder.
  std::string launcher_path;
  // The tour page's file: the pop-up's page, "%20" decoded to " ", below the
  // content folder. When no file has the whole name but one has the part
  // before a "?" or "#", that part.
  std::string page_file;
  // What the window shows: page_file, followed by the rest of the page name
  // when only its part before a "?" or "#" named the file (a browser hands
  // that rest to the page as its query or fragment).
  std::string start_address;
  int32_t width = 0;
  int32_t height = 0;
};

// Reads autorun.inf in `content_folder`, then the launcher page it names, and
// fills *out. `set_title` (may be empty) is called with the title as soon as
// it is known, before the launcher is read, so the window keeps its title
// when a later step fails. Fields are filled as far as the steps got; "\" in
// file names is taken as a folder separator, as in a Windows package. The
// tour page need not exist: the window shows what the launcher names. A
// launcher or a tour page that does not resolve inside `work_folder` (see
// ResolvesInside) stops the step: a package cannot make the player read or
// show anything else of the user's.
// REQUIRES: content_folder does not end with a separator and lies inside
// work_folder; both absolute.
StartPageStatus FindStartPage(
    const std::string& content_folder, const std::string& work_folder,
    const std::function<void(const std::string&)>& set_title, StartPage* out);

// True when `path` names `folder` or a place below it, once ".", ".." and
// repeated separators are folded (as a browser folds them in an address)
// and the symbolic links of the part that exists are resolved. False for
// a relative path, and when `folder` cannot be resolved.
bool ResolvesInside(const std::string& path, const std::string& folder);

// Searches `text` for the pop-up call, ignoring ASCII letter case. The match
// is the leftmost one, with greedy runs, so in a page that holds the call
// twice the page comes from the first call and the width and height from the
// last "width=" and "height=NNN'" after it. The features before "width=" may
// be none. On a match fills *page (undecoded, in its original case), *width
// and *height and returns true; returns false when there is none or the width
// or height does not fit an int32_t, and then sets *size_too_large (when not
// null) to whether it was the latter. Runs in time linear in the text's
// length.
bool MatchPopupCall(std::string_view text, std::string* page, int32_t* width,
                    int32_t* height, bool* size_too_large = nullptr);

// Reads the file at `path` the way a Windows text-mode reader would and joins
// its lines without separators: LF ends a line and a CR right before it goes
// with it, a lone CR stays, and a 0x1A byte ends the file. A NUL byte ends
// the text. Returns false (and leaves *text empty) when the file cannot be
// opened or read.
bool ReadLauncherText(const std::string& path, std::string* text);

}  // namespace morva

#endif  // MORVA_STARTPAGE_START_PAGE_H_
