#include "fuzz/sandbox.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "package/cleanup.h"
#include "platform/files.h"

namespace morva::fuzz {
namespace {

// Resolves path as the kernel would see it from dir_fd, lexically: the
// sandbox holds no links, and its root has been through realpath().
bool ResolvePath(int dir_fd, const std::string& path, std::string* out) {
  std::string base;
  if (path.empty() || path[0] != '/') {
    char buffer[PATH_MAX];
    if (dir_fd == AT_FDCWD) {
      if (getcwd(buffer, sizeof buffer) == nullptr) return false;
      base = buffer;
    } else {
      const std::string link = "/proc/self/fd/" + std::to_string(dir_fd);
      ssize_t n = readlink(link.c_str(), buffer, sizeof buffer - 1);
      if (n < 0) return false;
      base.assign(buffer, static_cast<size_t>(n));
      // A folder removed while open still names where it was.
      constexpr std::string_view kDeleted = " (deleted)";
      if (base.ends_with(kDeleted)) base.resize(base.size() - kDeleted.size());
    }
  }
  std::vector<std::string_view> parts;
  const std::string full = base + "/" + path;
  std::string_view rest(full);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view()
                                           : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  out->clear();
  for (std::string_view part : parts) {
    *out += '/';
    *out += part;
  }
  if (out->empty()) *out = "/";
  return true;
}

// Files() while a target runs: the real file system behind a guard that
// lets nothing be created, changed or removed outside the sandbox's temp
// folder, and a write quota per execution.
class GuardedFiles : public FileSystemWrapper {
 public:
  explicit GuardedFiles(std::string allowed)
      : FileSystemWrapper(RealFiles()), allowed_(std::move(allowed)) {}

  void set_module(std::string path) { module_ = std::move(path); }
  void ResetQuota() { written_ = 0; }
  uint64_t written() const { return written_.load(); }

  std::string ModuleFileName() override {
    return module_.empty() ? target()->ModuleFileName() : module_;
  }
  int OpenAt(int dir_fd, const std::string& path, int flags,
             mode_t mode) override {
    if ((flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC)) != 0) {
      Guard("open", dir_fd, path);
    }
    return target()->OpenAt(dir_fd, path, flags, mode);
  }
  ssize_t Write(int fd, const void* buffer, size_t count) override {
    // The unpack writes on several threads: each may overshoot the quota by
    // one write, which bounds the total all the same.
    const uint64_t written = written_.load();
    if (written >= kWriteQuota) {
      errno = ENOSPC;
      return -1;
    }
    count =
        static_cast<size_t>(std::min<uint64_t>(count, kWriteQuota - written));
    const ssize_t n = target()->Write(fd, buffer, count);
    if (n > 0) written_ += static_cast<uint64_t>(n);
    return n;
  }
  int UnlinkAt(int dir_fd, const std::string& path, int flags) override {
    Guard("unlink", dir_fd, path);
    return target()->UnlinkAt(dir_fd, path, flags);
  }
  int MkdirAt(int dir_fd, const std::string& path, mode_t mode) override {
    Guard("mkdir", dir_fd, path);
    return target()->MkdirAt(dir_fd, path, mode);
  }
  int ChmodAt(int dir_fd, const std::string& path, mode_t mode) override {
    Guard("chmod", dir_fd, path);
    return target()->ChmodAt(dir_fd, path, mode);
  }
  int Ftruncate(int fd, off_t length) override {
    Guard("ftruncate", fd, "");
    return target()->Ftruncate(fd, length);
  }
  int Fchmod(int fd, mode_t mode) override {
    Guard("fchmod", fd, "");
    return target()->Fchmod(fd, mode);
  }
  int Futimens(int fd, const struct timespec times[2]) override {
    Guard("futimens", fd, "");
    return target()->Futimens(fd, times);
  }

