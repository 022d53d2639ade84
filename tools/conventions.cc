#include "tools/conventions.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "package/paths.h"
#include "package/unpack.h"
#include "platform/ansi_text.h"
#include "platform/files.h"
#include "platform/html_text.h"
#include "platform/path.h"
#include "platform/windows_names.h"

namespace morva::pack {
namespace {

constexpr char kAutorunName[] = "autorun.inf";
// A launcher named TITLE.start.html, in a content folder a few levels deep,
// stays well inside the 255 bytes of a file name and the 259 of an entry
// name and of a profile value.
constexpr size_t kMaxTitleBytes = 200;
// "." in a title taken from a page becomes U+2024 ONE DOT LEADER, which
// looks the same and ends nothing.
constexpr char kDotLeader[] = "\xE2\x80\xA4";
// Characters that no file name holds, here ("/") or on Windows.
constexpr char kNotInFileNames[] = "/\\:*?\"<>|";

std::string Quoted(std::string_view text) {
  return "\"" + std::string(text) + "\"";
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Runs of blanks as one blank, none at either end.
std::string CollapseBlanks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (IsBlank(c)) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += c;
    }
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<std::string> SortedNames(const std::string& folder) {
  std::vector<std::string> names;
  SortedFolderNames(folder, &names);
  return names;
}

// Walks `folder` in the packer's order and keeps in *found the folder
// (relative, "" for the top) of each viewer movie it meets, so the last
// one stays.
void FindViewerMovie(const std::string& folder, const std::string& relative,
                     std::string* found) {
  for (const std::string& name : SortedNames(folder)) {
    const std::string path = JoinPath(folder, name);
    FileInfo st;
    if (Files()->StatAt(kCurrentFolder, path, &st, false) != 0) continue;
    if (st.kind == FileKind::kFolder) {
      FindViewerMovie(path, relative.empty() ? name : relative + "/" + name,
                      found);
    } else if (st.kind == FileKind::kFile &&
               LowerAscii(name) == kViewerMovieName) {
      *found = relative;
    }
  }
}

std::string DecodeEntity(std::string_view name) {
  if (name == "amp") return "&";
  if (name == "lt") return "<";
  if (name == "gt") return ">";
  if (name == "quot") return "\"";
  if (name == "apos") return "'";
  if (name == "nbsp") return " ";
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits(name.substr(hex ? 2 : 1));
    char* end = nullptr;
    const unsigned long code = strtoul(digits.c_str(), &end, hex ? 16 : 10);
    if (digits.empty() || *end != '\0' || code == 0 || code > 0x10FFFF ||
        (code >= 0xD800 && code <= 0xDFFF)) {
      return "";
    }
    std::string utf8;
    if (code < 0x80) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800) {
      utf8 += static_cast<char>(0xC0 | (code >> 6));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (code >> 12));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (code >> 18));
      utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (code & 0x3F));
    }
    return utf8;
  }
  return "";
}

// The text of a page's first <title> element, its character references
// decoded (the numeric ones and the few that titles use), read as UTF-8 or
// else as Windows-1252, blanks collapsed; empty when it has none.
std::string PageTitle(const std::string& page_path) {
  std::string html;
  if (!ReadWholeFile(page_path, &html)) return "";
  const std::string lower = LowerAscii(html.substr(0, 1 << 20));
  size_t open = 0;
  for (;; ++open) {
    open = lower.find("<title", open);
    if (open == std::string::npos) return "";
    const char next = lower[open + 6];
    if (next == '>' || IsBlank(next)) break;
  }
  const size_t start = lower.find('>', open);
  const size_t end =
      start == std::string::npos ? start : lower.find("</title", start);
  if (end == std::string::npos) return "";
  const std::string_view raw(html.data() + start + 1, end - start - 1);
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    const size_t semi = raw[i] == '&' ? raw.find(';', i) : std::string::npos;
    const std::string decoded =
        semi != std::string::npos && semi - i <= 10
            ? DecodeEntity(raw.substr(i + 1, semi - i - 1))
            : "";
    if (decoded.empty()) {
      text += raw[i];
    } else {
      text += decoded;
      i = semi;
    }
  }
  return CollapseBlanks(AnsiToUtf8(text));
}

