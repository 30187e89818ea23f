#pragma once

#include <string>

namespace lumivane::platform {

// The folder that holds the running executable, without a trailing separator,
// as the system names it (bytes unchanged); empty when it cannot be found.
std::string ExecutableFolder();

// The user's own folder for the module's pictures, used when the folder
// beside the executable cannot be written: $XDG_DATA_HOME/lumivane/images
// (by default ~/.local/share/lumivane/images) on Linux,
// %LOCALAPPDATA%\Lumivane\images on Windows. Empty when the system names no
// such folder.
std::string UserPicturesFolder();

}  // namespace lumivane::platform
