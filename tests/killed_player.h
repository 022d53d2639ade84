// A player killed while it plays: what SIGKILL or a crash leaves behind.
#ifndef MORVA_TESTS_KILLED_PLAYER_H_
#define MORVA_TESTS_KILLED_PLAYER_H_

#include <string>

namespace morva::testing {

// Runs the player's launch of the tour executable at `tour` in a child
// process set up as the player sets itself up (signals, private folder, the
// launch's file system, the sweep), in the current temporary folder, and
// kills the child once the launch is through, where the window would show:
// with SIGKILL on POSIX, with TerminateProcess on Windows. Returns true when
// the child ended that way.
bool LaunchAndKill(const std::string& tour);

// On Windows the child of LaunchAndKill is this test program started again:
// when this process is that child, runs the launch and ends the process
// without returning. Otherwise (and always on POSIX) returns at once.
// REQUIRES: called first thing in main(), before any test runs.
void RunKilledPlayerIfAsked();

}  // namespace morva::testing

#endif  // MORVA_TESTS_KILLED_PLAYER_H_
