// The file services the core relies on, with the semantics the player needs.
//
// Every disk operation of the core goes through the FileSystem interface, so
// that tests can put a faulting implementation under the real logic (a disk
// that fills up, a read error, a folder that cannot be made) instead of
// mocking the logic itself, and can point the module file name at an
// executable they assembled. The types are the project's own, so that the
// POSIX implementation (files_posix.cc) and the Windows one (files_win32.cc)
// honour the same calls, one system call each. The calls mirror POSIX: they
// return -1 (or kNoFile/false where noted) and leave the reason in errno.
#ifndef MORVA_PLATFORM_FILES_H_
#define MORVA_PLATFORM_FILES_H_

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_times.h"

namespace morva {

// An open file or folder: a descriptor on POSIX, a HANDLE on Windows. Any
// negative value is no file.
using FileHandle = intptr_t;
inline constexpr FileHandle kNoFile = -1;
// Names relative to the current folder rather than to an open one.
inline constexpr FileHandle kCurrentFolder = -100;

// How OpenAt opens: one access, then any of the others.
enum OpenFlags : uint32_t {
  kOpenRead = 0,
  kOpenWrite = 1,
  kOpenReadWrite = 2,
  kOpenAccessMask = 3,
  kOpenCreate = 1u << 2,
  kOpenExclusive = 1u << 3,  // with kOpenCreate: fail when something is there
  kOpenTruncate = 1u << 4,
  kOpenAppend = 1u << 5,
  kOpenFolder = 1u << 6,       // a folder, to list or to name things in
  kOpenNoFollow = 1u << 7,     // a link at the last component is not followed
  kOpenNonBlocking = 1u << 8,  // a FIFO planted at the path does not block
  kOpenNoTerminal = 1u << 9,   // a terminal opened does not become ours
};

enum class FileKind : uint8_t { kOther, kFile, kFolder, kLink };
enum class SeekFrom : uint8_t { kStart, kCurrent, kEnd };
enum class LockKind : uint8_t { kShared, kExclusive };
// What RemoveAt removes.
enum class RemoveKind : uint8_t { kFile, kFolder };

// What the system knows of a file, in terms both platforms can fill in.
struct FileInfo {
  FileKind kind = FileKind::kOther;
  uint64_t size = 0;
  uint64_t allocated = 0;   // bytes the file takes on disk
  uint32_t attributes = 0;  // Windows bits (platform/attributes.h); derived
                            // from the mode on POSIX
  FileTime creation_time, access_time, write_time;  // 0 where unknown
  uint64_t volume = 0;   // the device or volume serial number
  uint64_t file_id = 0;  // the inode or the file index
  uint32_t links = 0;    // hard links to the file
  bool mine = false;     // owned by the user this process runs as
  // Nobody but the owner may read, write or enter it (POSIX: no group or
  // other permission bits; Windows: taken from the per-user folder it is in).
  bool shut_to_others = false;
  // POSIX permission bits (07777). Windows has none: there they say what the
  // read-only attribute allows (0444 or 0666 for a file, 0555 or 0777 for a
  // folder), and setting them sets that attribute.
  uint32_t permissions = 0;
};

struct DirEntry {
  std::string name;
  bool is_dir = false;  // a real folder; a link to a folder is not one
  uint64_t inode = 0;   // as the folder lists it (0 where it does not)
};

// Permissions are POSIX permission bits before the umask. Windows honours
// only the owner's write bit: without it the file is read-only.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Full path of the running executable.
  virtual std::string ModuleFileName() = 0;

  // Opens path, relative to the open `folder` (or kCurrentFolder). Returns
  // the handle, or kNoFile.
  virtual FileHandle OpenAt(FileHandle folder, const std::string& path,
                            uint32_t flags, uint32_t permissions) = 0;
  virtual int64_t Read(FileHandle file, void* buffer, size_t count) = 0;
  virtual int64_t Write(FileHandle file, const void* buffer, size_t count) = 0;
  // The new position, or -1.
  virtual int64_t Seek(FileHandle file, int64_t offset, SeekFrom from) = 0;
  virtual int Stat(FileHandle file, FileInfo* info) = 0;
  virtual int StatAt(FileHandle folder, const std::string& path, FileInfo* info,
                     bool follow_links) = 0;
  virtual int Close(FileHandle file) = 0;
  virtual FileHandle Dup(FileHandle file) = 0;
  virtual int RemoveAt(FileHandle folder, const std::string& path,
                       RemoveKind kind) = 0;
  virtual int MakeFolderAt(FileHandle folder, const std::string& path,
                           uint32_t permissions) = 0;
  virtual int Truncate(FileHandle file, int64_t length) = 0;
  virtual int SetPermissions(FileHandle file, uint32_t permissions) = 0;
  virtual int SetPermissionsAt(FileHandle folder, const std::string& path,
                               uint32_t permissions) = 0;
  // Gives the open file the hidden, system and archive attributes as
  // `attributes` has them (platform/attributes.h); its other attributes,
  // read-only among them (SetPermissions), stay. POSIX has none of the
  // three, and there the call does nothing.
  virtual int SetAttributes(FileHandle file, uint32_t attributes) = 0;
  // Sets the times given; a null one stays as it is. POSIX has no creation
  // time to set and ignores it.
  virtual int SetTimes(FileHandle file, const FileTime* creation,
                       const FileTime* access, const FileTime* write) = 0;
  virtual int SetCurrentFolder(const std::string& path) = 0;
  // The bytes this user may still write on the volume of path.
  virtual int FreeSpace(const std::string& path, uint64_t* available) = 0;
  // A lock on the open file, held until it is closed. Without `wait` a lock
  // held elsewhere fails at once with EWOULDBLOCK.
  virtual int Lock(FileHandle file, LockKind kind, bool wait) = 0;
  // Lists a folder opened as `folder` without following links and without
  // "." and "..". The handle stays the caller's.
  virtual int ListFolder(FileHandle folder, std::vector<DirEntry>* entries) = 0;
};

