// The real file system on Windows.
//
// Paths are UTF-8 inside the program and UTF-16 at the system's calls. Win32
// has no calls relative to an open folder, so each folder handle this file
// opens is noted with its full path, and a name relative to it is resolved
// against that path. Every open can refuse to follow a link or junction at
// the last component (FILE_FLAG_OPEN_REPARSE_POINT), and a reparse point so
// opened is refused as a link would be on POSIX.
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <bcrypt.h>
#include <winioctl.h>

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>

#include "platform/ansi_text.h"
#include "platform/attributes.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva {
namespace {

constexpr DWORD kMaxTransfer = 1u << 30;

// The errno value nearest to a Win32 error.
int ErrnoFor(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_LOCK_VIOLATION:
    case ERROR_IO_PENDING:
      return EWOULDBLOCK;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    case ERROR_OPERATION_ABORTED:
      return ECANCELED;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    default:
      return EIO;
  }
}

// Sets errno from the last Win32 error and returns -1.
int Failed() {
  errno = ErrnoFor(GetLastError());
  return -1;
}

HANDLE AsHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }
FileHandle AsFile(HANDLE handle) {
  return reinterpret_cast<FileHandle>(handle);
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\...", "\\server\..." or "\\?\...".
bool IsAbsoluteWide(const std::wstring& path) {
  return (path.size() >= 3 && path[1] == L':' && IsSeparator(path[2])) ||
         (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

std::wstring Utf16(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                    static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), n);
  return wide;
}

// The folder handles this file opened, with their full paths.
class FolderTable {
 public:
  void Note(HANDLE handle, std::wstring path) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_[handle] = std::move(path);
  }
  void Forget(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    paths_.erase(handle);
  }
  bool Find(HANDLE handle, std::wstring* path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = paths_.find(handle);
    if (it == paths_.end()) return false;
    *path = it->second;
    return true;
  }

 private:
  std::mutex mutex_;
  std::map<HANDLE, std::wstring> paths_;
};

FolderTable& Folders() {
  static FolderTable* table = new FolderTable;
  return *table;
}

// The full path of what a handle or kCurrentFolder names joined with path,
// as the Win32 calls take it. False (errno set) for a handle that is no
// folder of ours.
bool Resolve(FileHandle folder, const std::string& path, std::wstring* out) {
  std::wstring wide = WidePath(path);
  if (folder == kCurrentFolder || IsAbsoluteWide(wide)) {
    *out = std::move(wide);
    return true;
  }
  std::wstring base;
  if (!Folders().Find(AsHandle(folder), &base)) {
    errno = EBADF;
    return false;
  }
  if (!base.empty() && !IsSeparator(base.back())) base += L'\\';
  *out = base + wide;
  if (out->size() >= MAX_PATH - 12 && out->compare(0, 4, L"\\\\?\\") != 0)
    *out = WidePath(Utf8FromWide(out->data(), out->size()));
  return true;
}

// The full path of a relative or absolute wide path, without the long-path
// prefix's restrictions ("." and ".." resolved).
std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return full;
}

FileTime FromFiletime(const FILETIME& time) {
  return FileTime{time.dwLowDateTime, time.dwHighDateTime};
}

FILETIME ToFiletime(const FileTime& time) {
  return FILETIME{time.low, time.high};
}

// Permission bits for the read-only attribute, as FileInfo gives them.
uint32_t PermissionsFor(DWORD attributes) {
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (folder) return read_only ? 0555 : 0777;
  return read_only ? 0444 : 0666;
}

DWORD WithPermissions(DWORD attributes, uint32_t permissions) {
  if ((permissions & 0200) == 0) return attributes | FILE_ATTRIBUTE_READONLY;
  attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
  return attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
}

