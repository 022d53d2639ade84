// morva-pack: makes tour executables and says what the player will do with
// them. See pack.h.
#include <iostream>

#include "tools/pack.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/files.h"

// The narrow arguments Windows hands a program are in the ANSI code page,
// which loses every character outside it; the wide ones are the command
// line as typed. The packer takes UTF-8, as it does elsewhere.
int wmain(int argc, wchar_t** wargv) {
  // Output as the program writes it: no "\r" before each "\n".
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i)
    args.push_back(morva::Utf8FromWide(wargv[i], std::wcslen(wargv[i])));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return morva::pack::RunMorvaPack(argc, argv.data(), std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  return morva::pack::RunMorvaPack(argc, argv, std::cout, std::cerr);
}
#endif
