// The helper processes that share the player's private folder.
//
// The libraries beneath the web view run in processes of their own (the
// web engine's page and network processes, and what those start, such as a
// media plug-in scanner). They inherit the player's environment, whose
// cache, configuration and state variables name subfolders of the private
// folder (browser/private_cache.h), and they write there: compiled shaders,
// a plug-in registry. Closing the web view only asks them to end; one that
// is still busy (compiling shaders for a page, say) can write into the
// folder after the player has removed it, and the folder comes back. So the
// player ends them, and waits until they are gone, before it removes the
// folder.
//
// A process counts when it belongs to this user and one of its environment
// variables names the folder or a path inside it. Programs the player starts
// for the user (a web link's browser) get the user's own folders back and
// never count.
#ifndef MORVA_PLATFORM_PROCESSES_H_
#define MORVA_PLATFORM_PROCESSES_H_

#include <chrono>
#include <string>

namespace morva {

// Ends every process that counts for `folder` (an absolute path) and waits
// until they are gone, during at most `wait`. They are killed (SIGKILL):
// the player is ending, nothing they hold outlives the run, and the web
// engine's own processes would otherwise linger until the player's process
// has exited. A process that has ended can write nothing, whether or not its
// parent has collected it yet. Returns how many still run when the time is
// up (0 but for a process stuck in the kernel). The caller's own process
// never counts.
int EndProcessesUsing(const std::string& folder,
                      std::chrono::milliseconds wait);

// How many processors this process may run on (at least 1).
int UsableCores();

}  // namespace morva

#endif  // MORVA_PLATFORM_PROCESSES_H_