// The owners this process gives what it makes: its user, and the token's
// default owner, which for an elevated administrator is the Administrators
// group.
class ThisUser {
 public:
  ThisUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    user_ = Query(token, TokenUser);
    owner_ = Query(token, TokenOwner);
    CloseHandle(token);
  }
  bool Owns(PSID owner) const {
    if (owner == nullptr || !IsValidSid(owner)) return false;
    PSID user =
        user_.empty()
            ? nullptr
            : reinterpret_cast<const TOKEN_USER*>(user_.data())->User.Sid;
    PSID default_owner =
        owner_.empty()
            ? nullptr
            : reinterpret_cast<const TOKEN_OWNER*>(owner_.data())->Owner;
    return (user != nullptr && EqualSid(owner, user)) ||
           (default_owner != nullptr && EqualSid(owner, default_owner));
  }

 private:
  static std::vector<BYTE> Query(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
    DWORD size = 0;
    GetTokenInformation(token, kind, nullptr, 0, &size);
    std::vector<BYTE> data(size);
    if (size == 0 ||
        !GetTokenInformation(token, kind, data.data(), size, &size)) {
      data.clear();
    }
    return data;
  }
  std::vector<BYTE> user_, owner_;
};

// True when the owner of what handle is open on is this user. False when
// the owner cannot be read, as through a handle without READ_CONTROL.
bool OwnedByThisUser(HANDLE handle) {
  static const ThisUser* const me = new ThisUser;
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                      &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool mine = me->Owns(owner);
  LocalFree(descriptor);
  return mine;
}

int InfoFromHandle(HANDLE handle, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION data;
  if (!GetFileInformationByHandle(handle, &data)) {
    // A pipe or a console has no such information.
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
      *info = FileInfo{};
      info->kind = FileKind::kOther;
      info->mine = true;
      return 0;
    }
    return Failed();
  }
  FileInfo result;
  const DWORD attributes = data.dwFileAttributes;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    result.kind = FileKind::kLink;
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    result.kind = FileKind::kFolder;
  } else if (GetFileType(handle) == FILE_TYPE_DISK) {
    result.kind = FileKind::kFile;
  }
  result.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
  FILE_STANDARD_INFO standard;
  if (GetFileInformationByHandleEx(handle, FileStandardInfo, &standard,
                                   sizeof standard)) {
    result.allocated = static_cast<uint64_t>(standard.AllocationSize.QuadPart);
  } else {
    result.allocated = result.size;
  }
  result.attributes = attributes;
  result.creation_time = FromFiletime(data.ftCreationTime);
  result.access_time = FromFiletime(data.ftLastAccessTime);
  result.write_time = FromFiletime(data.ftLastWriteTime);
  result.volume = data.dwVolumeSerialNumber;
  result.file_id = (uint64_t{data.nFileIndexHigh} << 32) | data.nFileIndexLow;
  result.links = data.nNumberOfLinks;
  result.mine = OwnedByThisUser(handle);
  // The per-user temporary folder's access list shuts what is made in it to
  // others; the access lists are not read here.
  result.shut_to_others = true;
  result.permissions = PermissionsFor(attributes);
  *info = result;
  return 0;
}

// Opens what path names with the given access, without following a reparse
// point at the last component unless `follow`.
HANDLE OpenForQuery(const std::wstring& path, DWORD access, bool follow) {
  return CreateFileW(
      path.c_str(), access,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
      nullptr);
}

// Runs remove (DeleteFileW or RemoveDirectoryW) on path; when the read-only
// attribute stands in the way, clears it and tries again, putting it back if
// that fails too.
int RemoveClearingReadOnly(const std::wstring& path,
                           BOOL(WINAPI* remove)(LPCWSTR)) {
  if (remove(path.c_str())) return 0;
  const DWORD error = GetLastError();
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
    errno = ErrnoFor(error);
    return -1;
  }
  if (!SetFileAttributesW(
          path.c_str(),
          attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
    errno = ErrnoFor(error);
    return -1;
  }
  if (remove(path.c_str())) return 0;
  const int result = Failed();
  SetFileAttributesW(path.c_str(), attributes);
  return result;
}

