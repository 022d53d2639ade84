// The test program's main: GoogleTest's own, but that on Windows the program
// is also the child process a killed-player test starts (killed_player.h).
#include "gtest/gtest.h"
#include "tests/killed_player.h"

int main(int argc, char** argv) {
  morva::testing::RunKilledPlayerIfAsked();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
