#pragma once

#include <string>

namespace lumivane::platform {

// The folder that holds the running executable, without a trailing separator,
// as the system names it (bytes unchanged); empty when it cannot be found.
std::string ExecutableFolder();

}  // namespace lumivane::platform