class Win32FileSystem : public FileSystem {
 public:
  std::string ModuleFileName() override {
    // Paths may be longer than MAX_PATH: grow the buffer until it fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
      const DWORD n = GetModuleFileNameW(nullptr, path.data(),
                                         static_cast<DWORD>(path.size()));
      if (n == 0) return std::string();
      if (n < path.size()) return Utf8FromWide(path.data(), n);
      if (path.size() >= 32768) return std::string();
      path.resize(path.size() * 2);
    }
  }

  FileHandle OpenAt(FileHandle folder, const std::string& path, uint32_t flags,
                    uint32_t permissions) override {
    std::wstring wide;
    if (!Resolve(folder, path, &wide)) return kNoFile;
    DWORD access = 0;
    const uint32_t mode = flags & kOpenAccessMask;
    if (mode == kOpenRead || mode == kOpenReadWrite) access |= GENERIC_READ;
    if (mode == kOpenWrite || mode == kOpenReadWrite) {
      access |= (flags & kOpenAppend)
                    ? FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | READ_CONTROL |
                          SYNCHRONIZE
                    : GENERIC_WRITE;
    }
    // READ_CONTROL lets Stat read the owner.
    if (flags & kOpenFolder) {
      access = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL |
               SYNCHRONIZE;
    }
    DWORD disposition = OPEN_EXISTING;
    if ((flags & kOpenCreate) && (flags & kOpenExclusive)) {
      disposition = CREATE_NEW;
    } else if ((flags & kOpenCreate) && (flags & kOpenTruncate)) {
      disposition = CREATE_ALWAYS;
    } else if (flags & kOpenCreate) {
      disposition = OPEN_ALWAYS;
    } else if (flags & kOpenTruncate) {
      disposition = TRUNCATE_EXISTING;
    }
    DWORD attributes = (flags & kOpenCreate) ? WithPermissions(0, permissions)
                                             : FILE_ATTRIBUTE_NORMAL;
    DWORD extra = FILE_FLAG_BACKUP_SEMANTICS;
    if (flags & kOpenNoFollow) extra |= FILE_FLAG_OPEN_REPARSE_POINT;
    auto create = [&](DWORD with_attributes) {
      return CreateFileW(wide.c_str(), access,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, disposition, with_attributes | extra,
                         nullptr);
    };
    HANDLE handle = create(attributes);
    DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error == ERROR_ACCESS_DENIED && (flags & kOpenFolder)) {
      // A folder that may be listed but whose owner may not be read.
      access &= ~static_cast<DWORD>(READ_CONTROL);
      handle = create(attributes);
      error = handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    }
    if (error == ERROR_ACCESS_DENIED &&
        (disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING)) {
      // A hidden or system file is overwritten only by a call that names
      // those attributes again.
      constexpr DWORD kRepeated = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
      const DWORD existing = GetFileAttributesW(wide.c_str());
      if (existing != INVALID_FILE_ATTRIBUTES && (existing & kRepeated) &&
          !(existing & FILE_ATTRIBUTE_DIRECTORY)) {
        handle =
            create((attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL)) |
                   (existing & kRepeated));
        if (handle == INVALID_HANDLE_VALUE) error = GetLastError();
      }
    }
    if (handle == INVALID_HANDLE_VALUE) {
      // A name that is a folder opened for writing.
      const DWORD existing = GetFileAttributesW(wide.c_str());
      if (error == ERROR_ACCESS_DENIED && existing != INVALID_FILE_ATTRIBUTES &&
          (existing & FILE_ATTRIBUTE_DIRECTORY) && !(flags & kOpenFolder) &&
          mode != kOpenRead) {
        errno = EISDIR;
      } else {
        errno = ErrnoFor(error);
      }
      return kNoFile;
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(handle, &data)) {
      if (flags & kOpenFolder) {
        CloseHandle(handle);
        errno = ENOTDIR;
        return kNoFile;
      }
      return AsFile(handle);  // a device or a pipe
    }
    int refused = 0;
    if ((flags & kOpenNoFollow) &&
        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      refused = ELOOP;
    } else if ((flags & kOpenFolder) &&
               !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      refused = ENOTDIR;
    } else if (!(flags & kOpenFolder) &&
               (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
               mode != kOpenRead) {
      refused = EISDIR;
    }
    if (refused != 0) {
      CloseHandle(handle);
      errno = refused;
      return kNoFile;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      Folders().Note(handle, FullPath(wide));
    return AsFile(handle);
  }

  int64_t Read(FileHandle file, void* buffer, size_t count) override {
    DWORD got = 0;
    const DWORD want =
        static_cast<DWORD>(std::min<size_t>(count, kMaxTransfer));
    if (!ReadFile(AsHandle(file), buffer, want, &got, nullptr)) {
      if (GetLastError() == ERROR_BROKEN_PIPE) return 0;  // the writer ended
      return Failed();
    }
    return got;
  }

  int64_t Write(FileHandle file, const void* buffer, size_t count) override {
    DWORD put = 0;
    const DWORD want =
        static_cast<DWORD>(std::min<size_t>(count, kMaxTransfer));
    if (!WriteFile(AsHandle(file), buffer, want, &put, nullptr))
      return Failed();
    return put;
  }

  int64_t Seek(FileHandle file, int64_t offset, SeekFrom from) override {
    LARGE_INTEGER distance, position;
    distance.QuadPart = offset;
    const DWORD method = from == SeekFrom::kStart     ? FILE_BEGIN
                         : from == SeekFrom::kCurrent ? FILE_CURRENT
                                                      : FILE_END;
    if (!SetFilePointerEx(AsHandle(file), distance, &position, method))
      return Failed();
    return position.QuadPart;
  }

  int Stat(FileHandle file, FileInfo* info) override {
    return InfoFromHandle(AsHandle(file), info);
  }

  int StatAt(FileHandle folder, const std::string& path, FileInfo* info,
             bool follow_links) override {
    std::wstring wide;
    if (!Resolve(folder, path, &wide)) return -1;
    // With the owner, where it may be read.
    HANDLE handle =
        OpenForQuery(wide, FILE_READ_ATTRIBUTES | READ_CONTROL, follow_links);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
      handle = OpenForQuery(wide, FILE_READ_ATTRIBUTES, follow_links);
    if (handle == INVALID_HANDLE_VALUE) return Failed();
    const int rc = InfoFromHandle(handle, info);
    CloseHandle(handle);
    return rc;
  }

  int Close(FileHandle file) override {
    Folders().Forget(AsHandle(file));
    return CloseHandle(AsHandle(file)) ? 0 : Failed();
  }

  FileHandle Dup(FileHandle file) override {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), AsHandle(file),
                         GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
      Failed();
      return kNoFile;
    }
    std::wstring path;
    if (Folders().Find(AsHandle(file), &path)) Folders().Note(copy, path);
    return AsFile(copy);
  }

  int RemoveAt(FileHandle folder, const std::string& path,
               RemoveKind kind) override {
    std::wstring wide;
    if (!Resolve(folder, path, &wide)) return -1;
    return RemoveClearingReadOnly(
        wide, kind == RemoveKind::kFolder ? RemoveDirectoryW : DeleteFileW);
  }

  int MakeFolderAt(FileHandle folder, const std::string& path,
                   uint32_t) override {
    std::wstring wide;
    if (!Resolve(folder, path, &wide)) return -1;
    return CreateDirectoryW(wide.c_str(), nullptr) ? 0 : Failed();
  }

  int Truncate(FileHandle file, int64_t length) override {
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = length;
    return SetFileInformationByHandle(AsHandle(file), FileEndOfFileInfo, &end,
                                      sizeof end)
               ? 0
               : Failed();
  }

  int SetPermissions(FileHandle file, uint32_t permissions) override {
    // A folder is opened for listing only: set it through its path.
    std::wstring path;
    if (Folders().Find(AsHandle(file), &path)) {
      return SetAttributesOf(path, permissions);
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(AsHandle(file), &data)) return Failed();
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = WithPermissions(data.dwFileAttributes, permissions);
    return SetFileInformationByHandle(AsHandle(file), FileBasicInfo, &basic,
                                      sizeof basic)
               ? 0
               : Failed();
  }

  int SetPermissionsAt(FileHandle folder, const std::string& path,
                       uint32_t permissions) override {
    std::wstring wide;
    if (!Resolve(folder, path, &wide)) return -1;
    return SetAttributesOf(wide, permissions);
  }

  int SetAttributes(FileHandle file, uint32_t attributes) override {
    constexpr DWORD kPassed =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    auto with = [&](DWORD current) {
      const DWORD kept =
          current & ~(kPassed | static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
      const DWORD wanted = kept | (attributes & kPassed);
      return wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL;
    };
    // A folder is opened for listing only: set it through its path.
    std::wstring path;
    if (Folders().Find(AsHandle(file), &path)) {
      const DWORD current = GetFileAttributesW(path.c_str());
      if (current == INVALID_FILE_ATTRIBUTES) return Failed();
      return SetFileAttributesW(path.c_str(), with(current)) ? 0 : Failed();
    }
    BY_HANDLE_FILE_INFORMATION data;
    if (!GetFileInformationByHandle(AsHandle(file), &data)) return Failed();
    const DWORD wanted = with(data.dwFileAttributes);
    if (wanted == data.dwFileAttributes) return 0;
    // Times of 0 are left as they are.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = wanted;
    return SetFileInformationByHandle(AsHandle(file), FileBasicInfo, &basic,
                                      sizeof basic)
               ? 0
               : Failed();
  }

  int SetTimes(FileHandle file, const FileTime* creation,
               const FileTime* access, const FileTime* write) override {
    FILETIME c, a, w;
    if (creation != nullptr) c = ToFiletime(*creation);
    if (access != nullptr) a = ToFiletime(*access);
    if (write != nullptr) w = ToFiletime(*write);
    return SetFileTime(AsHandle(file), creation != nullptr ? &c : nullptr,
                       access != nullptr ? &a : nullptr,
                       write != nullptr ? &w : nullptr)
               ? 0
               : Failed();
  }

  int SetCurrentFolder(const std::string& path) override {
    return SetCurrentDirectoryW(WidePath(path).c_str()) ? 0 : Failed();
  }

  int FreeSpace(const std::string& path, uint64_t* available) override {
    ULARGE_INTEGER free_to_caller;
    if (!GetDiskFreeSpaceExW(WidePath(path).c_str(), &free_to_caller, nullptr,
                             nullptr)) {
      return Failed();
    }
    *available = free_to_caller.QuadPart;
    return 0;
  }

  int Lock(FileHandle file, LockKind kind, bool wait) override {
    OVERLAPPED at{};
    DWORD flags = kind == LockKind::kExclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0;
    if (!wait) flags |= LOCKFILE_FAIL_IMMEDIATELY;
    if (LockFileEx(AsHandle(file), flags, 0, MAXDWORD, MAXDWORD, &at)) return 0;
    return Failed();
  }

  int ListFolder(FileHandle folder, std::vector<DirEntry>* entries) override {
    std::wstring path;
    if (!Folders().Find(AsHandle(folder), &path)) {
      errno = EBADF;
      return -1;
    }
    if (!path.empty() && !IsSeparator(path.back())) path += L'\\';
    path += L'*';
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileExW(path.c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr,
                                     FIND_FIRST_EX_LARGE_FETCH);
    entries->clear();
    if (search == INVALID_HANDLE_VALUE) {
      // An empty folder still lists "." and ".."; nothing at all is an error.
      return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : Failed();
    }
    do {
      const std::wstring_view name(found.cFileName);
      if (name == L"." || name == L"..") continue;
      DirEntry entry;
      entry.name = Utf8FromWide(name.data(), name.size());
      // A junction or a link to a folder is no folder to walk into.
      entry.is_dir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                     !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
      entries->push_back(std::move(entry));
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
      errno = ErrnoFor(error);
      return -1;
    }
    return 0;
  }

 private:
  static int SetAttributesOf(const std::wstring& path, uint32_t permissions) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return Failed();
    return SetFileAttributesW(path.c_str(),
                              WithPermissions(attributes, permissions))
               ? 0
               : Failed();
  }
};

}  // namespace