// Forwards every call to another FileSystem; derive from it to change a few.
class FileSystemWrapper : public FileSystem {
 public:
  explicit FileSystemWrapper(FileSystem* target) : target_(target) {}

  std::string ModuleFileName() override { return target_->ModuleFileName(); }
  FileHandle OpenAt(FileHandle folder, const std::string& path, uint32_t flags,
                    uint32_t permissions) override {
    return target_->OpenAt(folder, path, flags, permissions);
  }
  int64_t Read(FileHandle file, void* buffer, size_t count) override {
    return target_->Read(file, buffer, count);
  }
  int64_t Write(FileHandle file, const void* buffer, size_t count) override {
    return target_->Write(file, buffer, count);
  }
  int64_t Seek(FileHandle file, int64_t offset, SeekFrom from) override {
    return target_->Seek(file, offset, from);
  }
  int Stat(FileHandle file, FileInfo* info) override {
    return target_->Stat(file, info);
  }
  int StatAt(FileHandle folder, const std::string& path, FileInfo* info,
             bool follow_links) override {
    return target_->StatAt(folder, path, info, follow_links);
  }
  int Close(FileHandle file) override { return target_->Close(file); }
  FileHandle Dup(FileHandle file) override { return target_->Dup(file); }
  int RemoveAt(FileHandle folder, const std::string& path,
               RemoveKind kind) override {
    return target_->RemoveAt(folder, path, kind);
  }
  int MakeFolderAt(FileHandle folder, const std::string& path,
                   uint32_t permissions) override {
    return target_->MakeFolderAt(folder, path, permissions);
  }
  int Truncate(FileHandle file, int64_t length) override {
    return target_->Truncate(file, length);
  }
  int SetPermissions(FileHandle file, uint32_t permissions) override {
    return target_->SetPermissions(file, permissions);
  }
  int SetPermissionsAt(FileHandle folder, const std::string& path,
                       uint32_t permissions) override {
    return target_->SetPermissionsAt(folder, path, permissions);
  }
  int SetAttributes(FileHandle file, uint32_t attributes) override {
    return target_->SetAttributes(file, attributes);
  }
  int SetTimes(FileHandle file, const FileTime* creation,
               const FileTime* access, const FileTime* write) override {
    return target_->SetTimes(file, creation, access, write);
  }
  int SetCurrentFolder(const std::string& path) override {
    return target_->SetCurrentFolder(path);
  }
  int FreeSpace(const std::string& path, uint64_t* available) override {
    return target_->FreeSpace(path, available);
  }
  int Lock(FileHandle file, LockKind kind, bool wait) override {
    return target_->Lock(file, kind, wait);
  }
  int ListFolder(FileHandle folder, std::vector<DirEntry>* entries) override {
    return target_->ListFolder(folder, entries);
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

// Another file system that stops creating and writing files once Stop() is
// called (the call then fails with ECANCELED), so that work on another
// thread that writes through it ends soon: a copy at its next write, an
// unpack at its next file or folder. Reading and removing go on.
class StoppableFiles : public FileSystemWrapper {
 public:
  explicit StoppableFiles(FileSystem* target) : FileSystemWrapper(target) {}
  void Stop() { stopped_.store(true); }

  FileHandle OpenAt(FileHandle folder, const std::string& path, uint32_t flags,
                    uint32_t permissions) override {
    if ((flags & kOpenCreate) && Refused()) return kNoFile;
    return FileSystemWrapper::OpenAt(folder, path, flags, permissions);
  }
  int64_t Write(FileHandle file, const void* buffer, size_t count) override {
    if (Refused()) return -1;
    return FileSystemWrapper::Write(file, buffer, count);
  }
  int MakeFolderAt(FileHandle folder, const std::string& path,
                   uint32_t permissions) override {
    if (Refused()) return -1;
    return FileSystemWrapper::MakeFolderAt(folder, path, permissions);
  }

 private:
  bool Refused() {
    if (!stopped_.load()) return false;
    errno = ECANCELED;
    return true;
  }
  std::atomic<bool> stopped_{false};
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

// POSIX removes an open file's name at once; Windows only once the last
// handle to it is closed, and until then its folder is not empty. Where
// that matters, a file is closed before it goes.
#ifdef _WIN32
inline constexpr bool kOpenFilesKeepTheirNames = true;
#else
inline constexpr bool kOpenFilesKeepTheirNames = false;
#endif

// Convenience operations over Files().

// The user's folder for temporary files, without a trailing separator: on
// POSIX $TMPDIR when it is set and names a folder, else /tmp; on Windows
// GetTempPath's. Always absolute (a relative $TMPDIR counts from the current
// folder at the call), since the cleanup moves the current folder.
std::string TempFolder();

// The environment variable TempFolder() follows (TMPDIR; on Windows TMP and
// TEMP): its value, or nullopt when it is not set.
std::optional<std::string> TempFolderVariable();
// Sets it for this process and what it starts; nullopt removes it.
void SetTempFolderVariable(const std::optional<std::string>& value);

// A random number from the system's generator, or one derived from the
// process when that cannot be had.
uint32_t RandomNumber();

// The absolute path of what path names, links resolved; empty text with
// errno set when it cannot be found.
std::string RealPath(const std::string& path);

// Renames from to to, replacing a file already at to.
int MoveIntoPlace(const std::string& from, const std::string& to);

#ifdef _WIN32
// path as Windows takes it: UTF-16, separators made backslashes, with the
// "\\?\" prefix when it is long.
std::wstring WidePath(const std::string& path);
// The UTF-8 form of a name the system gives.
std::string Utf8FromWide(const wchar_t* text, size_t length);
// The errno value nearest to this thread's last Win32 error, for calls made
// outside the FileSystem.
int ErrnoFromLastError();
#endif

// True when this user may run the file at path (on Windows: any file).
bool CanExecute(const std::string& path);
// Gives the open file `permissions` less the umask, as a file created with
// them would have; nothing on Windows.
int SetPermissionsAsNew(FileHandle file, uint32_t permissions);
// Lets everyone the umask allows run the open file; nothing on Windows.
inline int MakeExecutable(FileHandle file) {
  return SetPermissionsAsNew(file, 0777);
}

// Creates a new empty file "<folder>/<prefix><hex digits>.tmp" exclusively
// (exclusively, only for this user), trying other names on a clash. Returns its
// path, or empty text when no file could be created.
std::string CreateUniqueTempFile(const std::string& folder,
                                 const std::string& prefix);

// Creates a new folder "<folder>/<prefix><hex digits>" exclusively with
// `permissions`, trying other names on a clash. Returns its path, or empty
// text with errno set when none could be made.
std::string CreateUniqueFolder(const std::string& folder,
                               const std::string& prefix,
                               uint32_t permissions = 0700);

// True when something exists under path (a link counts, followed or not).
bool PathExists(const std::string& path);

// Creates one folder. False when it exists already or the parent is missing.
bool MakeFolder(const std::string& path, uint32_t permissions = 0777);

// Removes one file (never a folder). False if it could not be removed;
// *gone is set true when the file had already gone (ENOENT).
bool RemoveFile(const std::string& path, bool* gone = nullptr);

// Length of the open file, or -1.
int64_t FileLength(FileHandle file);

// path itself when it is absolute, else path below the current folder (or
// path as it is when the current folder cannot be found out).
std::string AbsolutePath(const std::string& path);

// Every path below folder, relative to it and sorted, written with "/" as
// archive names are; folders end in "/". Links are listed as what they are,
// never followed. What cannot be opened is not listed. `fs` is the file system
// to read.
std::vector<std::string> ListTree(const std::string& folder,
                                  FileSystem* fs = Files());

// The names in folder (not below it), sorted by byte value. False, with errno
// set and *names empty, when the folder cannot be opened or listed.
bool SortedFolderNames(const std::string& folder,
                       std::vector<std::string>* names,
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
int64_t ReadFully(FileHandle file, void* buffer, size_t count);
// Reads count bytes at offset as ReadFully does, after moving the file's
// position there. Returns the bytes read, or -1 on error.
int64_t ReadFullyAt(FileHandle file, void* buffer, size_t count,
                    uint64_t offset);
// Writes all count bytes; retries EINTR and short writes. False on error.
bool WriteFully(FileHandle file, const void* buffer, size_t count);

}  // namespace morva

#endif  // MORVA_PLATFORM_FILES_H_
