#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/cancellation.h"
#include "text/random_name.h"

namespace lumivane::platform {

// The separator of the system's paths, and every character that ends a
// folder's name in one (Windows takes "/" too).
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
#endif

// `folder` ending with a separator (an empty one stays empty).
inline std::string WithTrailingSeparator(const std::string& folder) {
  if (folder.empty() ||
      std::string_view(kPathSeparators).find(folder.back()) != std::string_view::npos) {
    return folder;
  }
  return folder + kPathSeparator;
}

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. An earlier file there keeps what its owner set on
// it (its mode on Linux; its permissions and attributes on Windows); a
// read-only one is refused ("accès refusé"). On failure throws FileError
// naming the file, and an earlier file at `path` is left exactly as it was.
// When `cancel` is set by the time the bytes are on the disk, nothing is
// renamed and base::OperationCancelled is thrown: the file stays as it was.
void ReplaceFileContents(const std::string& path, const std::string& bytes,
                         const base::CancellationToken* cancel = nullptr);

// Reads a whole file; throws FileError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);

// Creates the folder, and the missing folders above it when `parents`; an
// existing folder is fine. The reason, in French, when it cannot be made or
// is not a folder; nothing when it is there.
std::optional<std::string> CreateFolder(const std::string& path, bool parents);

// Whether a file can be created in the folder: the reason when not.
std::optional<std::string> CheckWritableFolder(const std::string& folder);

// The module's own temporary files and folders:
// <prefix><12 letters or digits><suffix>, hidden on Linux; a run's private
// folder of pictures on their way ends in kStagingSuffix.
#ifdef _WIN32
inline constexpr std::string_view kTemporaryPrefix = "~lumivane-";
#else
inline constexpr std::string_view kTemporaryPrefix = ".lumivane-";
#endif
inline constexpr std::string_view kTemporarySuffix = ".tmp";
inline constexpr std::string_view kStagingSuffix = ".staging";

// A name for a new temporary file in `folder` (which ends with a separator),
// hidden and short; the file is not created.
inline std::string TemporaryPathIn(const std::string& folder,
                                   std::string_view suffix = kTemporarySuffix) {
  return folder + text::RandomName(kTemporaryPrefix, suffix);
}

// Whether `name` has exactly the form of the module's own names ending in
// `suffix`: nothing else ever is taken for one of them.
inline bool IsModuleName(std::string_view name, std::string_view suffix) {
  return text::IsRandomName(name, kTemporaryPrefix, suffix);
}

// Renames `from` to `to` unless something is at `to` already: false then,
// and nothing changed. Throws FileError naming `to` on any other failure.
bool MoveFileToFreeName(const std::string& from, const std::string& to);

// Copies `from` into the new file `to` through the system's own copy, on the
// disk when it returns. Throws FileError naming `to`; nothing is left there.
void CopyToNewFile(const std::string& from, const std::string& to);

// The size of a regular file; nothing when it cannot be told.
std::optional<std::uint64_t> FileSize(const std::string& path);

// When a file was last written, on the wall clock.
using FileTime = std::chrono::system_clock::time_point;

// What a folder holds, seen without following any link.
struct FolderEntry {
  enum class Kind { kFile, kFolder, kOther };  // kOther: a link, a device, a pipe...
  std::string name;
  Kind kind = Kind::kOther;
  bool own = false;  // owned by the user running the module
  FileTime modified;
};
// The entries of `folder` whose name starts with `prefix` ("." and ".." left
// out); none when it cannot be read.
std::vector<FolderEntry> EntriesOf(const std::string& folder, std::string_view prefix = {});

// Creates the new folder `path` that only the current user may open: false
// when something is already there (nothing changed). Throws FileError naming
// it on any other failure.
bool CreatePrivateFolder(const std::string& path);

// Removes the folder `path` with the files in it, provided it is a folder of
// the current user (not a link), holding only regular files of the current
// user: never through a link, never anything else. False, and the folder
// kept, when it is not so.
bool RemoveOwnFolderOfFiles(const std::string& path) noexcept;

// A small file that this run holds open and, where the system keeps locks,
// locked while it lives, so that another run can tell it from the file of a
// run that has ended (killed, crashed, its machine stopped).
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();  // lets go of the file; it stays
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Creates the new file `path` and holds it: false when the system keeps
  // no lock there (the file is made all the same). Throws FileError naming
  // it when it cannot be made.
  bool Create(const std::string& path);
  bool IsOpen() const;
  // Appends `text`. Throws FileError naming the file.
  void Append(std::string_view text);
  // Lets go of the file and removes it.
  void Remove() noexcept;

  // What another run sees of the regular file `path` (never through a link).
  struct Probe {
    enum class State { kHeld, kFree, kUnknown } state = State::kUnknown;
    std::string contents;  // when kFree, its first bytes
  };
  // kHeld while a run holds it; kFree when none does; kUnknown when it is not
  // there, not a regular file, or the system keeps no lock there.
  static Probe Look(const std::string& path);

 private:
  std::intptr_t handle_ = -1;
  std::string path_;
};

// Removes a file; nothing when it is not there.
void RemoveFile(const std::string& path) noexcept;

// Removes a folder if it is empty: false when it is still there.
bool RemoveEmptyFolder(const std::string& path) noexcept;

// The entries of `folder` (the names renamed into it) reach the disk.
// Throws FileError naming the folder.
void SyncFolder(const std::string& folder);

}  // namespace lumivane::platform
