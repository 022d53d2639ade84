// The private folder every fuzz target works in, and the checks that keep the
// targets honest about the disk.
//
// One folder per process, made on first use under the $TMPDIR the process
// was started with (or /tmp):
//
//   <root>/       mkdtemp'd, removed again when the process exits normally
//   <root>/tmp/   what TMPDIR points at while the code under test runs
//   <root>/...    fixed files a target names (the fuzzed executable, say)
//
// The core's file operations all go through Files(); the sandbox installs a
// wrapper there that aborts the process (a crash for libFuzzer) when anything
// would create, change or remove a path outside <root>/tmp, and that reports
// a full disk once an execution has written its quota, so that an archive
// which inflates to gigabytes costs a few megabytes and a few milliseconds.
#ifndef MORVA_FUZZ_SANDBOX_H_
#define MORVA_FUZZ_SANDBOX_H_

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

// Fails the execution: libFuzzer stores the input as a crash.
#define FUZZ_CHECK(cond)                                                \
  do {                                                                  \
    if (!(cond)) ::morva::fuzz::CheckFailed(__FILE__, __LINE__, #cond); \
  } while (0)

namespace morva::fuzz {

[[noreturn]] void CheckFailed(const char* file, int line, const char* what);

// Bytes one execution may write before writes fail with ENOSPC.
constexpr uint64_t kWriteQuota = 4 << 20;

class Sandbox {
 public:
  // The process's sandbox, made on the first call.
  static Sandbox& Get();

  const std::string& root() const { return root_; }
  // The folder TMPDIR names: the only place the code under test may write.
  const std::string& temp() const { return temp_; }

  // Makes the running executable, as Files()->ModuleFileName() reports it,
  // the file at path (empty: the real one).
  void SetModuleFileName(std::string path);

  // Call first in every execution: resets the write quota.
  void BeginRun();

  // Call last in every execution, after the target removed what it made:
  // puts the process back in the folder it started in (the tree removal
  // climbs one level per folder it removes), then checks that temp() is
  // empty and that root() holds nothing but temp() and the names in
  // `fixed`. Aborts with a listing otherwise.
  void EndRun(const std::vector<std::string>& fixed = {});

  // Bytes written through Files() since BeginRun.
  uint64_t written() const;

 private:
  Sandbox();
  std::string root_;
  std::string temp_;
  int start_folder_ = -1;
};

// Small file helpers on the real file system, outside the write guard: the
// harness's own set-up and checks. Reading, listing and removing go through
// the core's ReadWholeFile, ListTree and RemoveTree, on RealFiles() where
// the guard would stand in the way.
bool WriteWholeFile(const std::string& path, std::string_view bytes,
                    mode_t mode = 0600);
bool IsRegularFile(const std::string& path, uint64_t* size = nullptr);
bool IsFolder(const std::string& path);

}  // namespace morva::fuzz

#endif  // MORVA_FUZZ_SANDBOX_H_
