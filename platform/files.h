// The file services the core relies on, with the semantics the player needs.
//
// Every disk operation of the core goes through the FileSystem interface, so
// that tests can put a faulting implementation under the real logic (a disk
// that fills up, a read error, a folder that cannot be made) instead of
// mocking the logic itself, and can point the module file name at an
// executable they assembled. The calls mirror POSIX: they return -1 (or
// nullptr/false where noted) and leave the reason in errno.
#ifndef MORVA_PLATFORM_FILES_H_
#define MORVA_PLATFORM_FILES_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morva {

struct DirEntry {
  std::string name;
  bool is_dir = false;  // a real folder; a link to a folder is not one
  uint64_t inode = 0;   // as the folder lists it
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Full path of the running executable.
  virtual std::string ModuleFileName() = 0;

  virtual int OpenAt(int dir_fd, const std::string& path, int flags,
                     mode_t mode) = 0;
  virtual ssize_t Read(int fd, void* buffer, size_t count) = 0;
  virtual ssize_t Write(int fd, const void* buffer, size_t count) = 0;
  virtual off_t Seek(int fd, off_t offset, int whence) = 0;
  virtual int Fstat(int fd, struct stat* st) = 0;
  virtual int StatAt(int dir_fd, const std::string& path, struct stat* st,
                     int flags) = 0;
  virtual int Close(int fd) = 0;
  virtual int Dup(int fd) = 0;
  virtual int UnlinkAt(int dir_fd, const std::string& path, int flags) = 0;
  virtual int MkdirAt(int dir_fd, const std::string& path, mode_t mode) = 0;
  virtual int Ftruncate(int fd, off_t length) = 0;
  virtual int Fchmod(int fd, mode_t mode) = 0;
  virtual int ChmodAt(int dir_fd, const std::string& path, mode_t mode) = 0;
  virtual int Futimens(int fd, const struct timespec times[2]) = 0;
  virtual int Chdir(const std::string& path) = 0;
  virtual int StatVfs(const std::string& path, struct statvfs* st) = 0;
  // flock(2): an advisory lock on the open file, held until its last
  // descriptor closes.
  virtual int Flock(int fd, int operation) = 0;
  // Lists a folder opened as dir_fd without following links and without
  // "." and "..". The descriptor stays the caller's.
  virtual int ListFolder(int dir_fd, std::vector<DirEntry>* entries) = 0;
};

// Forwards every call to another FileSystem; derive from it to change a few.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}

  std::string ModuleFileName() override { return target_->ModuleFileName(); }
  int OpenAt(int dir_fd, const std::string& path, int flags,
             mode_t mode) override {
    return target_->OpenAt(dir_fd, path, flags, mode);
  }
  ssize_t Read(int fd, void* buffer, size_t count) override {
    return target_->Read(fd, buffer, count);
  }
  ssize_t Write(int fd, const void* buffer, size_t count) override {
    return target_->Write(fd, buffer, count);
  }
  off_t Seek(int fd, off_t offset, int whence) override {
    return target_->Seek(fd, offset, whence);
  }
  int Fstat(int fd, struct stat* st) override { return target_->Fstat(fd, st); }
  int StatAt(int dir_fd, const std::string& path, struct stat* st,
             int flags) override {
    return target_->StatAt(dir_fd, path, st, flags);
  }
  int Close(int fd) override { return target_->Close(fd); }
  int Dup(int fd) override { return target_->Dup(fd); }
  int UnlinkAt(int dir_fd, const std::string& path, int flags) override {
    return target_->UnlinkAt(dir_fd, path, flags);
  }
  int MkdirAt(int dir_fd, const std::string& path, mode_t mode) override {
    return target_->MkdirAt(dir_fd, path, mode);
  }
  int Ftruncate(int fd, off_t length) override {
    return target_->Ftruncate(fd, length);
  }
  int Fchmod(int fd, mode_t mode) override { return target_->Fchmod(fd, mode); }
  int ChmodAt(int dir_fd, const std::string& path, mode_t mode) override {
    return target_->ChmodAt(dir_fd, path, mode);
  }
  int Futimens(int fd, const struct timespec times[2]) override {
    return target_->Futimens(fd, times);
  }
  int Chdir(const std::string& path) override { return target_->Chdir(path); }
  int StatVfs(const std::string& path, struct statvfs* st) override {
    return target_->StatVfs(path, st);
  }
  int Flock(int fd, int operation) override {
    return target_->Flock(fd, operation);
  }
  int ListFolder(int dir_fd, std::vector<DirEntry>* entries) override {
    return target_->ListFolder(dir_fd, entries);
  }

 protected:
  FileSystem* target() { return target_; }

 private:
  FileSystem* target_;
};

