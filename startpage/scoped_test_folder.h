// A fresh folder for tests that work on real files; gone when the object is.
// While it exists TMPDIR points at it, so nothing a test does lands in /tmp.
// Header-only and test-only: the startpage tests use it.
#ifndef MORVA_STARTPAGE_SCOPED_TEST_FOLDER_H_
#define MORVA_STARTPAGE_SCOPED_TEST_FOLDER_H_

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>

#include "gtest/gtest.h"

namespace morva::startpage_test {

class ScopedTestFolder {
 public:
  ScopedTestFolder() {
    // ctest hands each run its own parent folder; a bare run uses TMPDIR.
    const char* base = getenv("MORVA_TEST_TMP");
    if (base == nullptr || *base == '\0') base = getenv("TMPDIR");
    if (base == nullptr || *base == '\0') base = "/tmp";
    mkdir(base, 0700);  // ctest's folder may not exist yet
    std::string pattern = std::string(base) + "/morva-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "mkdtemp(" << pattern << ") failed";
      return;
    }
    path_ = pattern;
    if (const char* old = getenv("TMPDIR")) old_tmpdir_ = old;
    setenv("TMPDIR", path_.c_str(), 1);
  }

  ~ScopedTestFolder() {
    if (old_tmpdir_) {
      setenv("TMPDIR", old_tmpdir_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    if (!path_.empty()) {
      nftw(
          path_.c_str(),
          [](const char* p, const struct stat*, int, struct FTW*) {
            return ::remove(p);
          },
          16, FTW_DEPTH | FTW_PHYS);
    }
  }

  ScopedTestFolder(const ScopedTestFolder&) = delete;
  ScopedTestFolder& operator=(const ScopedTestFolder&) = delete;

  const std::string& path() const { return path_; }

  // Writes `bytes` to `name` (which may hold "/"-separated folders, created
  // as needed) and returns the file's full path.
  std::string Write(const std::string& name, std::string_view bytes) const {
    std::string full = path_ + "/" + name;
    for (size_t slash = full.find('/', path_.size() + 1);
         slash != std::string::npos; slash = full.find('/', slash + 1)) {
      mkdir(full.substr(0, slash).c_str(), 0700);
    }
    FILE* f = fopen(full.c_str(), "wb");
    if (f == nullptr) {
      ADD_FAILURE() << "fopen(" << full << ") failed";
      return full;
    }
    if (fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
      ADD_FAILURE() << "fwrite(" << full << ") failed";
    }
    fclose(f);
    return full;
  }

 private:
  std::string path_;
  std::optional<std::string> old_tmpdir_;
};

}  // namespace morva::startpage_test

#endif  // MORVA_STARTPAGE_SCOPED_TEST_FOLDER_H_