// `title` made into one that TitleProblem accepts, or empty text.
std::string FitTitle(std::string_view title) {
  std::string fitted;
  for (char c : title) {
    if (c == '.') {
      fitted += kDotLeader;
    } else if (IsControl(static_cast<unsigned char>(c)) ||
               std::strchr(kNotInFileNames, c) != nullptr) {
      fitted += ' ';
    } else {
      fitted += c;
    }
  }
  fitted = CollapseBlanks(fitted);
  if (fitted.size() > kMaxTitleBytes) {
    size_t cut = kMaxTitleBytes;
    while (cut > 0 && (static_cast<unsigned char>(fitted[cut]) & 0xC0) == 0x80)
      --cut;
    fitted = CollapseBlanks(fitted.substr(0, cut));
  }
  return fitted;
}

// Percent-encodes what an address cannot hold as it stands.
std::string AddressOf(std::string_view file_part, std::string_view rest) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  auto escape = [&](unsigned char c) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  };
  for (unsigned char c : file_part) {
    if (isalnum(c) || std::strchr("-._~/!$&()*+,;=:@", c) != nullptr) {
      out += static_cast<char>(c);
    } else {
      escape(c);
    }
  }
  for (unsigned char c : rest) {
    if (c <= ' ' || c >= 0x7F || c == '"' || c == '<' || c == '>') {
      escape(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Why the call cannot name `name` (part of a page address), or empty text.
// The call sits in a script as a string between apostrophes, and the player
// reads it as raw text: nothing in it can be escaped but a blank.
std::string CallProblem(std::string_view name, bool file_part) {
  if (name.find('\'') != std::string_view::npos) {
    return "holds an apostrophe ('), which ends the name in the call";
  }
  if (file_part && name.find("%20") != std::string_view::npos) {
    return "holds \"%20\", which the player reads as a blank";
  }
  if (name.find('\\') != std::string_view::npos) {
    return "holds \"\\\", which the player takes for a folder separator";
  }
  if (name.find('<') != std::string_view::npos) {
    return "holds \"<\", which could end the launcher's script";
  }
  for (unsigned char c : name) {
    if (IsControl(c)) return "holds a control character";
  }
  if (!IsValidUtf8(name)) return "is not UTF-8";
  return "";
}

std::string BlanksAsEscapes(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

std::string LauncherPage(const std::string& title, const std::string& call,
                         const std::string& address, int32_t width,
                         int32_t height) {
  const std::string shown = EscapeHtml(title);
  return "<!DOCTYPE html>\n"
         "<html>\n"
         "<head>\n"
         "<meta charset=\"utf-8\">\n"
         "<title>" +
         shown +
         "</title>\n"
         "</head>\n"
         "<body>\n"
         "<p><a href=\"" +
         EscapeHtml(address) + "\" onclick=\"start(); return false;\">" +
         shown +
         "</a></p>\n"
         "<script>\n"
         "function start() {\n"
         "  javascript:window.open('" +
         call + "','_blank','status=yes,resizable=yes,top=0,left=0,width=" +
         std::to_string(width) + ",height=" + std::to_string(height) +
         "');\n"
         "}\n"
         "</script>\n"
         "</body>\n"
         "</html>\n";
}

}  // namespace

std::string ContentFolderOf(const std::string& folder) {
  std::string found;
  FindViewerMovie(folder, "", &found);
  return found;
}

std::string FindAutorunIn(const std::string& folder) {
  const std::string content = ContentFolderOf(folder);
  std::string top = folder;
  while (top.size() > 1 && top.back() == kPathSeparator) top.pop_back();
  const std::string content_path =
      content.empty() ? top : JoinPath(top, content);
  const std::string found = FindPackageFile(content_path, kAutorunName);
  if (found.empty()) return "";
  return found.substr(top.size() + 1);
}

bool ParseWindowSize(std::string_view text, int32_t* width, int32_t* height,
                     std::string* error) {
  const size_t x = text.find_first_of("xX");
  int64_t values[2] = {0, 0};
  const std::string_view parts[2] = {
      text.substr(0, x), x == std::string_view::npos ? "" : text.substr(x + 1)};
  for (int i = 0; i < 2; ++i) {
    if (parts[i].empty()) {
      *error = "the window size " + Quoted(text) +
               " is not WIDTHxHEIGHT, e.g. 1024x768";
      return false;
    }
    for (char c : parts[i]) {
      if (c < '0' || c > '9') {
        *error = "the window size " + Quoted(text) +
                 " is not WIDTHxHEIGHT, e.g. 1024x768";
        return false;
      }
      values[i] =
          std::min<int64_t>(values[i] * 10 + (c - '0'), INT64_C(1) << 40);
    }
    if (values[i] < 1 || values[i] > kMaxWindowSide) {
      *error = "the window size " + Quoted(text) +
               ": width and height are 1 to " + std::to_string(kMaxWindowSide);
      return false;
    }
  }
  *width = static_cast<int32_t>(values[0]);
  *height = static_cast<int32_t>(values[1]);
  return true;
}

std::string TitleProblem(std::string_view title) {
  const std::string trimmed = CollapseBlanks(title);
  if (trimmed.empty()) return "a title cannot be empty";
  if (!IsValidUtf8(title)) return "the title is not UTF-8";
  if (title.find('.') != std::string_view::npos) {
    return "the title holds \".\", and the player's window title is the "
           "launcher's name up to its first \".\"; leave it out";
  }
  for (char c : title) {
    if (IsControl(static_cast<unsigned char>(c))) {
      return "the title holds a control character";
    }
    if (std::strchr(kNotInFileNames, c) != nullptr) {
      return "the title holds \"" + std::string(1, c) +
             "\", which the launcher's file name, named after the title, "
             "cannot hold (none of / \\ : * ? \" < > |)";
    }
  }
  if (trimmed.size() > kMaxTitleBytes) {
    return "the title is " + std::to_string(trimmed.size()) +
           " bytes long; it takes " + std::to_string(kMaxTitleBytes) +
           " at most";
  }
  return "";
}

bool MakeConventions(const std::string& folder_arg, const StartRequest& request,
                     const std::string& replaceable, Conventions* out,
                     std::string* error) {
  *out = Conventions();
  std::string folder = AbsolutePath(folder_arg);
  std::replace(folder.begin(), folder.end(), '/', kPathSeparator);
  while (folder.size() > 1 && folder.back() == kPathSeparator)
    folder.pop_back();
  const std::string page_arg = Quoted(request.page);

  // The page relative to the folder.
  std::string page = request.page;
  if (RootLength(page) > 0) {
    const std::string real = RealPath(folder);
    const std::string real_folder = real.empty() ? folder : real;
    bool inside = false;
    // Either slash separates on Windows; the page below the folder is
    // written with "/", as the call names it.
    std::replace(page.begin(), page.end(), '/', kPathSeparator);
    for (const std::string& top : {folder, real_folder}) {
      if (page.compare(0, top.size() + 1, top + kPathSeparator) == 0) {
        page = page.substr(top.size() + 1);
        std::replace(page.begin(), page.end(), kPathSeparator, '/');
        inside = true;
        break;
      }
    }
    if (!inside) {
      *error = "the page " + page_arg + " lies outside " + folder_arg;
      return false;
    }
  }
  if (page.empty()) {
    *error = "--page names no page";
    return false;
  }
  const std::string address = JoinPath(folder, page);
  const size_t file_length = FilePartOfAddress(address) - folder.size() - 1;
  const std::string rest = page.substr(file_length);
  std::string file;
  for (size_t start = 0; start <= file_length;) {
    size_t end = page.find('/', start);
    if (end == std::string::npos || end > file_length) end = file_length;
    const std::string part = page.substr(start, end - start);
    if (part == "..") {
      *error = "the page " + page_arg + " leads out of " + folder_arg +
               " through \"..\"; name a page inside it";
      return false;
    }
    if (!part.empty() && part != ".") file += (file.empty() ? "" : "/") + part;
    start = end + 1;
  }
  const std::string file_path = JoinPath(folder, file);
  if (file.empty()) {
    *error = "the page " + page_arg + " names " + folder_arg +
             " itself; name the page file in it";
    return false;
  }
  FileInfo st;
  if (Files()->StatAt(kCurrentFolder, file_path, &st, false) != 0) {
    *error = "the page " + page_arg + " is not in " + folder_arg;
    return false;
  }
  if (st.kind != FileKind::kFile) {
    *error = "the page " + page_arg + " is " +
             (st.kind == FileKind::kLink ? "a symbolic link" : "not a file") +
             "; name the page file itself";
    return false;
  }

  // The name the call gives: relative to the content folder, under the
  // name the player unpacks the file under.
  std::string unpacked = file;
  if (!IsValidUtf8(file)) {
    unpacked = AnsiToUtf8(file);
    out->notes.push_back("the page " + Quoted(AnsiToUtf8(file)) +
                         " is named in a Windows code page; the player "
                         "unpacks it under that name in UTF-8, which the "
                         "launcher names");
  }
  const std::string content = ContentFolderOf(folder);
  std::string call_file = unpacked;
  if (!content.empty()) {
    if (unpacked.compare(0, content.size() + 1, content + "/") == 0) {
      call_file = unpacked.substr(content.size() + 1);
    } else {
      const size_t depth = std::count(content.begin(), content.end(), '/') + 1;
      call_file.clear();
      for (size_t i = 0; i < depth; ++i) call_file += "../";
      call_file += unpacked;
    }
  }
  std::string problem = CallProblem(call_file, true);
  if (problem.empty()) problem = CallProblem(rest, false);
  if (!problem.empty()) {
    *error = "the launcher's pop-up call cannot name the page " + page_arg +
             ": it " + problem + "; rename the file";
    return false;
  }
  out->page = BlanksAsEscapes(call_file) + BlanksAsEscapes(rest);

  // The title.
  if (!request.title.empty()) {
    out->title = CollapseBlanks(request.title);
  } else {
    std::string from = "the page's <title>";
    std::string wanted = PageTitle(file_path);
    if (FitTitle(wanted).empty()) {
      from = "the folder's name";
      const std::string real = RealPath(folder);
      const std::string real_folder = real.empty() ? folder : real;
      wanted = CollapseBlanks(AnsiToUtf8(GetFileNamePart(real_folder)));
    }
    out->title = FitTitle(wanted);
    if (out->title.empty()) {
      out->title = "Tour";
    } else if (out->title != wanted) {
      out->notes.push_back(
          "the title " + Quoted(wanted) + " (" + from + ") is written " +
          Quoted(out->title) +
          ": a window title holds no \".\" and nothing a file name cannot "
          "hold; --title sets another");
    }
  }

  // The launcher's name, free in the content folder.
  const std::string content_path =
      content.empty() ? folder : JoinPath(folder, content);
  const std::vector<std::string> names = SortedNames(content_path);
  // An older launcher may go, unless it is the page itself.
  const bool may_replace =
      !replaceable.empty() &&
      LowerAscii(JoinPath(content_path, replaceable)) != LowerAscii(file_path);
  auto taken = [&](const std::string& name) {
    const std::string lower = LowerAscii(name);
    if (may_replace && lower == LowerAscii(replaceable)) return false;
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) {
      return LowerAscii(n) == lower;
    });
  };
  std::string launcher = out->title + ".html";
  if (taken(launcher)) launcher = out->title + ".start.html";
  if (taken(launcher)) {
    *error = "both " + Quoted(out->title + ".html") + " and " +
             Quoted(launcher) + " are taken in " +
             (content.empty() ? folder_arg : content) +
             ", and the launcher is named after the title; choose another "
             "with --title";
    return false;
  }

  const std::string prefix = content.empty() ? "" : content + "/";
  const int64_t mtime = FileTimeToUnixSeconds(st.write_time);
  out->autorun = {prefix + kAutorunName,
                  "[autorun] \r\r\nshellexecute=" + launcher, mtime};
  out->launcher = {
      prefix + launcher,
      LauncherPage(out->title, out->page, AddressOf(call_file, rest),
                   request.width, request.height),
      mtime};
  return true;
}

}  // namespace morva::pack
