#include "package/stale.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <sstream>
#include <utility>
#include <vector>

#include "package/cleanup.h"
#include "package/private_folder.h"

namespace morva {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kFolderFlags = kOpenRead | kOpenFolder | kOpenNoFollow;
// An owner file lists a few objects; more than this was not written by us.
constexpr size_t kMaxOwnerFile = 64 * 1024;

struct Claim {
  std::string name;
  uint64_t dev;
  uint64_t ino;
};

bool StartsAndEnds(const std::string& name, const std::string& prefix,
                   const std::string& suffix) {
  return name.size() > prefix.size() + suffix.size() &&
         name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A name the player gives what it makes in the temporary folder.
bool IsPlayerName(const std::string& name) {
  return StartsAndEnds(name, "QZ", ".tmp") &&
         name.find('/') == std::string::npos;
}

bool IsPrivateName(const std::string& name) {
  return IsPlayerName(name) && StartsAndEnds(name, kPrivatePrefix, ".tmp");
}

std::vector<Claim> ParseOwnerFile(const std::string& text) {
  std::vector<Claim> claims;
  const std::string header = kOwnerHeader;
  if (text.compare(0, header.size(), header) != 0) return claims;
  size_t pos = header.size();
  // Whole lines only: a player killed while writing one leaves it cut.
  for (size_t end; (end = text.find('\n', pos)) != std::string::npos;
       pos = end + 1) {
    std::istringstream line(text.substr(pos, end - pos));
    Claim claim;
    uintmax_t dev = 0;
    uintmax_t ino = 0;
    if (line >> claim.name >> dev >> ino && IsPlayerName(claim.name) &&
        !IsPrivateName(claim.name)) {
      claim.dev = dev;
      claim.ino = ino;
      claims.push_back(std::move(claim));
    }
  }
  return claims;
}

// A private folder of an ended player, open, with its owner file locked.
class StaleOwner {
 public:
  StaleOwner(FileSystem* fs, FileHandle temp_fd, const std::string& name,
             LockKind lock)
      : fs_(fs), name_(name) {
    if (!IsPrivateName(name)) return;
    FileInfo info;
    // Ours only: a real folder (never a link), this user's, shut to others.
    folder_fd_ = fs_->OpenAt(temp_fd, name, kFolderFlags, 0);
    if (folder_fd_ < 0 || fs_->Stat(folder_fd_, &info) != 0 || !info.mine ||
        !info.shut_to_others) {
      return;
    }
    // Non-blocking: a FIFO planted there must not hang the sweep.
    owner_fd_ = fs_->OpenAt(
        folder_fd_, kOwnerFileName,
        kOpenRead | kOpenNoFollow | kOpenNonBlocking | kOpenNoTerminal, 0);
    if (owner_fd_ < 0 || fs_->Stat(owner_fd_, &info) != 0 ||
        info.kind != FileKind::kFile || !info.mine || info.links != 1 ||
        info.size > kMaxOwnerFile) {
      return;
    }
    // A live player holds the lock for its whole life.
    if (fs_->Lock(owner_fd_, lock, false) != 0) return;
    std::string text(static_cast<size_t>(info.size), '\0');
    size_t done = 0;
    while (done < text.size()) {
      const int64_t n =
          fs_->Read(owner_fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return;
      if (n == 0) break;
      done += static_cast<size_t>(n);
    }
    text.resize(done);
    // No header yet: a player that died before its first line, or one that
    // is being born between making the file and locking it. Not proven.
    if (text.compare(0, strlen(kOwnerHeader), kOwnerHeader) != 0) return;
    claims_ = ParseOwnerFile(text);
    stale_ = true;
  }
  ~StaleOwner() {
    if (owner_fd_ >= 0) fs_->Close(owner_fd_);
    if (folder_fd_ >= 0) fs_->Close(folder_fd_);
  }
  StaleOwner(const StaleOwner&) = delete;
  StaleOwner& operator=(const StaleOwner&) = delete;

  bool stale() const { return stale_; }
  FileHandle folder_fd() const { return folder_fd_; }
  // Closes the owner file, which releases its lock.
  void CloseOwnerFile() {
    if (owner_fd_ >= 0) fs_->Close(owner_fd_);
    owner_fd_ = kNoFile;
  }
  const std::string& name() const { return name_; }
  const std::vector<Claim>& claims() const { return claims_; }

 private:
  FileSystem* fs_;
  std::string name_;
  FileHandle folder_fd_ = kNoFile;
  FileHandle owner_fd_ = kNoFile;
  bool stale_ = false;
  std::vector<Claim> claims_;
};

// What a listed name holds now: the object that was claimed, a link, or
// nothing of ours.
enum class Found { kNothing, kClaimed, kLink };

Found Look(FileSystem* fs, FileHandle temp_fd, const std::string& name,
           const std::vector<Claim>& claims, FileInfo* info) {
  if (fs->StatAt(temp_fd, name, info, false) != 0 || !info->mine) {
    return Found::kNothing;
  }
  if (info->kind == FileKind::kLink) return Found::kLink;
  for (const Claim& claim : claims) {
    if (claim.name == name && claim.dev == info->volume &&
        claim.ino == info->file_id) {
      return Found::kClaimed;
    }
  }
  return Found::kNothing;
}

uint64_t DiskUse(FileSystem* fs, FileHandle dir_fd) {
  uint64_t bytes = 0;
  std::vector<DirEntry> entries;
  if (fs->ListFolder(dir_fd, &entries) != 0) return 0;
  for (const DirEntry& entry : entries) {
    FileInfo info;
    if (fs->StatAt(dir_fd, entry.name, &info, false) != 0) continue;
    bytes += info.allocated;
    if (entry.is_dir) {
      const FileHandle sub = fs->OpenAt(dir_fd, entry.name, kFolderFlags, 0);
      if (sub >= 0) {
        bytes += DiskUse(fs, sub);
        fs->Close(sub);
      }
    }
  }
  return bytes;
}

// Calls fn for every stale private folder in the temporary folder.
template <typename Fn>
void ForEachStale(const std::string& temp_folder, FileSystem* fs, LockKind lock,
                  Fn fn) {
  const FileHandle temp_fd =
      fs->OpenAt(kCurrentFolder, temp_folder, kOpenRead | kOpenFolder, 0);
  if (temp_fd < 0) return;
  std::vector<DirEntry> entries;
  if (fs->ListFolder(temp_fd, &entries) == 0) {
    for (const DirEntry& entry : entries) {
      if (!entry.is_dir || !IsPrivateName(entry.name)) continue;
      StaleOwner owner(fs, temp_fd, entry.name, lock);
      if (owner.stale() && !fn(temp_fd, owner)) break;
    }
  }
  fs->Close(temp_fd);
}

}  // namespace

StaleReport FindStale(const std::string& temp_folder, FileSystem* fs) {
  StaleReport report;
  ForEachStale(
      temp_folder, fs, LockKind::kShared,
      [&](FileHandle temp_fd, StaleOwner& owner) {
        ++report.players;
        ++report.folders;
        FileInfo st;
        if (fs->StatAt(temp_fd, owner.name(), &st, false) == 0) {
          report.bytes += st.allocated;
        }
        report.bytes += DiskUse(fs, owner.folder_fd());
        std::vector<std::string> seen;
        for (const Claim& claim : owner.claims()) {
          if (std::find(seen.begin(), seen.end(), claim.name) != seen.end()) {
            continue;
          }
          if (Look(fs, temp_fd, claim.name, owner.claims(), &st) !=
              Found::kClaimed) {
            continue;
          }
          seen.push_back(claim.name);
          report.bytes += st.allocated;
          if (st.kind == FileKind::kFolder) {
            ++report.folders;
            const FileHandle sub =
                fs->OpenAt(temp_fd, claim.name, kFolderFlags, 0);
            if (sub >= 0) {
              report.bytes += DiskUse(fs, sub);
              fs->Close(sub);
            }
          } else {
            ++report.files;
          }
        }
        return true;
      });
  return report;
}

StaleReport SweepStale(const std::string& temp_folder, FileSystem* fs,
                       const std::atomic<bool>& stop,
                       Clock::time_point deadline) {
  StaleReport report;
  const std::function<bool()> give_up = [&] {
    return stop.load() || Clock::now() >= deadline;
  };
  ForEachStale(
      temp_folder, fs, LockKind::kExclusive,
      [&](FileHandle temp_fd, StaleOwner& owner) {
        if (give_up()) return false;
        bool complete = true;
        StaleReport removed;
        for (const Claim& claim : owner.claims()) {
          FileInfo st;
          switch (Look(fs, temp_fd, claim.name, owner.claims(), &st)) {
            case Found::kNothing:
              break;
            case Found::kLink:
              if (fs->RemoveAt(temp_fd, claim.name, RemoveKind::kFile) != 0)
                complete = false;
              break;
            case Found::kClaimed:
              if (st.kind != FileKind::kFolder) {
                if (fs->RemoveAt(temp_fd, claim.name, RemoveKind::kFile) == 0) {
                  ++removed.files;
                } else {
                  complete = false;
                }
                break;
              }
              const FileHandle sub =
                  fs->OpenAt(temp_fd, claim.name, kFolderFlags, 0);
              FileInfo opened;
              // Still the same folder, now that it is open.
              if (sub >= 0 && fs->Stat(sub, &opened) == 0 &&
                  opened.volume == st.volume && opened.file_id == st.file_id) {
                EmptyFolderAt(fs, sub, "", give_up);
                if (fs->RemoveAt(temp_fd, claim.name, RemoveKind::kFolder) ==
                    0) {
                  ++removed.folders;
                } else {
                  complete = false;
                }
              } else {
                complete = false;
              }
              if (sub >= 0) fs->Close(sub);
              break;
          }
          if (give_up()) return false;
        }
        // The owner file last: until everything it lists is gone, it stays as
        // the proof for the next sweep.
        if (complete &&
            EmptyFolderAt(fs, owner.folder_fd(), kOwnerFileName, give_up) &&
            (!kOpenFilesKeepTheirNames || (owner.CloseOwnerFile(), true)) &&
            fs->RemoveAt(owner.folder_fd(), kOwnerFileName,
                         RemoveKind::kFile) == 0 &&
            fs->RemoveAt(temp_fd, owner.name(), RemoveKind::kFolder) == 0) {
          ++removed.players;
          ++removed.folders;
          report.players += removed.players;
          report.folders += removed.folders;
          report.files += removed.files;
        }
        return !give_up();
      });
  return report;
}

StaleSweeper::StaleSweeper(std::string temp_folder, FileSystem* fs,
                           std::chrono::milliseconds budget) {
  const Clock::time_point deadline = Clock::now() + budget;
  thread_ =
      std::thread([this, temp_folder = std::move(temp_folder), fs, deadline] {
        SweepStale(temp_folder, fs, stop_, deadline);
      });
}

StaleSweeper::~StaleSweeper() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

}  // namespace morva
