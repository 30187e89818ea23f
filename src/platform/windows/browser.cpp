#include "platform/browser.h"

#include <windows.h>
// After windows.h, which it needs.
#include <objbase.h>
#include <shellapi.h>

#include "platform/url.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {

bool ShellBrowser::Open(const std::string& url) {
  // Only web addresses: "open" on anything else would start a program or
  // open a file.
  if (!IsHttpUrl(url)) return false;
  // On Windows a value above 32 means that the shell handed the URL to the
  // program registered for http/https (the default browser); 32 or less is a
  // failure (no browser registered, URL refused). Wine answers above 32 even
  // when no browser starts, so a pass under Wine proves only the call.
  // The shell may hand the address on through COM: this thread (beside the
  // window) needs it for the call.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", windows::Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (SUCCEEDED(com)) CoUninitialize();
  return result > 32;
}

}  // namespace lumivane::platform
