// Text for the small HTML pages the program writes itself: the page that
// plays a Flash movie shown as a document, and the launcher morva-pack
// writes for a web export.
#ifndef MORVA_PLATFORM_HTML_TEXT_H_
#define MORVA_PLATFORM_HTML_TEXT_H_

#include <string>
#include <string_view>

namespace morva {

// `text` with & < > " and ' as character references, so that it stands as
// it is in an element's text or in a quoted attribute value.
std::string EscapeHtml(std::string_view text);

}  // namespace morva

#endif  // MORVA_PLATFORM_HTML_TEXT_H_
