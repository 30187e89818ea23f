#include "platform/files.h"

#include "text/display.h"
#include "text/system_reason.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/linux/write_all.h"
#include "platform/system_error.h"

namespace lumivane::platform {

namespace {

// Paths are used as the bytes they are: a host may hand over a path that is
// not UTF-8, and the file it names is the one to write.

[[noreturn]] void ThrowWriteError(const std::string& path, int code) {
  throw FileError(text::CannotWriteFile(path, SystemErrorText(code)));
}

[[noreturn]] void ThrowReadError(const std::string& path, int code) {
  throw FileError(text::CannotReadFile(path, SystemErrorText(code)));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Closes the descriptor and removes the temporary file unless released.
class TemporaryFile {
 public:
  explicit TemporaryFile(const std::string& folder) {
    // A short name of its own, so that a target whose name is near the
    // system's limit can still be replaced.
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string name = TemporaryPathIn(folder + "/");
      fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0) {
        path_ = std::move(name);
        return;
      }
      if (errno != EEXIST) return;
    }
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }
  // Closes the descriptor; false (errno set) when the system reports an error.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }
  void Release() { path_.clear(); }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

void ReplaceFileContents(const std::string& path, const std::string& bytes,
                         const base::CancellationToken* cancel) {
  // A file the user may not write, or that has no write permission at all
  // (which root's rights would pass over), is the host's to keep: refused,
  // as Windows refuses one marked read-only. The rename would not ask.
  struct stat existing {};
  const bool existed = ::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (existed && ::access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS)) {
    ThrowWriteError(path, errno);
  }
  if (existed && (existing.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    ThrowWriteError(path, EACCES);
  }
  const std::string folder = FolderOf(path);
  TemporaryFile temporary(folder);
  if (temporary.fd() < 0) ThrowWriteError(path, errno);

  // A file replaced keeps its permissions.
  if (existed) ::fchmod(temporary.fd(), existing.st_mode & 07777);

  if (const int error = posix::WriteAll(temporary.fd(), bytes)) ThrowWriteError(path, error);
  // The data must be on disk before the rename makes it the target's content.
  if (::fsync(temporary.fd()) != 0) ThrowWriteError(path, errno);
  if (!temporary.Close()) ThrowWriteError(path, errno);
  if (cancel != nullptr && cancel->IsCancelled()) throw base::OperationCancelled();
  if (::rename(temporary.path().c_str(), path.c_str()) != 0) ThrowWriteError(path, errno);
  temporary.Release();

  // The new name itself reaches the disk with its folder. The file is in
  // place already; a folder that cannot be synced (some network file
  // systems) changes nothing the user could act on.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    (void)::fsync(dir);
    ::close(dir);
  }
}

std::string ReadFileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) ThrowReadError(path, errno);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      ThrowReadError(path, code);
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return bytes;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::string> CreateFolder(const std::string& path, bool parents) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return std::nullopt;
    return std::string(text::kNotAFolderReason);
  }
  if (parents) {
    const std::size_t slash = path.find_last_not_of('/') == std::string::npos
                                  ? std::string::npos
                                  : path.rfind('/', path.find_last_not_of('/'));
    if (slash != std::string::npos && slash > 0) {
      if (auto reason = CreateFolder(path.substr(0, slash), true)) return reason;
    }
  }
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return SystemErrorText(errno);
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return std::string(text::kNotAFolderReason);
  }
  return std::nullopt;
}

std::optional<std::string> CheckWritableFolder(const std::string& folder) {
  const std::string probe = TemporaryPathIn(WithTrailingSeparator(folder));
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return SystemErrorText(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return std::nullopt;
}

bool MoveFileToFreeName(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) ThrowWriteError(to, errno);
  // A file system without the flag (some network ones): a second name made
  // exclusively, then the first one dropped.
  if (::link(from.c_str(), to.c_str()) != 0) {
    if (errno == EEXIST) return false;
    ThrowWriteError(to, errno);
  }
  ::unlink(from.c_str());
  return true;
}

void CopyToNewFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) ThrowReadError(from, errno);
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (out < 0) {
    const int code = errno;
    ::close(in);
    ThrowWriteError(to, code);
  }
  // The kernel copies (or shares the blocks, where the file system can);
  // nothing of the picture passes through the module's memory.
  int error = 0;
  for (;;) {
    const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n > 0) continue;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    break;
  }
  if (error == 0 && ::fsync(out) != 0) error = errno;
  if (::close(out) != 0 && error == 0) error = errno;
  ::close(in);
  if (error != 0) {
    ::unlink(to.c_str());
    ThrowWriteError(to, error);
  }
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

