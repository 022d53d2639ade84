// The start page on arbitrary package files. The input is an autorun.inf,
// then kSplit, then the launcher page; the launcher is stored under the name
// autorun.inf gives it (when that name stays inside the content folder) and
// FindStartPage runs on the folder. The text reading and the pop-up call
// match are checked against plain reference versions written for clarity
// rather than speed.
#include <sys/stat.h>

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/sandbox.h"
#include "package/cleanup.h"
#include "package/paths.h"
#include "platform/files.h"
#include "startpage/profile.h"
#include "startpage/start_page.h"

namespace morva::fuzz {
namespace {

constexpr std::string_view kSplit = "\n#launcher#\n";

// The launcher text as a Windows text-mode reader sees it: the file ends at
// 0x1A (and, for us, at NUL), CR LF becomes LF, and the lines are joined.
std::string ReferenceLauncherText(std::string_view bytes) {
  const size_t end = bytes.find_first_of(std::string_view("\0\x1a", 2));
  if (end != std::string_view::npos) bytes = bytes.substr(0, end);
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\n') continue;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
      continue;
    out += bytes[i];
  }
  return out;
}

struct PopupCall {
  std::string page;
  std::string width;
  std::string height;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// What a backtracking engine with greedy runs finds for
//   javascript:window\.open\('([^']+)','[^']+','.*width=(\d+).+height=(\d+)'
// in text without line breaks, the text and the pattern folded to lower
// case, or with `before_width` = 1 for the pattern as it was, with ".+"
// before "width=". The leftmost start wins. From there the first two runs
// are fixed by the apostrophes that end them. The greedy run before "width="
// tries the last "width=" first; its digits give way one at a time so that
// the ".+" after them has a character to take; that ".+" tries the last
// "height=" first, and "height=" digits must run up to an apostrophe.
std::optional<PopupCall> ReferenceMatch(std::string_view text,
                                        size_t before_width = 0) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  // The last "height=" whose digits end in an apostrophe.
  std::optional<size_t> last_height;
  for (size_t h = folded.find("height="); h != std::string::npos;
       h = folded.find("height=", h + 1)) {
    size_t d = h + 7;
    while (d < folded.size() && IsDigit(folded[d])) ++d;
    if (d > h + 7 && d < folded.size() && folded[d] == '\'') last_height = h;
  }
  if (!last_height) return std::nullopt;
  constexpr std::string_view kCall = "javascript:window.open('";
  for (size_t s = folded.find(kCall); s != std::string::npos;
       s = folded.find(kCall, s + 1)) {
    const size_t page = s + kCall.size();
    const size_t page_end = folded.find('\'', page);
    if (page_end == std::string::npos || page_end == page) continue;
    if (folded.compare(page_end, 3, "','") != 0) continue;
    const size_t name = page_end + 3;
    const size_t name_end = folded.find('\'', name);
    if (name_end == std::string::npos || name_end == name) continue;
    if (folded.compare(name_end, 3, "','") != 0) continue;
    // The run before "width=" takes at least before_width bytes.
    const size_t first_width = name_end + 3 + before_width;
    // The last "width=" with room for a digit and a byte before the height.
    for (size_t w = folded.rfind("width=");
         w != std::string::npos && w >= first_width;
         w = w == 0 ? std::string::npos : folded.rfind("width=", w - 1)) {
      size_t digits = 0;
      while (w + 6 + digits < folded.size() && IsDigit(folded[w + 6 + digits]))
        ++digits;
      if (*last_height < w + 7) continue;
      digits = std::min(digits, *last_height - w - 7);
      if (digits == 0) continue;
      size_t h = *last_height + 7;
      size_t h_end = h;
      while (IsDigit(folded[h_end])) ++h_end;
      return PopupCall{std::string(text.substr(page, page_end - page)),
                       std::string(text.substr(w + 6, digits)),
                       std::string(text.substr(h, h_end - h))};
    }
  }
  return std::nullopt;
}

bool ToInt32(const std::string& digits, int32_t* out) {
  auto [ptr, ec] =
      std::from_chars(digits.data(), digits.data() + digits.size(), *out);
  return ec == std::errc() && ptr == digits.data() + digits.size();
}

void CheckMatch(std::string_view text) {
  std::string page;
  int32_t width = -1;
  int32_t height = -1;
  bool too_large = false;
  const bool matched = MatchPopupCall(text, &page, &width, &height, &too_large);
  const std::optional<PopupCall> expected = ReferenceMatch(text);
  int32_t expected_width = 0;
  int32_t expected_height = 0;
  const bool fits = expected && ToInt32(expected->width, &expected_width) &&
                    ToInt32(expected->height, &expected_height);
  if (!matched) {
    FUZZ_CHECK(!fits);
    FUZZ_CHECK(too_large == expected.has_value());
    return;
  }
  FUZZ_CHECK(fits);
  FUZZ_CHECK(page == expected->page);
  FUZZ_CHECK(width == expected_width);
  FUZZ_CHECK(height == expected_height);
}

// Letting the run before "width=" be empty changed no match there was:
// every text the old pattern matched gives the same groups.
void CheckOldMatchesStay(std::string_view text) {
  const std::optional<PopupCall> old = ReferenceMatch(text, 1);
  if (!old) return;
  const std::optional<PopupCall> now = ReferenceMatch(text);
  FUZZ_CHECK(now && now->page == old->page && now->width == old->width &&
             now->height == old->height);
}

// Creates the folders of relative below folder; false when one is in the way.
bool MakeParents(const std::string& folder, const std::string& relative) {
  for (size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    const std::string path = folder + "/" + relative.substr(0, slash);
    if (mkdir(path.c_str(), 0700) != 0 && !IsFolder(path)) return false;
  }
  return true;
}

}  // namespace
}  // namespace morva::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morva;
  using namespace morva::fuzz;
  Sandbox& sandbox = Sandbox::Get();
  sandbox.BeginRun();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find(kSplit);
  const std::string_view autorun = input.substr(0, split);
  const std::string_view launcher = split == std::string_view::npos
                                        ? std::string_view()
                                        : input.substr(split + kSplit.size());

  const std::string folder = sandbox.temp() + "/content";
  FUZZ_CHECK(mkdir(folder.c_str(), 0700) == 0);
  const std::string ini = folder + "/autorun.inf";
  FUZZ_CHECK(WriteWholeFile(ini, autorun));

  // The reader on the file and on the same bytes in memory agree.
  std::string value;
  const ProfileStatus status =
      GetProfileValue(ini, "autorun", "shellexecute", &value);
  FUZZ_CHECK(status != ProfileStatus::kUnreadable);
  std::string in_memory;
  FUZZ_CHECK(FindProfileValue(autorun, "autorun", "shellexecute", &in_memory) ==
             status);
  FUZZ_CHECK(in_memory == value);
  FUZZ_CHECK(value.size() <= kMaxProfileValue);
  FUZZ_CHECK(value.find('\0') == std::string::npos);

  // The package holds the launcher under the name autorun.inf gives it.
  std::string windows_name = value;
  for (char& c : windows_name) {
    if (c == '\\') c = '/';
  }
  std::string relative;
  if (NormalizeEntryName(windows_name, &relative) && !relative.empty() &&
      MakeParents(folder, relative)) {
    // A name that leads back to autorun.inf leaves it as it is.
    const std::string path = folder + "/" + relative;
    if (!IsRegularFile(path) && !IsFolder(path)) WriteWholeFile(path, launcher);
  }

  int title_calls = 0;
  std::string title_seen;
  StartPage page;
  const StartPageStatus found = FindStartPage(
      folder, folder,
      [&](const std::string& title) {
        ++title_calls;
        title_seen = title;
      },
      &page);

  const size_t dot = value.find('.');
  FUZZ_CHECK(found != StartPageStatus::kNoAutorun);
  FUZZ_CHECK((found == StartPageStatus::kNoValue) == value.empty());
  FUZZ_CHECK((found == StartPageStatus::kNoDot) ==
             (!value.empty() && dot == std::string::npos));
  if (found != StartPageStatus::kNoValue && found != StartPageStatus::kNoDot) {
    FUZZ_CHECK(title_calls == 1);
    FUZZ_CHECK(title_seen == value.substr(0, dot) + kTitleSuffix);
    FUZZ_CHECK(page.title == title_seen);
    FUZZ_CHECK(page.launcher_path.starts_with(folder + "/"));
  } else {
    FUZZ_CHECK(title_calls == 0);
  }
  if (found == StartPageStatus::kOk || found == StartPageStatus::kNoMatch ||
      found == StartPageStatus::kSizeTooLarge) {
    std::string text;
    FUZZ_CHECK(ReadLauncherText(page.launcher_path, &text));
    std::string bytes;
    if (ReadWholeFile(page.launcher_path, &bytes)) {
      FUZZ_CHECK(text == ReferenceLauncherText(bytes));
    }
    CheckMatch(text);
    std::string match_page;
    int32_t width = 0;
    int32_t height = 0;
    FUZZ_CHECK(MatchPopupCall(text, &match_page, &width, &height) ==
               (found == StartPageStatus::kOk));
    if (found == StartPageStatus::kOk) {
      FUZZ_CHECK(width >= 0 && height >= 0);
      FUZZ_CHECK(page.width == width && page.height == height);
      FUZZ_CHECK(page.page_file.starts_with(folder + "/"));
      FUZZ_CHECK(page.start_address.starts_with(page.page_file));
    }
  }
  // Also the launcher bytes themselves, wherever they came to lie.
  CheckMatch(ReferenceLauncherText(launcher));
  CheckOldMatchesStay(ReferenceLauncherText(launcher));

  RemoveTree(folder, RealFiles());
  sandbox.EndRun();
  return 0;
}
