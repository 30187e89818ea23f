#include "platform/process.h"

#include <windows.h>
// After windows.h, which they need.
#include <knownfolders.h>
#include <shellapi.h>
#include <shlobj.h>

#include <memory>
#include <stdexcept>

#include "platform/system_error.h"
#include "platform/windows/wide.h"
#include "text/user_texts.h"

namespace lumivane::platform {

std::string ExecutableFolder() {
  // Long paths: grow the buffer while the name does not fit.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= (1u << 16)) return {};
    path.resize(path.size() * 2);
  }
  const std::size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return {};
  path.resize(separator);
  // "C:" alone would name the drive's current folder, not its root.
  if (path.size() == 2 && path[1] == L':') path += L'\\';
  return windows::Utf8(path);
}

std::string UserPicturesFolder() {
  const std::string folder = windows::LocalAppDataFolder();
  return folder.empty() ? std::string() : folder + "\\Lumivane\\images";
}

std::string windows::LocalAppDataFolder() {
  PWSTR folder = nullptr;
  std::string result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &folder)) &&
      folder != nullptr) {
    result = windows::Utf8(folder);
  }
  CoTaskMemFree(folder);
  if (result.empty()) {
    const wchar_t* variable = _wgetenv(L"LOCALAPPDATA");
    if (variable != nullptr) result = windows::Utf8(variable);
  }
  return result;
}

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  // main()'s argv went through the ANSI code page: characters outside it are
  // lost there, so the arguments are split again from the UTF-16 text.
  int count = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> arguments(
      CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
  if (!arguments) {
    throw std::runtime_error(
        text::UserMessage(text::UserText::kCommandLineUnreadable,
                          {SystemErrorText(static_cast<int>(GetLastError()))}));
  }
  std::vector<std::string> result;
  for (int i = 1; i < count; ++i) result.push_back(windows::Utf8(arguments.get()[i]));
  return result;
}

std::string SystemDescription() {
  // GetVersionEx answers what the manifest declares; the kernel's own
  // version is RtlGetVersion's.
  using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto get_version =
      ntdll == nullptr ? nullptr
                       : reinterpret_cast<RtlGetVersionFunction>(
                             reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
  if (get_version == nullptr || get_version(&version) != 0) return "Windows";
  return "Windows " + std::to_string(version.dwMajorVersion) + "." +
         std::to_string(version.dwMinorVersion) + "." + std::to_string(version.dwBuildNumber);
}

}  // namespace lumivane::platform