namespace {

FileTime ModifiedAt(const struct stat& info) {
  return FileTime(std::chrono::duration_cast<FileTime::duration>(
      std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
}

FolderEntry::Kind KindOf(const struct stat& info) {
  if (S_ISREG(info.st_mode)) return FolderEntry::Kind::kFile;
  if (S_ISDIR(info.st_mode)) return FolderEntry::Kind::kFolder;
  return FolderEntry::Kind::kOther;
}

// The entries of the open folder `dir` (not closed here), seen without
// following links.
std::vector<FolderEntry> EntriesOfFolder(int dir, std::string_view prefix = {}) {
  std::vector<FolderEntry> entries;
  const int listed = ::dup(dir);
  DIR* listing = listed < 0 ? nullptr : ::fdopendir(listed);
  if (listing == nullptr) {
    if (listed >= 0) ::close(listed);
    return entries;
  }
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name == "." || name == ".." || !name.starts_with(prefix)) continue;
    struct stat info {};
    if (::fstatat(dir, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    entries.push_back(
        {std::string(name), KindOf(info), info.st_uid == ::geteuid(), ModifiedAt(info)});
  }
  ::closedir(listing);
  return entries;
}

}  // namespace

std::vector<FolderEntry> EntriesOf(const std::string& folder, std::string_view prefix) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return {};
  std::vector<FolderEntry> entries = EntriesOfFolder(dir, prefix);
  ::close(dir);
  return entries;
}

bool CreatePrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0) return true;
  if (errno == EEXIST) return false;
  ThrowWriteError(path, errno);
}

bool RemoveOwnFolderOfFiles(const std::string& path) noexcept {
  // The folder is opened once, never through a link, and everything below
  // is removed relative to it: swapping it for a link meanwhile leads nowhere.
  const int dir = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dir < 0) return false;
  struct stat info {};
  bool removable = ::fstat(dir, &info) == 0 && info.st_uid == ::geteuid();
  std::vector<FolderEntry> entries;
  if (removable) entries = EntriesOfFolder(dir);
  for (const FolderEntry& entry : entries) {
    removable = removable && entry.kind == FolderEntry::Kind::kFile && entry.own;
  }
  if (removable) {
    for (const FolderEntry& entry : entries) ::unlinkat(dir, entry.name.c_str(), 0);
  }
  ::close(dir);
  return removable && ::rmdir(path.c_str()) == 0;
}

HeldFile::~HeldFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

bool HeldFile::Create(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) ThrowWriteError(path, errno);
  handle_ = fd;
  path_ = path;
  // Held for as long as this run lives: the system lets go when it ends,
  // however it ends. A file system without locks (NFS without its lock
  // service) refuses: the file is there all the same, unheld.
  return ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

bool HeldFile::IsOpen() const { return handle_ >= 0; }

void HeldFile::Append(std::string_view text) {
  if (const int error = posix::WriteAll(static_cast<int>(handle_), text)) {
    ThrowWriteError(path_, error);
  }
}

void HeldFile::Remove() noexcept {
  if (handle_ < 0) return;
  // Removed while still held: no other run reads it half gone.
  ::unlink(path_.c_str());
  ::close(static_cast<int>(handle_));
  handle_ = -1;
}

HeldFile::Probe HeldFile::Look(const std::string& path) {
  Probe probe;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return probe;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return probe;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) probe.state = Probe::State::kHeld;
    ::close(fd);
    return probe;
  }
  char buffer[256];
  const ssize_t n = ::read(fd, buffer, sizeof buffer);
  if (n >= 0) {
    probe.state = Probe::State::kFree;
    probe.contents.assign(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return probe;
}

void RemoveFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

bool RemoveEmptyFolder(const std::string& path) noexcept {
  return ::rmdir(path.c_str()) == 0 || errno == ENOENT;
}

void SyncFolder(const std::string& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) throw FileError(text::CannotWriteInFolder(folder, SystemErrorText(errno)));
  // Only this folder: never a flush of the whole file system, which holds
  // every other user's data too.
  const int result = ::fsync(dir);
  const int code = errno;
  ::close(dir);
  // A folder that cannot be synced at all (some network file systems) is
  // as durable as it can be made.
  if (result != 0 && code != EINVAL && code != EROFS) {
    throw FileError(text::CannotWriteInFolder(folder, SystemErrorText(code)));
  }
}

}  // namespace lumivane::platform
