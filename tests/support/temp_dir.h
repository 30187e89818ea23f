#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace lumivane::testing {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class TempDir {
 public:
  TempDir();
  TempDir(TempDir&& other) noexcept;
  TempDir& operator=(TempDir&& other) noexcept;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& Path() const { return path_; }
  // Writes `bytes` to Path()/relative, creating the folders on the way.
  std::filesystem::path Write(const std::string& relative, const std::string& bytes) const;

 private:
  std::filesystem::path path_;
};

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> ReadFile(const std::filesystem::path& path);
// Writes `bytes` as the whole content of `path`; throws on failure.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

}  // namespace lumivane::testing
