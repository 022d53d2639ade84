#include "tools/zip_folder.h"

#include <minizip/zip.h>
#ifdef _WIN32
#include <minizip/iowin32.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "package/archive/archive.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/path.h"

namespace morva::pack {
namespace {

constexpr uint32_t kDosReadOnly = 0x01;
constexpr uint32_t kDosDirectory = 0x10;
constexpr uLong kMadeByUnix = (3 << 8) | 20;  // host 3 (Unix), version 2.0
constexpr uLong kFlagUtf8Name = 0x800;
constexpr int32_t kMaxEntries = 65535;
constexpr size_t kChunk = 65536;

// A new archive at path; minizip's own functions take a path in the ANSI
// code page on Windows, so there it writes through the wide ones.
zipFile OpenZipToWrite(const std::string& path) {
#ifdef _WIN32
  zlib_filefunc64_def functions;
  fill_win32_filefunc64W(&functions);
  const std::wstring wide = WidePath(path);
  zipFile zip =
      zipOpen2_64(wide.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  // Its functions leave the reason in the last error, not in errno.
  if (zip == nullptr) errno = ErrnoFromLastError();
  return zip;
#else
  return zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
#endif
}

// The "UT" extended-timestamp block with the modification time only: the
// player takes the exact second from it, and leaving the access time out
// keeps a package the same when its files were merely read.
std::string TimestampBlock(int64_t mtime) {
  const uint32_t t = static_cast<uint32_t>(static_cast<int32_t>(mtime));
  return std::string{'U',
                     'T',
                     5,
                     0,
                     1,
                     static_cast<char>(t & 0xFF),
                     static_cast<char>((t >> 8) & 0xFF),
                     static_cast<char>((t >> 16) & 0xFF),
                     static_cast<char>(t >> 24)};
}

// Names that are UTF-8 beyond ASCII get the language-encoding flag, so that
// other ZIP tools show them right; the player itself takes names as bytes.
bool IsUtf8BeyondAscii(const std::string& name) {
  bool beyond = false;
  for (size_t i = 0; i < name.size();) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    size_t length = c < 0x80         ? 1
                    : (c >> 5) == 6  ? 2
                    : (c >> 4) == 14 ? 3
                    : (c >> 3) == 30 ? 4
                                     : 0;
    if (length == 0 || i + length > name.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      if ((static_cast<unsigned char>(name[i + k]) >> 6) != 2) return false;
    }
    beyond = beyond || length > 1;
    i += length;
  }
  return beyond;
}

class FolderZipper {
 public:
  FolderZipper(std::string source, const std::vector<AddedFile>& added,
               std::vector<std::string>* notes, std::string* error)
      : source_(std::move(source)), notes_(notes), error_(error) {
    for (const AddedFile& file : added) added_[file.name] = &file;
  }

  bool Run(const std::string& archive_path, int32_t* entries) {
    // The folder named on the command line may be a link; what lies in it
    // may not.
    const FileHandle root =
        fs_->OpenAt(kCurrentFolder, source_, kOpenRead | kOpenFolder, 0);
    if (root < 0) return Fail(ErrnoMessage("open", source_));
    zip_ = OpenZipToWrite(archive_path);
    if (zip_ == nullptr) {
      fs_->Close(root);
      return Fail(ErrnoMessage("zipOpen64", archive_path));
    }
    bool ok = AddFolderContents(root, "");
    fs_->Close(root);
    if (ok && !added_.empty()) {
      ok = Fail(PathOf(added_.begin()->first) +
                ": cannot be added; the folder has no folder for it");
    }
    if (zipClose(zip_, nullptr) != ZIP_OK && ok) {
      ok = Fail(ErrnoMessage("zipClose", archive_path));
    }
    zip_ = nullptr;
    FileInfo st;
    if (ok && fs_->StatAt(kCurrentFolder, archive_path, &st, true) == 0 &&
        st.size > UINT32_MAX) {
      ok = Fail(source_ +
                ": the archive would be 4 GiB or more; a package's "
                "trailer holds 32 bits");
    }
    if (!ok) RemoveFile(archive_path);
    *entries = count_;
    return ok;
  }

