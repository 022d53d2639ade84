// WebKitGTK version differences, kept in one place.
//
// The player builds against WebKitGTK 4.1 (libsoup 3). Each shim below says
// which release made it unnecessary; drop it once the oldest distribution we
// build on ships that release.
#ifndef MORVA_BROWSER_COMPAT_H_
#define MORVA_BROWSER_COMPAT_H_

#include <glib.h>
#include <signal.h>
#include <webkit2/webkit2.h>

namespace morva::compat {

// The engine suspends its own threads with a signal, SIGUSR1 by default,
// and its handler takes every such signal for its own: a SIGUSR1 sent from
// outside makes it read a thread that is not there, and the player dies of
// SIGSEGV. The player moves the engine of its own process to a real-time
// signal that no one sends and ignores SIGUSR1 itself. Returns that signal.
// The engine's own call for this is exported but not declared in the 4.1
// headers. (The JSC_SIGNAL_FOR_GC variable would move the web processes'
// engines too, but their option parser then says "ERROR: invalid option" on
// stderr in every process; signals from outside reach the player, not its
// web processes.) Needed as long as the engine's handler does not tell its
// own signals from others. REQUIRES: before the engine starts.
extern "C" void JSConfigureSignalForGC(int signal);
inline int ReserveEngineSignal() {
  const int signal_number = SIGRTMAX - 1;
  JSConfigureSignalForGC(signal_number);
  return signal_number;
}

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

// Answers every permission query of `view`'s pages (navigator.permissions)
// with "denied". The query signal arrived in 2.40; before it the engine
// answers "prompt", and the requests themselves are refused all the same.
// Remove the check when 2.40 is the floor (Debian 13).
inline void DenyPermissionQueries(WebKitWebView* view) {
#if WEBKIT_CHECK_VERSION(2, 40, 0)
  g_signal_connect(
      view, "query-permission-state",
      G_CALLBACK(+[](WebKitWebView*, WebKitPermissionStateQuery* query,
                     gpointer) -> gboolean {
        webkit_permission_state_query_finish(query,
                                             WEBKIT_PERMISSION_STATE_DENIED);
        return TRUE;
      }),
      nullptr);
#else
  (void)view;
#endif
}

}  // namespace morva::compat

#endif  // MORVA_BROWSER_COMPAT_H_
