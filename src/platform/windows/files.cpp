#include "platform/files.h"

#include "text/display.h"
#include "text/system_reason.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/system_error.h"
#include "platform/windows/far_lock.h"
#include "platform/windows/handle.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {
namespace {

using windows::FileHandle;

[[noreturn]] void ThrowWriteError(const std::string& path, DWORD code) {
  throw FileError(text::CannotWriteFile(path, SystemErrorText(static_cast<int>(code))));
}

[[noreturn]] void ThrowReadError(const std::string& path, DWORD code) {
  throw FileError(text::CannotReadFile(path, SystemErrorText(static_cast<int>(code))));
}

// ReplaceFileW gives the new contents the host's file's permissions and
// attributes (and its streams, its creation time); Wine's only moves the new
// file over the old one, with the new file's own. The temporary file takes
// them on beforehand, so that they stay either way. A part that cannot be
// copied is left to ReplaceFileW.
void TakeOnTheTargetsLooks(const std::wstring& target, const std::wstring& temporary) {
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(target.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const SECURITY_INFORMATION what =
        DACL_SECURITY_INFORMATION |
        ((control & SE_DACL_PROTECTED) != 0 ? PROTECTED_DACL_SECURITY_INFORMATION
                                            : UNPROTECTED_DACL_SECURITY_INFORMATION);
    SetNamedSecurityInfoW(const_cast<wchar_t*>(temporary.c_str()), SE_FILE_OBJECT, what, nullptr,
                          nullptr, dacl, nullptr);
    LocalFree(descriptor);
  }
  const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  SetFileAttributesW(temporary.c_str(), kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL);
}

// Whether the file could be renamed away now: ERROR_SUCCESS, or why not
// (another program holds it without sharing that, it is read-only, gone).
// Wine's ReplaceFileW leaves a file of its own beside a target it could
// not move, so it is not called on one that is held.
DWORD CanBeMovedAway(const std::wstring& path) {
  const FileHandle probe(CreateFileW(path.c_str(), DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe.valid() ? ERROR_SUCCESS : GetLastError();
}

// Over the host's file, ReplaceFileW; where there is none, a plain rename
// that never replaces what appeared meanwhile. A read-only file is refused
// (ERROR_ACCESS_DENIED): its flag is the host's.
bool PutInPlace(const std::wstring& from, const std::wstring& to, DWORD& error) {
  const DWORD attributes = GetFileAttributesW(to.c_str());
  const bool file_there =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  if (file_there && (error = CanBeMovedAway(to)) != ERROR_SUCCESS) return false;
  const BOOL done = file_there ? ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                              REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                               : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH);
  if (!done) error = GetLastError();
  return done != 0;
}

// Another program (the indexer, an antivirus, a backup tool) often opens a
// file for a moment right after it was written: the replacement is tried
// again for about a second before it counts as failed. So is one that found
// the target gone or come meanwhile (ReplaceFileW may leave it gone).
bool MoveOverTarget(const std::wstring& from, const std::wstring& to, DWORD& error) {
  for (int attempt = 0;; ++attempt) {
    if (PutInPlace(from, to, error)) return true;
    const bool transient =
        error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
        error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED ||
        error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_FILE_NOT_FOUND ||
        error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    if (!transient || attempt >= 20) return false;
    Sleep(50);
  }
}

// A new file of a fresh temporary name in `folder`, open for writing, its
// path in `path`; CREATE_NEW never takes over somebody else's file. A failure
// throws, naming `named`, or the temporary file when `named` is empty.
HANDLE CreateTemporaryIn(const std::string& folder, std::string& path, const std::string& named) {
  for (unsigned attempt = 0;; ++attempt) {
    path = TemporaryPathIn(folder);
    const HANDLE created = CreateFileW(windows::WindowsPath(path).c_str(), GENERIC_WRITE, 0,
                                       nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE) return created;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS || attempt >= 100) {
      ThrowWriteError(named.empty() ? path : named, error);
    }
  }
}

}  // namespace

