#pragma once

#include <stdexcept>
#include <string>

namespace lumivane::platform {

class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes `bytes` to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. On failure throws FileError naming the file, and an
// earlier file at `path` is left exactly as it was.
void ReplaceFileContents(const std::string& path, const std::string& bytes);

// Reads a whole file; throws FileError when it cannot be read.
std::string ReadFileBytes(const std::string& path);

bool FileExists(const std::string& path);

}  // namespace lumivane::platform
