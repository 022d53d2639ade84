#include "startpage/start_page.h"

#include <errno.h>
#include <re2/re2.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <climits>
#include <vector>

#include "platform/files.h"
#include "platform/path.h"
#include "platform/windows_names.h"
#include "startpage/profile.h"

namespace morva {

namespace {

// Lower case, since the search folds the text to lower case before matching.
// The run before "width=" may be empty, so that a feature list that starts
// with the width matches; greedy, it still prefers the last "width=", so a
// text that matched with a run of one or more gives the same groups.
constexpr char kPopupCallPattern[] =
    R"(javascript:window\.open\('([^']+)','[^']+','.*width=(\d+).+height=(\d+)')";

// Built once: compiling is far dearer than a match on a typical page.
// Latin-1 makes every byte one character, whatever the page's encoding, and
// "." then matches every byte but LF, which the joined text no longer holds.
// RE2's default leftmost-first semantics give the submatches a backtracking
// engine with greedy runs would give, without its exponential cases or its
// recursion depth on long one-line pages.
const RE2& PopupCallRegex() {
  static const RE2* const regex = [] {
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingLatin1);
    options.set_log_errors(false);
    return new RE2(kPopupCallPattern, options);
  }();
  return *regex;
}

bool ParseInt32(std::string_view digits, int32_t* out) {
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, *out);
  return ec == std::errc() && ptr == end;
}

// Only the blank is decoded: launcher pages escape the blanks in tour names
// and nothing else, and decoding more would change which file is opened.
std::string DecodeBlanks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t pos = 0;
  for (;;) {
    size_t hit = s.find("%20", pos);
    if (hit == std::string_view::npos) break;
    out.append(s.substr(pos, hit - pos));
    out += ' ';
    pos = hit + 3;
  }
  out.append(s.substr(pos));
  return out;
}

#ifdef _WIN32
constexpr bool kNamesCanBeInvalid = true;
#else
constexpr bool kNamesCanBeInvalid = false;
#endif

// "/a/./b//c/../d" -> "/a/b/d"; ".." at the top stays at the top. The root
// ("/", or "C:\" on Windows) stays as it is.
std::string FoldPath(std::string_view path) {
  const std::string root(path.substr(0, RootLength(path)));
  path.remove_prefix(root.size());
  std::vector<std::string_view> parts;
  while (!path.empty()) {
    const size_t end = std::min(path.find(kPathSeparator), path.size());
    const std::string_view part = path.substr(0, end);
    path.remove_prefix(std::min(end + 1, path.size()));
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else {
      parts.push_back(part);
    }
  }
  std::string folded = root;
  for (std::string_view part : parts) {
    if (!folded.empty() && folded.back() != kPathSeparator &&
        folded.back() != '/')
      folded += kPathSeparator;
    folded.append(part);
  }
  return folded;
}

// The folded path with the links of its longest existing part resolved;
// empty when that part cannot be resolved for another reason than absence.
std::string ResolvedPath(const std::string& path) {
  std::string existing = FoldPath(path);
  std::string rest;
  for (;;) {
    std::string resolved = RealPath(existing);
    if (!resolved.empty()) {
      // The root ends in a separator, and rest starts with one.
      if (resolved.back() == kPathSeparator && !rest.empty())
        resolved.pop_back();
      return resolved + rest;
    }
    const size_t root = RootLength(existing);
    // A name Windows cannot hold ("?", say) is as absent as a missing one.
    const bool absent = errno == ENOENT || errno == ENOTDIR ||
                        (kNamesCanBeInvalid && errno == EINVAL);
    if (!absent || existing.size() <= root) {
      return "";
    }
    const size_t slash = existing.rfind(kPathSeparator);
    rest = existing.substr(slash) + rest;
    existing.resize(std::max(slash, root));
  }
}

}  // namespace

bool ResolvesInside(const std::string& path, const std::string& folder) {
  if (RootLength(path) == 0 || RootLength(folder) == 0) return false;
  const std::string root = ResolvedPath(folder);
  const std::string target = ResolvedPath(path);
  if (root.empty() || target.empty()) return false;
  // The folder is a root: everything on it is inside.
  if (root.size() == RootLength(root))
    return target.compare(0, root.size(), root) == 0;
  return target.compare(0, root.size(), root) == 0 &&
         (target.size() == root.size() ||
          target[root.size()] == kPathSeparator);
}

