#pragma once

#include <string>

namespace lumivane::platform {

// A short French text for a system error code, ending with the code itself:
// "Espace disque insuffisant (code 28)". The code is errno's on Linux and
// GetLastError()'s on Windows. Common file errors (no space, access refused,
// read-only, name too long, not found, already exists) have their own text;
// any other code gives "Erreur système (code N)".
std::string SystemErrorText(int code);

}  // namespace lumivane::platform