FileSystem* RealFiles() {
  static Win32FileSystem real;
  return &real;
}

std::wstring WidePath(const std::string& path) {
  // Each component on its own: a temporary folder's UTF-8 name joined to an
  // entry name in Windows-1252 is neither as a whole.
  std::string utf8;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    utf8 += AnsiToUtf8(std::string_view(path).substr(start, end - start));
    if (end < path.size()) utf8 += '\\';
    start = end + 1;
  }
  std::wstring wide = Utf16(utf8);
  // Long absolute paths need the prefix, which turns off the system's own
  // handling of "." and "..": resolve those first.
  if (wide.size() >= MAX_PATH - 12 && IsAbsoluteWide(wide) &&
      wide.compare(0, 4, L"\\\\?\\") != 0) {
    wide = FullPath(wide);
    if (wide.compare(0, 2, L"\\\\") == 0) {
      wide = L"\\\\?\\UNC\\" + wide.substr(2);
    } else {
      wide = L"\\\\?\\" + wide;
    }
  }
  return wide;
}

std::string Utf8FromWide(const wchar_t* text, size_t length) {
  if (length == 0) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length),
                                    nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), utf8.data(),
                      n, nullptr, nullptr);
  return utf8;
}

int ErrnoFromLastError() { return ErrnoFor(GetLastError()); }

