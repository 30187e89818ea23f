#include "platform/folders.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/error_text.h"

namespace lumivane::platform {

bool FolderExists(const std::string& path) {
  std::error_code ignored;
  return !path.empty() && std::filesystem::is_directory(path, ignored);
}

std::optional<std::string> CreateFolder(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directory(path, error);
  if (FolderExists(path)) return std::nullopt;
  // No error but no folder: a file of that name is in the way.
  return SystemErrorText(error ? error.value() : EEXIST);
}

}  // namespace lumivane::platform
