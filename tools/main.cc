// morva-pack: makes tour executables and says what the player will do with
// them. See pack.h.
#include <iostream>

#include "tools/pack.h"

int main(int argc, char** argv) {
  return morva::pack::RunMorvaPack(argc, argv, std::cout, std::cerr);
}
