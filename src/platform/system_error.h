#pragma once

#include <string>

namespace lumivane::platform {

// The reason for a failed system call, in French, with the system's own code
// kept for whoever supports the user: "plus d'espace libre sur le disque
// (code 28)". `code` is errno on Linux and GetLastError() on Windows.
std::string SystemErrorText(int code);

}  // namespace lumivane::platform
