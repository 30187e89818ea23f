#pragma once

// The process's standard error, as the host handed it over.

#include <string_view>

namespace lumivane::platform {

// The end of a line there, as the system's programs write it.
#ifdef _WIN32
inline constexpr std::string_view kStandardErrorLineEnd = "\r\n";
#else
inline constexpr std::string_view kStandardErrorLineEnd = "\n";
#endif

enum class StandardErrorWrite { kWritten, kNoStandardError, kFailed };

// Writes every byte, waiting as long as the reader makes it wait (a full
// pipe holds the caller until the host reads): never on the window's thread.
StandardErrorWrite WriteToStandardError(std::string_view bytes);

}  // namespace lumivane::platform
