#pragma once

#include <optional>
#include <string>

namespace lumivane::platform {

// True when `path` names an existing folder (UTF-8 path; UTF-16 at the
// Windows calls).
bool FolderExists(const std::string& path);

// Creates the folder `path`, one level, with default rights. Nothing when the
// folder exists afterwards (created now or before); otherwise a short French
// reason with the system's code, e.g. "Accès refusé (code 13)".
std::optional<std::string> CreateFolder(const std::string& path);

}  // namespace lumivane::platform
