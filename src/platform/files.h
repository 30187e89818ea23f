#pragma once

#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::platform {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. On failure throws FileError naming the file, and an
// earlier file at `path` is left exactly as it was.
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

// A name for a new temporary file in `folder` (which ends with a separator),
// hidden and short; the file is not created.
std::string TemporaryPathIn(const std::string& folder);

// Renames `from` over `to` (replacing it). Throws FileError naming `to`.
void MoveFileOver(const std::string& from, const std::string& to);

// Copies the bytes of `from` into a new file `to` (replacing it). Throws
// FileError naming `to`.
void CopyFileBytes(const std::string& from, const std::string& to);

// Removes a file; nothing when it is not there.
void RemoveFile(const std::string& path) noexcept;

// Removes a folder if it is empty; nothing otherwise.
void RemoveEmptyFolder(const std::string& path) noexcept;

// The files, written without a flush each, reach the disk together, with
// the folder's entries. Throws FileError naming the folder.
void SyncFiles(const std::vector<std::string>& paths, const std::string& folder);

}  // namespace lumivane::platform
