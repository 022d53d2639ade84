// A file system that fails where a test tells it to, on top of another one
// (the real one, or a ModuleOverride): a disk that fills up, read errors, a
// folder that cannot be made, a file that cannot be deleted, a given amount
// of free space. Everything else passes through unchanged, so the code under
// test runs for real and only meets the fault. It may be used from several
// threads at once, as the unpack does.
#ifndef MORVA_TESTS_FAULTY_FILES_H_
#define MORVA_TESTS_FAULTY_FILES_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/files.h"

namespace morva::testing {

// Which paths a fault applies to, as the code passes them to the file system
// (a full path, or a name relative to an open folder).
using PathMatch = std::function<bool(const std::string& path)>;
// The path's last component is name (trailing separators ignored).
PathMatch Named(const std::string& name);
// The path is exactly path.
PathMatch Is(const std::string& path);

class FaultyFiles : public FileSystemWrapper {
 public:
  explicit FaultyFiles(FileSystem* target = RealFiles());

  // The disk fills up at the nth write call from now (counting from 1): that
  // write and every later one fail with ENOSPC.
  void FailWritesFrom(int nth);
  // The disk fills up after `bytes` more bytes: the write that reaches the
  // limit is cut short there, every later one fails with ENOSPC.
  void FillAfter(uint64_t bytes);
  // The bytes [begin, end) of a file opened under a matching path (or
  // through a duplicate of its descriptor) cannot be read, as a bad sector:
  // a read that starts in them fails with `error`, one that runs into them
  // is cut short before them. Reads elsewhere in the file go through.
  void FailReads(PathMatch match, int error = EIO, uint64_t begin = 0,
                 uint64_t end = UINT64_MAX);
  // Creating a folder under a matching path fails with `error`.
  void RefuseMkdir(PathMatch match, int error = EACCES);
  // Deleting a file or folder under a matching path fails with `error`.
  void RefuseUnlink(PathMatch match, int error = EBUSY);
  // StatVfs reports exactly `bytes` available (the rest from the real call).
  void SetFreeSpace(uint64_t bytes);
  // StatVfs fails with `error`.
  void FailStatVfs(int error = EIO);

  // How often each fault struck.
  int failed_writes() const;
  int failed_reads() const;
  int refused_mkdirs() const;
  int refused_unlinks() const;

  int OpenAt(int dir_fd, const std::string& path, int flags,
             mode_t mode) override;
  int Dup(int fd) override;
  int Close(int fd) override;
  ssize_t Read(int fd, void* buffer, size_t count) override;
  ssize_t Write(int fd, const void* buffer, size_t count) override;
  int MkdirAt(int dir_fd, const std::string& path, mode_t mode) override;
  int UnlinkAt(int dir_fd, const std::string& path, int flags) override;
  int StatVfs(const std::string& path, struct statvfs* st) override;

 private:
  mutable std::mutex mutex_;  // guards everything below
  // Writes.
  int writes_ = 0;
  std::optional<int> fail_write_from_;
  std::optional<uint64_t> write_budget_;
  int failed_writes_ = 0;
  // Reads: the descriptors of matching files, and their bad bytes.
  PathMatch read_match_;
  int read_error_ = EIO;
  uint64_t bad_begin_ = 0;
  uint64_t bad_end_ = 0;
  std::set<int> watched_;
  int failed_reads_ = 0;
  // Folders and deletions.
  PathMatch mkdir_match_;
  int mkdir_error_ = 0;
  int refused_mkdirs_ = 0;
  PathMatch unlink_match_;
  int unlink_error_ = 0;
  int refused_unlinks_ = 0;
  // Free space.
  std::optional<uint64_t> free_space_;
  int statvfs_error_ = 0;
};

}  // namespace morva::testing

#endif  // MORVA_TESTS_FAULTY_FILES_H_
