#include "platform/url.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include "text/compare.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {

const char* const kHttpClientName = "WinHTTP";

std::optional<UrlParts> ParseHttpUrl(const std::string& url) {
  const std::string scheme = text::SchemeOf(url);
  if (scheme != "http" && scheme != "https") return std::nullopt;
  const std::wstring wide = windows::Wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  // -1: pointers into `wide` instead of copies.
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
      parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts)) {
    return std::nullopt;
  }
  const auto text = [](const wchar_t* start, DWORD length) {
    return start == nullptr ? std::string() : windows::Utf8(std::wstring_view(start, length));
  };
  UrlParts result;
  result.scheme = scheme;
  result.host = text(parts.lpszHostName, parts.dwHostNameLength);
  result.user = text(parts.lpszUserName, parts.dwUserNameLength);
  result.password = text(parts.lpszPassword, parts.dwPasswordLength);
  result.path = text(parts.lpszUrlPath, parts.dwUrlPathLength);
  result.extra = text(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (result.host.empty()) return std::nullopt;

  // The port as written: digits after the host's ":" and before the path.
  // WinHTTP gives only the number in use.
  const std::size_t authority = url.find("://") + 3;
  std::size_t end = url.find_first_of("/?#", authority);
  if (end == std::string::npos) end = url.size();
  std::string host_and_port = url.substr(authority, end - authority);
  if (const std::size_t at = host_and_port.rfind('@'); at != std::string::npos) {
    host_and_port.erase(0, at + 1);
  }
  const std::size_t colon = host_and_port.rfind(':');
  const std::size_t bracket = host_and_port.rfind(']');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    result.port = host_and_port.substr(colon + 1);
    if (result.port.empty() || result.port.size() > 5 ||
        result.port.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(result.port) > 65535 || std::stoi(result.port) == 0) {
      return std::nullopt;
    }
  }
  return result;
}

}  // namespace lumivane::platform