// Another file in place of the running executable, over another file system
// (the real one by default). The packer checks a tour with the player's own
// launch this way; tests and benchmarks launch executables they assembled.
class ModuleOverride : public FileSystemWrapper {
 public:
  explicit ModuleOverride(std::string module, FileSystem* target = nullptr);
  std::string ModuleFileName() override { return module_; }

 private:
  std::string module_;
};

// The file system the core uses: the real one unless a test replaced it.
FileSystem* Files();
// The real one, whatever is installed.
FileSystem* RealFiles();

// Installs fs for the lifetime of this object: tests put a faulting file
// system under the logic, and the packer points the module file name at
// the tour it checks.
class ScopedFileSystem {
 public:
  explicit ScopedFileSystem(FileSystem* fs);
  ~ScopedFileSystem();
  ScopedFileSystem(const ScopedFileSystem&) = delete;
  ScopedFileSystem& operator=(const ScopedFileSystem&) = delete;

 private:
  FileSystem* previous_;
};

// Convenience operations over Files().

// $TMPDIR when it is set and names a folder, else /tmp; no trailing
// separator. Always absolute (a relative $TMPDIR counts from the current
// folder at the call), since the cleanup moves the current folder.
std::string TempFolder();

// Creates a new empty file "<folder>/<prefix><hex digits>.tmp" exclusively
// (O_CREAT|O_EXCL, mode 0600), trying other names on a clash. Returns its
// path, or empty text when no file could be created.
std::string CreateUniqueTempFile(const std::string& folder,
                                 const std::string& prefix);

// Creates a new folder "<folder>/<prefix><hex digits>" exclusively with
// `mode`, trying other names on a clash. Returns its path, or empty text
// with errno set when none could be made.
std::string CreateUniqueFolder(const std::string& folder,
                               const std::string& prefix, mode_t mode = 0700);

// True when something exists under path (a link counts, followed or not).
bool PathExists(const std::string& path);

// Creates one folder. False when it exists already or the parent is missing.
bool MakeFolder(const std::string& path, mode_t mode = 0777);

// Removes one file (never a folder). False if it could not be removed;
// *gone is set true when the file had already gone (ENOENT).
bool RemoveFile(const std::string& path, bool* gone = nullptr);

// Length of the open file, or -1.
int64_t FileLength(int fd);

// path itself when it is absolute, else path below the current folder (or
// path as it is when the current folder cannot be found out).
std::string AbsolutePath(const std::string& path);

// Every path below folder, relative to it and sorted; folders end in the
// separator. Links are listed as what they are, never followed. What cannot
// be opened is not listed. `fs` is the file system to read.
std::vector<std::string> ListTree(const std::string& folder,
                                  FileSystem* fs = Files());

// "call(path): reason" from errno, for messages.
std::string ErrnoMessage(const char* call, const std::string& path);

// Reads the whole file at path into *bytes. False when it cannot be opened
// or read; then *bytes is empty and *err (when not null) says which call
// failed on which path.
bool ReadWholeFile(const std::string& path, std::string* bytes,
                   std::string* err = nullptr);

// Reads exactly count bytes unless the file ends first; retries EINTR and
// short reads. Returns the bytes read, or -1 on error.
ssize_t ReadFully(int fd, void* buffer, size_t count);
// Writes all count bytes; retries EINTR and short writes. False on error.
bool WriteFully(int fd, const void* buffer, size_t count);

}  // namespace morva

#endif  // MORVA_PLATFORM_FILES_H_
