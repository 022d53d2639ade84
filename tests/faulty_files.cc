#include "tests/faulty_files.h"

#include <algorithm>
#include <cerrno>

namespace morva::testing {

PathMatch Named(const std::string& name) {
  return [name](const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.rfind('/');
    return (slash == std::string::npos ? p : p.substr(slash + 1)) == name;
  };
}

PathMatch Is(const std::string& path) {
  return [path](const std::string& p) { return p == path; };
}

FaultyFiles::FaultyFiles(FileSystem* target) : FileSystemWrapper(target) {}

int FaultyFiles::failed_writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_writes_;
}
int FaultyFiles::failed_reads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_reads_;
}
int FaultyFiles::refused_mkdirs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return refused_mkdirs_;
}
int FaultyFiles::refused_unlinks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return refused_unlinks_;
}

void FaultyFiles::FailWritesFrom(int nth) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_write_from_ = writes_ + nth;
}

void FaultyFiles::FillAfter(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_budget_ = bytes;
}

void FaultyFiles::FailReads(PathMatch match, int error, uint64_t begin,
                            uint64_t end) {
  std::lock_guard<std::mutex> lock(mutex_);
  read_match_ = std::move(match);
  read_error_ = error;
  bad_begin_ = begin;
  bad_end_ = end;
}

void FaultyFiles::RefuseMkdir(PathMatch match, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  mkdir_match_ = std::move(match);
  mkdir_error_ = error;
}

void FaultyFiles::RefuseUnlink(PathMatch match, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  unlink_match_ = std::move(match);
  unlink_error_ = error;
}

void FaultyFiles::SetFreeSpace(uint64_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  free_space_ = bytes;
}

void FaultyFiles::FailStatVfs(int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  statvfs_error_ = error;
}

// Descriptors are noted and forgotten under the lock together with the call
// that makes or ends them: the moment one is closed, another thread may be
// handed the same number.
int FaultyFiles::OpenAt(int dir_fd, const std::string& path, int flags,
                        mode_t mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int fd = FileSystemWrapper::OpenAt(dir_fd, path, flags, mode);
  if (fd >= 0 && read_match_ && read_match_(path)) watched_.insert(fd);
  return fd;
}

int FaultyFiles::Dup(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int copy = FileSystemWrapper::Dup(fd);
  if (copy >= 0 && watched_.count(fd) != 0) watched_.insert(copy);
  return copy;
}

int FaultyFiles::Close(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  watched_.erase(fd);
  return FileSystemWrapper::Close(fd);
}

ssize_t FaultyFiles::Read(int fd, void* buffer, size_t count) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (count == 0 || watched_.count(fd) == 0) {
    lock.unlock();  // no fault here: no need to hold the other threads up
    return FileSystemWrapper::Read(fd, buffer, count);
  }
  const off_t at = FileSystemWrapper::Seek(fd, 0, SEEK_CUR);
  if (at < 0) return -1;
  const uint64_t position = static_cast<uint64_t>(at);
  if (position >= bad_begin_ && position < bad_end_) {
    ++failed_reads_;
    errno = read_error_;
    return -1;
  }
  if (position < bad_begin_)
    count =
        static_cast<size_t>(std::min<uint64_t>(count, bad_begin_ - position));
  return FileSystemWrapper::Read(fd, buffer, count);
}

ssize_t FaultyFiles::Write(int fd, const void* buffer, size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++writes_;
  const bool full = (fail_write_from_ && writes_ >= *fail_write_from_) ||
                    (write_budget_ && *write_budget_ == 0);
  if (count > 0 && full) {
    ++failed_writes_;
    errno = ENOSPC;
    return -1;
  }
  if (write_budget_)
    count = static_cast<size_t>(std::min<uint64_t>(count, *write_budget_));
  const ssize_t n = FileSystemWrapper::Write(fd, buffer, count);
  if (n > 0 && write_budget_) *write_budget_ -= static_cast<uint64_t>(n);
  return n;
}

int FaultyFiles::MkdirAt(int dir_fd, const std::string& path, mode_t mode) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (mkdir_match_ && mkdir_match_(path)) {
    ++refused_mkdirs_;
    errno = mkdir_error_;
    return -1;
  }
  return FileSystemWrapper::MkdirAt(dir_fd, path, mode);
}

int FaultyFiles::UnlinkAt(int dir_fd, const std::string& path, int flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (unlink_match_ && unlink_match_(path)) {
    ++refused_unlinks_;
    errno = unlink_error_;
    return -1;
  }
  return FileSystemWrapper::UnlinkAt(dir_fd, path, flags);
}

int FaultyFiles::StatVfs(const std::string& path, struct statvfs* st) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (statvfs_error_ != 0) {
    errno = statvfs_error_;
    return -1;
  }
  const int rc = FileSystemWrapper::StatVfs(path, st);
  if (rc == 0 && free_space_) {
    st->f_frsize = 1;
    st->f_bavail = *free_space_;
  }
  return rc;
}

}  // namespace morva::testing