 private:
  bool Fail(const std::string& message) {
    if (error_->empty()) *error_ = message;
    return false;
  }
  // The path on disk of an entry name, in the system's separator.
  std::string PathOf(const std::string& entry_name) const {
    std::string rel = entry_name;
    if (!rel.empty() && rel.back() == '/') rel.pop_back();
    std::replace(rel.begin(), rel.end(), '/', kPathSeparator);
    return JoinPath(source_, rel);
  }

  bool AddFolderContents(FileHandle dir_fd, const std::string& prefix) {
    std::vector<DirEntry> entries;
    if (fs_->ListFolder(dir_fd, &entries) != 0) {
      return Fail(ErrnoMessage("readdir", PathOf(prefix)));
    }
    std::vector<std::string> names;
    for (DirEntry& entry : entries) names.push_back(std::move(entry.name));
    for (auto it = added_.lower_bound(prefix);
         it != added_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
         ++it) {
      const std::string name = it->first.substr(prefix.size());
      if (name.find('/') != std::string::npos) continue;
      if (std::find(names.begin(), names.end(), name) != names.end()) {
        return Fail(PathOf(it->first) +
                    ": exists already; it cannot be added as well");
      }
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const auto added = added_.find(prefix + name);
      if (added != added_.end()) {
        if (!AddMemoryFile(*added->second)) return false;
        added_.erase(added);
      } else if (!AddItem(dir_fd, name, prefix + name)) {
        return false;
      }
    }
    return true;
  }

  bool AddMemoryFile(const AddedFile& file) {
    FileInfo st;
    st.kind = FileKind::kFile;
    st.permissions = 0644;
    st.write_time = UnixSecondsToFileTime(file.mtime);
    st.size = file.bytes.size();
    return AddEntry(file.name, st, kNoFile, &file.bytes);
  }

  bool AddItem(FileHandle dir_fd, const std::string& name,
               const std::string& rel) {
    const std::string path = PathOf(rel);
    if (rel.find('\\') != std::string::npos) {
      return Fail(path +
                  ": the name holds \"\\\", which the player takes for a "
                  "folder separator; rename it");
    }
    FileInfo st;
    if (fs_->StatAt(dir_fd, name, &st, false) != 0) {
      return Fail(ErrnoMessage("stat", path));
    }
    if (st.kind == FileKind::kLink) {
      return Fail(path +
                  ": a symbolic link; packages hold no links, so put "
                  "the file or folder itself there");
    }
    if (st.kind != FileKind::kFolder && st.kind != FileKind::kFile) {
      return Fail(path + ": neither a file nor a folder");
    }
    // Opened without following links and checked again on the handle, so a
    // swap after the stat above cannot lead outside the folder.
    const uint32_t flags =
        kOpenRead | kOpenNoFollow | kOpenNonBlocking |
        (st.kind == FileKind::kFolder ? uint32_t{kOpenFolder} : 0u);
    const FileHandle fd = fs_->OpenAt(dir_fd, name, flags, 0);
    if (fd < 0) return Fail(ErrnoMessage("open", path));
    bool ok = fs_->Stat(fd, &st) == 0;
    if (!ok) {
      ok = Fail(ErrnoMessage("fstat", path));
    } else if (st.kind == FileKind::kFolder) {
      ok = AddEntry(rel + "/", st, kNoFile) && AddFolderContents(fd, rel + "/");
    } else if (st.kind == FileKind::kFile) {
      ok = AddEntry(rel, st, fd);
    } else {
      ok = Fail(path + ": neither a file nor a folder");
    }
    fs_->Close(fd);
    return ok;
  }