std::string TempFolder() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
  if (n == 0 || n > MAX_PATH + 1) return "C:\\Windows\\Temp";
  std::string folder = Utf8FromWide(buffer, n);
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
    folder.pop_back();
  return folder;
}

std::optional<std::string> TempFolderVariable() {
  const DWORD n = GetEnvironmentVariableW(L"TMP", nullptr, 0);
  if (n == 0) return std::nullopt;
  std::wstring value(n, L'\0');
  const DWORD got = GetEnvironmentVariableW(L"TMP", value.data(), n);
  if (got == 0 || got >= n) return std::nullopt;
  return Utf8FromWide(value.data(), got);
}

void SetTempFolderVariable(const std::optional<std::string>& value) {
  // Both the process's block, which GetTempPathW reads, and the C library's
  // copy, which getenv reads.
  const std::wstring wide = value ? Utf16(*value) : std::wstring();
  for (const wchar_t* name : {L"TMP", L"TEMP"}) {
    SetEnvironmentVariableW(name, value ? wide.c_str() : nullptr);
    _wputenv_s(name, wide.c_str());
  }
}

uint32_t RandomNumber() {
  static uint32_t fallback = GetCurrentProcessId() * 2654435761u;
  uint32_t value = 0;
  if (BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value),
                                     sizeof value,
                                     BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return value;
  }
  return fallback++;
}

