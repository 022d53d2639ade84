// A file system whose running executable is a file the test assembled, so
// that the launch reads a package the test made.
#ifndef MORVA_TESTS_FAKE_MODULE_H_
#define MORVA_TESTS_FAKE_MODULE_H_

#include <string>

#include "platform/files.h"

namespace morva::testing {

class FakeModuleFiles : public FileSystemWrapper {
 public:
  explicit FakeModuleFiles(std::string exe_path)
      : FileSystemWrapper(RealFiles()), exe_path_(std::move(exe_path)) {}
  std::string ModuleFileName() override { return exe_path_; }

 private:
  std::string exe_path_;
};

}  // namespace morva::testing

#endif  // MORVA_TESTS_FAKE_MODULE_H_
