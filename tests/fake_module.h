// Tests launch executables they assembled: the file system's module file
// name points at them.
#ifndef MORVA_TESTS_FAKE_MODULE_H_
#define MORVA_TESTS_FAKE_MODULE_H_

#include "platform/files.h"

namespace morva::testing {

using FakeModuleFiles = ModuleOverride;

}  // namespace morva::testing

#endif  // MORVA_TESTS_FAKE_MODULE_H_
