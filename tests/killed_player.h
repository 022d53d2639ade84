// A player killed while it plays: what SIGKILL or a crash leaves behind.
#ifndef MORVA_TESTS_KILLED_PLAYER_H_
#define MORVA_TESTS_KILLED_PLAYER_H_

#include <string>

namespace morva::testing {

// Runs the player's launch of the tour executable at `tour` in a child
// process set up as the player sets itself up (signals, private folder, the
// launch's file system, the sweep), in the current TMPDIR, and kills the
// child with SIGKILL once the launch is through, where the window would
// show. Returns true when the child died of that signal.
bool LaunchAndKill(const std::string& tour);

}  // namespace morva::testing

#endif  // MORVA_TESTS_KILLED_PLAYER_H_
