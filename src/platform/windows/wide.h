#pragma once

// UTF-8 inside the module, UTF-16 at every Windows call (internal to the
// platform layer).

#include <string>
#include <string_view>

namespace lumivane::platform::windows {

// Invalid UTF-8 sequences become U+FFFD.
std::wstring Wide(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string Utf8(std::wstring_view wide);

}  // namespace lumivane::platform::windows