void ReplaceFileContents(const std::string& path, const std::string& bytes,
                         const base::CancellationToken* cancel) {
  const std::size_t separator = path.find_last_of("\\/");
  const std::string folder =
      separator == std::string::npos ? std::string(".\\") : path.substr(0, separator + 1);

  // A new temporary file beside the target, so that the rename stays on one
  // volume.
  std::string temporary_path;
  FileHandle file(CreateTemporaryIn(folder, temporary_path, path));
  const std::wstring temporary = windows::WindowsPath(temporary_path);

  DWORD error = windows::WriteAll(file.get(), bytes);
  // The data must be on disk before the rename makes it the target's content.
  if (error == ERROR_SUCCESS && !FlushFileBuffers(file.get())) error = GetLastError();
  if (error == ERROR_SUCCESS && !file.Close()) error = GetLastError();
  const std::wstring target = windows::WindowsPath(path);
  if (error == ERROR_SUCCESS) TakeOnTheTargetsLooks(target, temporary);
  if (error == ERROR_SUCCESS && cancel != nullptr && cancel->IsCancelled()) {
    DeleteFileW(temporary.c_str());
    throw base::OperationCancelled();
  }
  if (error == ERROR_SUCCESS && MoveOverTarget(temporary, target, error)) return;

  file.Close();
  // The temporary file goes; the target was never touched.
  DeleteFileW(temporary.c_str());
  ThrowWriteError(path, error);
}

std::string ReadFileBytes(const std::string& path) {
  // Others may go on reading, writing or renaming the file meanwhile.
  FileHandle file(CreateFileW(windows::WindowsPath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) ThrowReadError(path, GetLastError());
  LARGE_INTEGER size{};
  std::string bytes;
  if (GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
    bytes.reserve(static_cast<std::size_t>(size.QuadPart));
  }
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
      ThrowReadError(path, GetLastError());
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return bytes;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(windows::WindowsPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(windows::WindowsPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::string> CreateFolder(const std::string& path, bool parents) {
  const std::string kNotAFolder(text::kNotAFolderReason);
  std::wstring target = windows::WindowsPath(path);
  while (target.size() > 3 && (target.back() == L'\\' || target.back() == L'/')) target.pop_back();
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
    return kNotAFolder;
  }
  // The missing folders, from the deepest up to the first one that exists;
  // then made from the top down.
  std::vector<std::wstring> missing{target};
  if (parents) {
    std::wstring above = target;
    for (;;) {
      const std::size_t separator = above.find_last_of(L"\\/");
      if (separator == std::wstring::npos || separator < 3) break;
      above.resize(separator);
      // "C:" or "\\?\C:": the drive itself, never made here.
      if (above.back() == L':' || above.back() == L'?') break;
      const DWORD found = GetFileAttributesW(above.c_str());
      if (found != INVALID_FILE_ATTRIBUTES) {
        if ((found & FILE_ATTRIBUTE_DIRECTORY) == 0) return kNotAFolder;
        break;
      }
      missing.push_back(above);
    }
  }
  for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
    if (!CreateDirectoryW(folder->c_str(), nullptr)) {
      const DWORD error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS) return SystemErrorText(static_cast<int>(error));
    }
  }
  const DWORD made = GetFileAttributesW(target.c_str());
  if (made == INVALID_FILE_ATTRIBUTES || (made & FILE_ATTRIBUTE_DIRECTORY) == 0) return kNotAFolder;
  return std::nullopt;
}

std::optional<std::string> CheckWritableFolder(const std::string& folder) {
  const std::wstring probe = windows::WindowsPath(TemporaryPathIn(WithTrailingSeparator(folder)));
  FileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file.valid()) return SystemErrorText(static_cast<int>(GetLastError()));
  return std::nullopt;
}

