// WebKitGTK version differences, kept in one place.
//
// The player builds against WebKitGTK 4.1 (libsoup 3). Each shim below says
// which release made it unnecessary; drop it once the oldest distribution we
// build on ships that release.
#ifndef MORVA_BROWSER_COMPAT_H_
#define MORVA_BROWSER_COMPAT_H_

#include <webkit2/webkit2.h>

namespace morva::compat {

// Runs `script` in the page's main world and forgets the result.
// webkit_web_view_evaluate_javascript arrived in 2.40 and deprecated
// run_javascript; remove the fallback when 2.40 is the floor (Debian 13).
inline void RunScript(WebKitWebView* view, const char* script) {
#if WEBKIT_CHECK_VERSION(2, 40, 0)
  webkit_web_view_evaluate_javascript(view, script, -1, nullptr, nullptr,
                                      nullptr, nullptr, nullptr);
#else
  webkit_web_view_run_javascript(view, script, nullptr, nullptr, nullptr);
#endif
}

}  // namespace morva::compat

#endif  // MORVA_BROWSER_COMPAT_H_
