#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

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
// With `sync` false, the caller makes the file durable later (SyncFiles).
void ReplaceFileContents(const std::string& path, const std::string& bytes, bool sync = true);

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

// The module's own temporary files: <prefix><12 letters or digits><suffix>,
// hidden on Linux; the run's record of its pictures ends in kRecordSuffix.
#ifdef _WIN32
inline constexpr std::string_view kTemporaryPrefix = "~lumivane-";
#else
inline constexpr std::string_view kTemporaryPrefix = ".lumivane-";
#endif
inline constexpr std::string_view kTemporarySuffix = ".tmp";
inline constexpr std::string_view kRecordSuffix = ".images";

// A name for a new temporary file in `folder` (which ends with a separator),
// hidden and short; the file is not created.
inline std::string TemporaryPathIn(const std::string& folder,
                                   std::string_view suffix = kTemporarySuffix) {
  return folder + text::RandomName(kTemporaryPrefix, suffix);
}

// Renames `from` to `to` unless something is at `to` already: false then,
// and nothing changed. Throws FileError naming `to` on any other failure.
bool MoveFileToFreeName(const std::string& from, const std::string& to);

// Copies the bytes of `from` into a new temporary file of `folder` (which
// ends with a separator): its path. Throws FileError naming `from`'s copy.
std::string CopyToTemporary(const std::string& from, const std::string& folder);

// When a file was last written, on the wall clock.
using FileTime = std::chrono::system_clock::time_point;

// A file of a folder: its name and when it was last written.
struct FolderEntry {
  std::string name;
  FileTime modified;
};
// The regular files of `folder`; none when it cannot be read.
std::vector<FolderEntry> RegularFilesIn(const std::string& folder);
// When the file was last written; nothing when it is not there.
std::optional<FileTime> LastWritten(const std::string& path);

// A small file that this run holds open and locked while it lives, so that
// another run can tell it from the file of a run that has ended (killed,
// crashed, its machine stopped).
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();  // lets go of the file; it stays
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Creates the new file `path` and holds it. Throws FileError naming it.
  void Create(const std::string& path);
  bool IsOpen() const;
  // Appends `text`, durable once Flush() returns. Throws FileError naming
  // the file.
  void Append(std::string_view text);
  void Flush();
  // Lets go of the file and removes it.
  void Remove() noexcept;
  // The contents of the file `path` when no run holds it any more; nothing
  // while its run lives or when it cannot be read.
  static std::optional<std::string> ReadAbandoned(const std::string& path);

 private:
  std::intptr_t handle_ = -1;
  std::string path_;
};

// Removes a file; nothing when it is not there.
void RemoveFile(const std::string& path) noexcept;

// Removes a folder if it is empty; nothing otherwise.
void RemoveEmptyFolder(const std::string& path) noexcept;

// The files, written without a flush each, reach the disk together, with
// the folder's entries. Throws FileError naming the folder.
void SyncFiles(const std::vector<std::string>& paths, const std::string& folder);

}  // namespace lumivane::platform
