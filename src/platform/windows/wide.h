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

// The path as Windows calls take it: UTF-16, made absolute and normalised
// (separators, "." and "..") by GetFullPathNameW, with the \\?\ prefix
// (\\?\UNC\ for a share) when it is too long for the plain form.
std::wstring WindowsPath(const std::string& path);

// The user's local application data folder (FOLDERID_LocalAppData, else
// %LOCALAPPDATA%), in UTF-8; empty when the system names none.
std::string LocalAppDataFolder();

}  // namespace lumivane::platform::windows
