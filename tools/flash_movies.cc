#include "tools/flash_movies.h"

#include <re2/re2.h>

#include <map>
#include <set>

#include "platform/files.h"

namespace morva::pack {
namespace {

// A page's bytes are in whatever code page the tour was made in: Latin-1
// matching takes every byte as one character.
const RE2& MovieAddress() {
  static const RE2 pattern(
      // a quoted string, or an attribute value without quotes
      // (a script's string may escape the closing quote: \"); the
      // extension ends a word, so minified code's "a=b.splice(" is none
      R"((?:["']([^"'<>\r\n]*?\.(?:swf|spl)(?:[?#][^"'\\<>\r\n]*)?)\\?["'])|)"
      R"((?:=\s*([^"'\\\s<>=]+\.(?:swf|spl)\b(?:[?#][^"'\\\s<>]*)?)))",
      [] {
        RE2::Options options(RE2::Latin1);
        options.set_case_sensitive(false);
        return options;
      }());
  return pattern;
}

bool IsPageName(const std::string& name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return ext == "htm" || ext == "html" || ext == "xhtml";
}

void FindPages(const std::string& folder, const std::string& relative,
               std::vector<std::string>* pages) {
  FileSystem* fs = Files();
  std::vector<std::string> names;
  if (!SortedFolderNames(folder, &names, fs)) return;
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    const std::string rel = relative.empty() ? name : relative + "/" + name;
    FileInfo st;
    if (fs->StatAt(kCurrentFolder, path, &st, false) != 0) continue;
    if (st.kind == FileKind::kFolder) {
      FindPages(path, rel, pages);
    } else if (st.kind == FileKind::kFile && IsPageName(name)) {
      pages->push_back(rel);
    }
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out +=
          static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

bool HasScheme(std::string_view address) {
  const size_t colon = address.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = address[i];
    if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' &&
        c != '.') {
      return false;
    }
  }
  return true;
}

// `address` resolved against the folder of `page` (both relative to the
// work folder); empty when it is no relative address or leads outside.
std::string Resolve(const std::string& page, std::string_view address) {
  address = address.substr(0, address.find_first_of("?#"));
  if (address.empty() || address[0] == '/' || address[0] == '\\' ||
      HasScheme(address)) {
    return "";
  }
  std::vector<std::string> parts;
  const size_t slash = page.rfind('/');
  std::string joined =
      (slash == std::string::npos ? "" : page.substr(0, slash + 1)) +
      PercentDecoded(address);
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find_first_of("/\\", start);
    if (end == std::string::npos) end = joined.size();
    const std::string part = joined.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return "";
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string path;
  for (const std::string& part : parts)
    path += (path.empty() ? "" : "/") + part;
  return path;
}

}  // namespace

std::vector<std::string> FlashMovieAddresses(std::string_view page) {
  std::vector<std::string> found;
  std::set<std::string> seen;
  re2::StringPiece input(page.data(), page.size());
  re2::StringPiece quoted, bare;
  while (RE2::FindAndConsume(&input, MovieAddress(), &quoted, &bare)) {
    const re2::StringPiece& hit = quoted.empty() ? bare : quoted;
    std::string address(hit.data(), hit.size());
    if (!address.empty() && seen.insert(address).second) {
      found.push_back(address);
    }
  }
  return found;
}

std::vector<std::string> FindTourPages(const std::string& work_folder) {
  std::vector<std::string> pages;
  FindPages(work_folder, "", &pages);
  return pages;
}

std::vector<FlashMovie> FindFlashMovies(const std::string& work_folder) {
  const std::vector<std::string> pages = FindTourPages(work_folder);
  std::map<std::string, FlashMovie> movies;
  for (const std::string& page : pages) {
    std::string text;
    ReadWholeFile(work_folder + "/" + page, &text);
    for (const std::string& address : FlashMovieAddresses(text)) {
      std::string path = Resolve(page, address);
      bool present = false;
      if (!path.empty()) {
        FileInfo st;
        present = Files()->StatAt(kCurrentFolder, work_folder + "/" + path, &st,
                                  false) == 0 &&
                  st.kind == FileKind::kFile;
      } else {
        path = address;
      }
      FlashMovie& movie = movies[path];
      movie.path = path;
      movie.present = present;
      if (movie.pages.empty() || movie.pages.back() != page) {
        movie.pages.push_back(page);
      }
    }
  }
  std::vector<FlashMovie> result;
  for (auto& [path, movie] : movies) result.push_back(std::move(movie));
  return result;
}

}  // namespace morva::pack
