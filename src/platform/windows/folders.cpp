#include "platform/files.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {

bool FolderExists(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(windows::WindowsPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::string> CreateFolder(const std::string& path) {
  if (CreateDirectoryW(windows::WindowsPath(path).c_str(), nullptr)) return std::nullopt;
  const DWORD error = GetLastError();
  if (FolderExists(path)) return std::nullopt;
  return SystemErrorText(static_cast<int>(error));
}

}  // namespace lumivane::platform