bool MoveFileToFreeName(const std::string& from, const std::string& to) {
  const std::wstring source = windows::WindowsPath(from);
  const std::wstring target = windows::WindowsPath(to);
  // Without MOVEFILE_REPLACE_EXISTING the system refuses a name in use. A
  // program holding the source for a moment (see MoveOverTarget) is waited
  // for.
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return false;
    const bool transient = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!transient || attempt >= 20) ThrowWriteError(to, error);
    Sleep(50);
  }
}

void CopyToNewFile(const std::string& from, const std::string& to) {
  const std::wstring target = windows::WindowsPath(to);
  // The system's own copy; then the copy reaches the disk.
  DWORD error = ERROR_SUCCESS;
  if (!CopyFileExW(windows::WindowsPath(from).c_str(), target.c_str(), nullptr, nullptr, nullptr,
                   COPY_FILE_FAIL_IF_EXISTS)) {
    ThrowWriteError(to, GetLastError());
  }
  FileHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid() || !FlushFileBuffers(file.get())) error = GetLastError();
  if (error == ERROR_SUCCESS && !file.Close()) error = GetLastError();
  if (error == ERROR_SUCCESS) return;
  file.Close();
  DeleteFileW(target.c_str());
  ThrowWriteError(to, error);
}

std::optional<std::uint64_t> FileSize(const std::string& path) {
  try {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(windows::WindowsPath(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return std::nullopt;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  } catch (...) {
    return std::nullopt;
  }
}

namespace {

// FILETIME counts 100 ns from 1601; the wall clock, from 1970.
FileTime ModifiedAt(const FILETIME& time) {
  constexpr std::uint64_t kFrom1601To1970 = 116444736000000000ULL;
  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  const auto since_1970 =
      std::chrono::microseconds((ticks >= kFrom1601To1970 ? ticks - kFrom1601To1970 : 0) / 10);
  return FileTime(std::chrono::duration_cast<FileTime::duration>(since_1970));
}

FolderEntry::Kind KindOf(DWORD attributes) {
  if ((attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return FolderEntry::Kind::kOther;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FolderEntry::Kind::kFolder
                                                      : FolderEntry::Kind::kFile;
}

// The user running the module, as the owner its files get.
class CurrentUser {
 public:
  CurrentUser() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer_.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, buffer_.data(), size, &size)) {
      buffer_.clear();
    }
    CloseHandle(token);
  }
  PSID Sid() const {
    return buffer_.empty() ? nullptr
                           : reinterpret_cast<const TOKEN_USER*>(buffer_.data())->User.Sid;
  }
  bool Owns(PSID owner) const {
    return owner != nullptr && Sid() != nullptr && EqualSid(owner, Sid()) != 0;
  }

 private:
  std::vector<unsigned char> buffer_;
};

bool OwnedByUser(const std::wstring& path) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool own = CurrentUser().Owns(owner);
  LocalFree(descriptor);
  return own;
}

std::wstring InFolder(std::wstring folder, const std::wstring& name) {
  if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
  return folder + name;
}

}  // namespace

