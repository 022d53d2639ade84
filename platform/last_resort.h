// The last-resort removal of what this run made, for the ends that skip the
// normal cleanup: a library that calls exit() or _exit() itself (GTK does
// when the display connection breaks), or a close that cannot finish.
//
// The normal cleanup goes through the FileSystem seam and may allocate; this
// may run from a signal handler, an atexit hook or an error handler inside
// another library, so it uses only system calls on static memory. Each path
// is remembered with the device and inode number of what was made there,
// and only that object is removed: a name that another program has taken
// since stays as it is. Links are never followed.
#ifndef MORVA_PLATFORM_LAST_RESORT_H_
#define MORVA_PLATFORM_LAST_RESORT_H_

#include <string>

#include "platform/files.h"

namespace morva {

// Remembers the object at path (absolute), which info describes. In a folder,
// the entry named `last` (when given) is removed only once everything else
// in it is gone. Returns false when the path is too long or all places are
// taken (a handful are: the player makes three objects). REQUIRES: one
// thread calls Remember and Forget.
bool RememberForLastResort(const std::string& path, const FileInfo& info,
                           const char* last = nullptr);

// Forgets path, once the normal cleanup has removed it.
void ForgetForLastResort(const std::string& path);

// Removes every remembered object that is still the one remembered, folders
// with everything in them (at most 64 levels deep), and forgets them.
// Async-signal-safe and safe at exit.
void RemoveRememberedNow();

}  // namespace morva

#endif  // MORVA_PLATFORM_LAST_RESORT_H_