std::string AbsolutePath(const std::string& path) {
  const std::wstring wide = WidePath(path);
  if (IsAbsoluteWide(wide)) return path;
  const std::wstring full = FullPath(wide);
  return Utf8FromWide(full.data(), full.size());
}

std::string RealPath(const std::string& path) {
  HANDLE handle = OpenForQuery(WidePath(path), 0, true);
  if (handle == INVALID_HANDLE_VALUE) {
    Failed();
    return std::string();
  }
  std::wstring resolved(MAX_PATH, L'\0');
  DWORD n = GetFinalPathNameByHandleW(handle, resolved.data(),
                                      static_cast<DWORD>(resolved.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n >= resolved.size()) {
    resolved.resize(n + 1);
    n = GetFinalPathNameByHandleW(handle, resolved.data(),
                                  static_cast<DWORD>(resolved.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  }
  if (n == 0 || n >= resolved.size()) {
    Failed();
    CloseHandle(handle);
    return std::string();
  }
  CloseHandle(handle);
  resolved.resize(n);
  if (resolved.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    resolved = L"\\\\" + resolved.substr(8);
  } else if (resolved.compare(0, 4, L"\\\\?\\") == 0) {
    resolved = resolved.substr(4);
  }
  return Utf8FromWide(resolved.data(), resolved.size());
}

int MoveIntoPlace(const std::string& from, const std::string& to) {
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING)
             ? 0
             : Failed();
}

bool CanExecute(const std::string& path) {
  return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

int SetPermissionsAsNew(FileHandle, uint32_t) { return 0; }

}  // namespace morva