bool MatchPopupCall(std::string_view text, std::string* page, int32_t* width,
                    int32_t* height, bool* size_too_large) {
  if (size_too_large != nullptr) *size_too_large = false;
  // Folding only A-Z keeps every other byte, so offsets into the folded copy
  // are offsets into the original and the groups keep their case.
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  re2::StringPiece groups[4];
  if (!PopupCallRegex().Match(folded, 0, folded.size(), RE2::UNANCHORED, groups,
                              4)) {
    return false;
  }
  auto original = [&](const re2::StringPiece& group) {
    return text.substr(static_cast<size_t>(group.data() - folded.data()),
                       group.size());
  };
  int32_t w = 0;
  int32_t h = 0;
  if (!ParseInt32(original(groups[2]), &w) ||
      !ParseInt32(original(groups[3]), &h)) {
    if (size_too_large != nullptr) *size_too_large = true;
    return false;
  }
  page->assign(original(groups[1]));
  *width = w;
  *height = h;
  return true;
}

bool ReadLauncherText(const std::string& path, std::string* text) {
  if (!ReadWholeFile(path, text)) return false;
  // Joined in place: the text never grows, so a large page costs one buffer.
  std::string& s = *text;
  const size_t size = s.size();
  size_t out = 0;
  for (size_t in = 0; in < size; ++in) {
    const char c = s[in];
    if (c == '\n') continue;
    if (c == '\r') {
      if (in + 1 < size && s[in + 1] == '\n')
        ++in;  // CR LF ends a line
      else
        s[out++] = c;  // a lone CR stays
      continue;
    }
    if (c == '\0' || c == '\x1a') break;  // 0x1A ends the file, NUL the text
    s[out++] = c;
  }
  s.resize(out);
  return true;
}

namespace {

// A name from the package, found as Windows would find it (FindPackageFile);
// the name as written below folder when nothing has it.
std::string PackagePath(const std::string& folder, std::string_view name) {
  std::string found = FindPackageFile(folder, name);
  if (!found.empty()) return found;
  std::string path = JoinPath(folder, name);
  MakeSeparatorsNative(&path, folder.size());
  return path;
}

}  // namespace

StartPageStatus FindStartPage(
    const std::string& content_folder, const std::string& work_folder,
    const std::function<void(const std::string&)>& set_title, StartPage* out) {
  *out = StartPage();
  std::string& value = out->launcher_name;
  ProfileStatus profile =
      GetProfileValue(PackagePath(content_folder, "autorun.inf"), "autorun",
                      "shellexecute", &value);
  if (profile == ProfileStatus::kUnreadable) return StartPageStatus::kNoAutorun;
  if (value.empty()) return StartPageStatus::kNoValue;

  // A byte search is safe in any code page a package may use: no multibyte
  // encoding uses 0x2E inside a character.
  size_t dot = value.find('.');
  if (dot == std::string::npos) return StartPageStatus::kNoDot;
  out->title = value.substr(0, dot) + kTitleSuffix;
  if (set_title) set_title(out->title);

  out->launcher_path = PackagePath(content_folder, value);
  if (!ResolvesInside(out->launcher_path, work_folder)) {
    return StartPageStatus::kLauncherOutside;
  }
  std::string text;
  if (!ReadLauncherText(out->launcher_path, &text)) {
    return StartPageStatus::kNoLauncher;
  }
  std::string page;
  int32_t width = 0;
  int32_t height = 0;
  bool too_large = false;
  if (!MatchPopupCall(text, &page, &width, &height, &too_large)) {
    return too_large ? StartPageStatus::kSizeTooLarge
                     : StartPageStatus::kNoMatch;
  }
  page = DecodeBlanks(page);
  // The whole name when a file has it, else the name before a "?" or "#",
  // which a browser hands the page as its query or fragment.
  out->page_file = FindPackageFile(content_folder, page);
  std::string query;
  // No longer name can be a file's; a hostile launcher may hold one.
  for (size_t split = page.find_first_of("?#");
       out->page_file.empty() && split != std::string::npos &&
       split <= PATH_MAX;
       split = page.find_first_of("?#", split + 1)) {
    if (split == 0) continue;
    out->page_file = FindPackageFile(content_folder, page.substr(0, split));
    if (!out->page_file.empty()) query = page.substr(split);
  }
  if (out->page_file.empty())
    out->page_file = PackagePath(content_folder, page);
  out->start_address = out->page_file + query;
  out->width = width;
  out->height = height;
  // The file, not the query or fragment after it, which the page reads.
  if (!ResolvesInside(out->page_file, work_folder)) {
    return StartPageStatus::kPageOutside;
  }
  return StartPageStatus::kOk;
}

}  // namespace morva