  // The data comes from fd, or from `bytes` when fd is kNoFile and bytes
  // is set; a folder has none.
  bool AddEntry(const std::string& entry_name, const FileInfo& st,
                FileHandle fd, const std::string* bytes = nullptr) {
    const std::string path = PathOf(entry_name);
    if (entry_name.size() >= static_cast<size_t>(kArchiveNameSize)) {
      return Fail(path + ": the entry name is " +
                  std::to_string(entry_name.size()) +
                  " bytes long; the player takes 259 at most");
    }
    if (count_ == kMaxEntries) {
      return Fail(source_ + ": more than 65535 entries");
    }
    const bool is_dir = st.kind == FileKind::kFolder;
    if (!is_dir && st.size > UINT32_MAX) {
      return Fail(path + ": 4 GiB or more; a package holds smaller files only");
    }

    const int64_t mtime = FileTimeToUnixSeconds(st.write_time);
    zip_fileinfo info{};
    info.dosDate = DosDateTimeUtc(mtime);
    // The Unix mode in the high word, as packs made on any system carry it.
    constexpr uint32_t kUnixFolder = 0040000, kUnixFile = 0100000;
    uint32_t external = ((is_dir ? kUnixFolder : kUnixFile) | st.permissions)
                        << 16;
    if ((st.permissions & 0222) == 0) external |= kDosReadOnly;
    if (is_dir) external |= kDosDirectory;
    info.external_fa = external;
    std::string extra;
    if (mtime >= INT32_MIN && mtime <= INT32_MAX) {
      extra = TimestampBlock(mtime);
    } else {
      notes_->push_back(path +
                        ": its time does not fit the archive's "
                        "32-bit seconds; the DOS date-time alone is kept");
    }
    const uInt extra_size = static_cast<uInt>(extra.size());
    const void* extra_data = extra.empty() ? nullptr : extra.data();
    const int method = is_dir ? 0 : Z_DEFLATED;
    const int level = is_dir ? 0 : Z_BEST_COMPRESSION;
    if (zipOpenNewFileInZip4_64(
            zip_, entry_name.c_str(), &info, extra_data, extra_size, extra_data,
            extra_size, nullptr, method, level, 0, -MAX_WBITS, DEF_MEM_LEVEL,
            Z_DEFAULT_STRATEGY, nullptr, 0, kMadeByUnix,
            IsUtf8BeyondAscii(entry_name) ? kFlagUtf8Name : 0,
            /*zip64=*/0) != ZIP_OK) {
      return Fail(path + ": cannot add it to the archive");
    }
    bool ok = true;
    if (bytes != nullptr &&
        zipWriteInFileInZip(zip_, bytes->data(),
                            static_cast<unsigned>(bytes->size())) != ZIP_OK) {
      ok = Fail(path + ": cannot write it into the archive");
    }
    if (fd >= 0) {
      if (!buffer_) buffer_ = std::make_unique<char[]>(kChunk);
      for (;;) {
        const int64_t n = ReadFully(fd, buffer_.get(), kChunk);
        if (n < 0) {
          ok = Fail(ErrnoMessage("read", path));
          break;
        }
        if (n == 0) break;
        if (zipWriteInFileInZip(zip_, buffer_.get(),
                                static_cast<unsigned>(n)) != ZIP_OK) {
          ok = Fail(path + ": cannot write it into the archive");
          break;
        }
      }
    }
    if (zipCloseFileInZip(zip_) != ZIP_OK && ok) {
      ok = Fail(path + ": cannot finish its entry in the archive");
    }
    ++count_;
    return ok;
  }

  FileSystem* fs_ = Files();
  std::string source_;
  std::vector<std::string>* notes_;
  std::string* error_;
  zipFile zip_ = nullptr;
  int32_t count_ = 0;
  std::unique_ptr<char[]> buffer_;
  // The added files not written yet, by entry name.
  std::map<std::string, const AddedFile*> added_;
};

}  // namespace

uint32_t DosDateTimeUtc(int64_t seconds) {
  constexpr int64_t kFirst = 315532800;  // 1980-01-01 00:00:00
  constexpr int64_t kLast = 4354819198;  // 2107-12-31 23:59:58
  seconds = std::clamp(seconds, kFirst, kLast);
  std::tm utc{};
  FileTimeToUtc(UnixSecondsToFileTime(seconds), &utc);
  const uint32_t date = static_cast<uint32_t>(
      ((utc.tm_year - 80) << 9) | ((utc.tm_mon + 1) << 5) | utc.tm_mday);
  const uint32_t time = static_cast<uint32_t>(
      (utc.tm_hour << 11) | (utc.tm_min << 5) | (utc.tm_sec / 2));
  return date << 16 | time;
}

bool ZipFolder(const std::string& source, const std::string& archive_path,
               int32_t* entries, std::vector<std::string>* notes,
               std::string* error, const std::vector<AddedFile>& added) {
  error->clear();
  std::string folder = source;
  while (folder.size() > 1 && folder.back() == kPathSeparator)
    folder.pop_back();
  return FolderZipper(folder, added, notes, error).Run(archive_path, entries);
}

}  // namespace morva::pack
