#include "platform/windows/wide.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "text/user_texts.h"

namespace lumivane::platform::windows {

std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  if (utf8.size() > INT_MAX) throw std::length_error("text too long for Windows");
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) throw std::runtime_error(text::UserMessage(text::UserText::kUtf8ToUtf16));
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  if (wide.size() > INT_MAX) throw std::length_error("text too long for Windows");
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) throw std::runtime_error(text::UserMessage(text::UserText::kUtf16ToUtf8));
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

namespace {
// Windows refuses longer paths unless they carry the \\?\ prefix; 248 and
// not 260, because a folder name must leave room for an 8.3 file name.
constexpr std::size_t kShortPathLimit = 248;

}  // namespace

// The path as Windows calls take it: UTF-16, made absolute and normalised
// (separators, "." and "..") by GetFullPathNameW, with the \\?\ prefix
// (\\?\UNC\ for a share) when it is too long for the plain form.
std::wstring WindowsPath(const std::string& path) {
  const std::wstring wide = windows::Wide(path);
  if (wide.starts_with(L"\\\\?\\")) return wide;
  std::wstring full(std::max<std::size_t>(wide.size() + 1, MAX_PATH), L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return wide;  // the call that follows reports the fault
    if (length < full.size()) {
      full.resize(length);
      break;
    }
    full.resize(length + 1);
  }
  if (full.size() < kShortPathLimit) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

}  // namespace lumivane::platform::windows