 private:
  // An empty path names nothing for the path calls (they fail with ENOENT);
  // for the descriptor calls it stands for the descriptor itself.
  void Guard(const char* call, int dir_fd, const std::string& path) {
    std::string resolved;
    const bool fd_call = path.empty() && dir_fd != AT_FDCWD && dir_fd >= 0;
    if (path.empty() && !fd_call) return;
    if (!ResolvePath(dir_fd, path, &resolved)) {
      std::fprintf(stderr, "sandbox: %s(%d, \"%s\"): cannot resolve the path\n",
                   call, dir_fd, path.c_str());
      std::abort();
    }
    if (resolved.size() > allowed_.size() && resolved.starts_with(allowed_) &&
        resolved[allowed_.size()] == '/') {
      return;
    }
    std::fprintf(stderr, "sandbox: %s(%d, \"%s\") reaches %s, outside %s\n",
                 call, dir_fd, path.c_str(), resolved.c_str(),
                 allowed_.c_str());
    std::abort();
  }

  std::string allowed_;
  std::string module_;
  std::atomic<uint64_t> written_{0};
};

GuardedFiles* guard = nullptr;
ScopedFileSystem* guard_installed = nullptr;
std::string* root_to_remove = nullptr;

void RemoveRootAtExit() {
  if (root_to_remove != nullptr) RemoveTree(*root_to_remove, RealFiles());
}

}  // namespace

void CheckFailed(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

Sandbox& Sandbox::Get() {
  static Sandbox* const sandbox = new Sandbox;
  return *sandbox;
}

Sandbox::Sandbox() {
  const char* env = std::getenv("TMPDIR");
  const std::string base = env != nullptr && env[0] != '\0' ? env : "/tmp";
  std::string templ = base + "/morva-fuzz-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) {
    std::fprintf(stderr, "sandbox: mkdtemp(%s): %s\n", templ.c_str(),
                 std::strerror(errno));
    std::abort();
  }
  char real[PATH_MAX];
  if (realpath(templ.c_str(), real) == nullptr) std::abort();
  root_ = real;
  temp_ = root_ + "/tmp";
  if (mkdir(temp_.c_str(), 0700) != 0) std::abort();
  root_to_remove = new std::string(root_);
  std::atexit(RemoveRootAtExit);
  setenv("TMPDIR", temp_.c_str(), 1);
  start_folder_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (start_folder_ < 0) std::abort();
  guard = new GuardedFiles(temp_);
  // Stays installed for the life of the process.
  guard_installed = new ScopedFileSystem(guard);
}

void Sandbox::SetModuleFileName(std::string path) {
  guard->set_module(std::move(path));
}

void Sandbox::BeginRun() { guard->ResetQuota(); }

uint64_t Sandbox::written() const { return guard->written(); }

void Sandbox::EndRun(const std::vector<std::string>& fixed) {
  if (fchdir(start_folder_) != 0)
    CheckFailed(__FILE__, __LINE__, "fchdir back");
  std::vector<std::string> left = ListTree(temp_, RealFiles());
  std::vector<std::string> beside;
  for (const std::string& name : ListTree(root_, RealFiles())) {
    if (name.starts_with("tmp/")) continue;
    if (std::find(fixed.begin(), fixed.end(), name) == fixed.end())
      beside.push_back(name);
  }
  if (left.empty() && beside.empty()) return;
  for (const std::string& name : left)
    std::fprintf(stderr, "left in %s: %s\n", temp_.c_str(), name.c_str());
  for (const std::string& name : beside)
    std::fprintf(stderr, "appeared in %s: %s\n", root_.c_str(), name.c_str());
  CheckFailed(__FILE__, __LINE__,
              "the sandbox is not as the execution found it");
}

bool WriteWholeFile(const std::string& path, std::string_view bytes,
                    mode_t mode) {
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
           mode);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0;
}

bool IsRegularFile(const std::string& path, uint64_t* size) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (size != nullptr) *size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace morva::fuzz