std::vector<FolderEntry> EntriesOf(const std::string& folder, std::string_view prefix) {
  std::vector<FolderEntry> entries;
  try {
    const std::wstring base = windows::WindowsPath(folder);
    const std::wstring pattern = InFolder(base, windows::Wide(std::string(prefix)) + L"*");
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return entries;
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      entries.push_back({windows::Utf8(name), KindOf(found.dwFileAttributes),
                         OwnedByUser(InFolder(base, name)), ModifiedAt(found.ftLastWriteTime)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
  } catch (...) {
    // A name that cannot be converted: the listing so far.
  }
  return entries;
}

bool CreatePrivateFolder(const std::string& path) {
  // Only the user may open it (with the system and the administrators, for
  // backup and antivirus tools); nothing inherited.
  const CurrentUser user;
  LPWSTR sid = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (user.Sid() != nullptr && ConvertSidToStringSidW(user.Sid(), &sid)) {
    const std::wstring sddl =
        L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                         nullptr);
    LocalFree(sid);
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const BOOL made = CreateDirectoryW(windows::WindowsPath(path).c_str(),
                                     descriptor != nullptr ? &attributes : nullptr);
  const DWORD error = GetLastError();
  if (descriptor != nullptr) LocalFree(descriptor);
  if (made) return true;
  if (error == ERROR_ALREADY_EXISTS) return false;
  ThrowWriteError(path, error);
}

bool RemoveOwnFolderOfFiles(const std::string& path) noexcept {
  try {
    const std::wstring folder = windows::WindowsPath(path);
    // Held without sharing its removal: the folder cannot be renamed or
    // swapped for a link while its files are looked at and removed.
    FileHandle held(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES | READ_CONTROL,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!held.valid() || !GetFileInformationByHandle(held.get(), &info) ||
        KindOf(info.dwFileAttributes) != FolderEntry::Kind::kFolder || !OwnedByUser(folder)) {
      return false;
    }
    const std::vector<FolderEntry> entries = EntriesOf(path);
    for (const FolderEntry& entry : entries) {
      if (entry.kind != FolderEntry::Kind::kFile || !entry.own) return false;
    }
    for (const FolderEntry& entry : entries) {
      DeleteFileW(InFolder(folder, windows::Wide(entry.name)).c_str());
    }
    held.Close();
    return RemoveDirectoryW(folder.c_str()) != 0;
  } catch (...) {
    return false;
  }
}

HeldFile::~HeldFile() {
  if (IsOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool HeldFile::Create(const std::string& path) {
  // Others may read it, never remove it while it is held.
  const HANDLE file = CreateFileW(windows::WindowsPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) ThrowWriteError(path, GetLastError());
  handle_ = reinterpret_cast<std::intptr_t>(file);
  path_ = path;
  // A share whose server keeps no locks refuses: the file is there all the
  // same, unheld.
  return windows::LockFarByte(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY);
}

bool HeldFile::IsOpen() const { return handle_ != -1; }

void HeldFile::Append(std::string_view text) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, end, nullptr, FILE_END)) ThrowWriteError(path_, GetLastError());
  if (const DWORD error = windows::WriteAll(file, text); error != ERROR_SUCCESS) {
    ThrowWriteError(path_, error);
  }
}

void HeldFile::Remove() noexcept {
  if (!IsOpen()) return;
  CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, -1)));
  RemoveFile(path_);
}

HeldFile::Probe HeldFile::Look(const std::string& path) {
  Probe probe;
  try {
    FileHandle file(CreateFileW(windows::WindowsPath(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        KindOf(info.dwFileAttributes) != FolderEntry::Kind::kFile) {
      return probe;
    }
    if (!windows::LockFarByte(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY)) {
      if (GetLastError() == ERROR_LOCK_VIOLATION) probe.state = Probe::State::kHeld;
      return probe;
    }
    char buffer[256];
    DWORD got = 0;
    if (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
      probe.state = Probe::State::kFree;
      probe.contents.assign(buffer, got);
    }
  } catch (...) {
    // A name that cannot be converted names no file of the module.
  }
  return probe;
}

void RemoveFile(const std::string& path) noexcept {
  try {
    DeleteFileW(windows::WindowsPath(path).c_str());
  } catch (...) {
    // A name that cannot even be converted names no file to remove.
  }
}

bool RemoveEmptyFolder(const std::string& path) noexcept {
  try {
    return RemoveDirectoryW(windows::WindowsPath(path).c_str()) ||
           GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
  } catch (...) {
    return false;
  }
}

void SyncFolder(const std::string& /*folder*/) {
  // Windows has no flush of a folder's entries short of administrator
  // rights; NTFS journals them, and each picture was flushed on its own.
}

}  // namespace lumivane::platform
