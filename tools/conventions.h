// The package conventions, written for a folder that lacks them.
//
// A folder exported by a web tool has a start page (index.html, say) and
// what it loads, but nothing the player looks for: an autorun.inf in the
// content folder naming a launcher page, and in that launcher the pop-up
// call that names the tour page and the window size. MakeConventions writes
// both for such a folder, as packages carry them, for the packer to add to
// the archive (build --page) or to the folder itself (init). The same
// folder and request give the same bytes.
//
// The forms are narrow, so not every name fits:
// - the window title is the launcher's name up to its first ".", so the
//   launcher is named TITLE.html and a title holds no "." (and nothing a
//   file name cannot hold);
// - the call names the page between apostrophes, and the player decodes
//   only "%20" (to a blank) in it, so a page whose name holds an apostrophe
//   or "%20" cannot be named; other bytes are taken as they stand, so a
//   name in UTF-8 stays UTF-8 and is never escaped.
#ifndef MORVA_TOOLS_CONVENTIONS_H_
#define MORVA_TOOLS_CONVENTIONS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zip_folder.h"

namespace morva::pack {

inline constexpr int32_t kDefaultWidth = 1024;
inline constexpr int32_t kDefaultHeight = 768;
// The largest width or height --size takes: beyond the largest screens,
// side by side, and within what the toolkit can draw a window at. A package
// made elsewhere may ask for more; the player limits it to the screen.
inline constexpr int32_t kMaxWindowSide = 16384;

// What the author asks for on the command line.
struct StartRequest {
  // The tour page: relative to the folder ("/"-separated), or an absolute
  // path inside it; may end in a query ("?...") or fragment ("#...") that
  // the page gets, as in a browser, when no file has the whole name.
  std::string page;
  int32_t width = kDefaultWidth;
  int32_t height = kDefaultHeight;
  // The window title without the player's suffix; empty: the page's
  // <title>, else the folder's name.
  std::string title;
};

struct Conventions {
  std::string title;  // the window title without the player's suffix
  std::string page;   // the page as the pop-up call names it
  // Named relative to the folder: autorun.inf and the launcher, in the
  // content folder, with the page's modification time.
  AddedFile autorun;
  AddedFile launcher;
  // What was made to fit, for the author (a title taken from the page that
  // held a "." say).
  std::vector<std::string> notes;
};

// The content folder the player takes in a package of `folder`'s contents
// as the packer zips them: the folder of the last file named qzviewer.swf
// (any letter case) in that order, relative to `folder` ("" for the top,
// which it is when there is none). Symbolic links are not followed.
std::string ContentFolderOf(const std::string& folder);

// The autorun.inf the player would read in a package of `folder`'s
// contents (in the content folder, found as the player finds it), relative
// to `folder`; empty text when there is none.
std::string FindAutorunIn(const std::string& folder);

// Parses "WxH" (or "WXH"): two whole numbers from 1 to kMaxWindowSide. False,
// with *error saying why, for anything else.
bool ParseWindowSize(std::string_view text, int32_t* width, int32_t* height,
                     std::string* error);

// Empty text when `title`, as given with --title, can be a window title;
// else why not: it is empty, holds a "." or a character that a file name
// cannot hold here or on Windows (/ \ : * ? " < > | and control
// characters), is not UTF-8, or is too long for a file name.
std::string TitleProblem(std::string_view title);

// Makes autorun.inf and the launcher for `request` in `folder` (which has
// no autorun.inf; see FindAutorunIn). The launcher is TITLE.html, or
// TITLE.start.html when the content folder has a file of that name in any
// letter case; `replaceable` names one such file that may be replaced
// (the launcher an older autorun.inf named; may be empty). Returns false
// with *error (one line naming the page or title and the reason) when the
// page is not a file inside the folder, or when its name or the title
// cannot be carried (see above). A title from --title must have passed
// TitleProblem; one taken from the page or folder is made to fit, with a
// note.
bool MakeConventions(const std::string& folder, const StartRequest& request,
                     const std::string& replaceable, Conventions* out,
                     std::string* error);

}  // namespace morva::pack

#endif  // MORVA_TOOLS_CONVENTIONS_H_
