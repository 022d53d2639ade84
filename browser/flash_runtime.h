// Flash content in the web view: the Flash runtime the player carries, and
// the scripts every frame of a tour gets at document start.
//
// No web engine plays Flash any more. The player carries an emulator of the
// Flash Player written for the web (JavaScript and WebAssembly) inside its
// binary as a compressed resource bundle, and serves it to the pages through
// the custom URI scheme "morva-flash" (morva-flash://runtime/NAME), which
// reaches nothing but the files of that bundle. Reading the runtime from a
// scheme of its own keeps it out of the rules for file: URLs, and lets its
// responses carry a status, a content type and the CORS header that a
// WebAssembly module fetched from a file: page needs.
//
// Each frame gets, at document start:
// - the file-response script (res/file_responses.js), in every page: fetch()
//   and XMLHttpRequest answers for the page's own files get the status 200
//   and a content type, as from a web server; what is reachable is decided
//   elsewhere;
// - when the player carries the runtime, the Flash stub
//   (res/flash_stub.js): the plug-in entry that detection scripts look for
//   exists from the page's first script on, and the runtime is loaded only
//   once the frame holds Flash markup.
// A .swf file shown as a view's document is replaced with a page that plays
// it.
#ifndef MORVA_BROWSER_FLASH_RUNTIME_H_
#define MORVA_BROWSER_FLASH_RUNTIME_H_

#include <webkit2/webkit2.h>

#include <string>
#include <string_view>
#include <vector>

namespace morva {

// The runtime's scheme and the address its loader script is served at.
inline constexpr char kFlashScheme[] = "morva-flash";
inline constexpr char kFlashRuntimeUri[] = "morva-flash://runtime/ruffle.js";

// True when the player was built with the runtime in it.
bool HasFlashRuntime();

// The version of the runtime carried, e.g. "0.6.0"; "" when none.
std::string FlashRuntimeVersion();

// Bytes of the bundled file `name` (a plain file name, no folders), or
// nullptr when the bundle has no such file. The caller unrefs the result.
GBytes* LookUpFlashRuntimeFile(std::string_view name);

// Content type the scheme sends for a bundled file name.
const char* FlashRuntimeContentType(std::string_view name);

// Languages for the web engine when the process locale names none (C or
// POSIX): pages see navigator.language "C" otherwise, which is no language
// tag, and scripts that format text for the user fail on it. Empty when
// the locale has a language, which the engine then uses itself.
// `locale_names` is what g_get_language_names() returns.
std::vector<std::string> FallbackLanguages(const char* const* locale_names);

// Sets up `context` for Flash content before its first page loads: the
// runtime's scheme, and languages when the locale has none.
void SetUpFlashContext(WebKitWebContext* context);

// Adds the document-start scripts to the pages of `manager`.
void AddFlashPageScripts(WebKitUserContentManager* manager);

// Lets `view` replace a .swf document with a page that plays it. Connect
// before any other "decide-policy" handler of the view.
void AttachFlashDocumentHandler(WebKitWebView* view);

// True when the address names a Flash movie: its path (without query and
// fragment) ends in ".swf" or ".spl", in any letter case.
bool IsFlashMovieAddress(std::string_view uri);

// The page that plays the movie at `uri` (a .swf address) filling the
// view, titled with the movie's file name.
std::string FlashMoviePage(std::string_view uri);

}  // namespace morva

#endif  // MORVA_BROWSER_FLASH_RUNTIME_H_
