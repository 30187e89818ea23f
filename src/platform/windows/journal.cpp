#include "platform/journal.h"
#include "platform/journal_line.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/windows/wide.h"

namespace lumivane::platform::journal {

namespace {

struct State {
  std::mutex mutex;
  std::string path;
  std::string run_id;
  HANDLE file = INVALID_HANDLE_VALUE;
  bool opened = false;
};

State& Journal() {
  static State state;
  return state;
}

// 2026-12-08T09:50:00.123+01:00: the local time and its offset from UTC,
// daylight saving time included.
std::string LocalTime() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  DYNAMIC_TIME_ZONE_INFORMATION zone{};
  const DWORD which = GetDynamicTimeZoneInformation(&zone);
  long bias = zone.Bias;  // minutes to add to the local time to get UTC
  if (which == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (which == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  const long offset = -bias;
  const long magnitude = offset < 0 ? -offset : offset;
  char out[64];
  std::snprintf(out, sizeof out, "%04u-%02u-%02uT%02u:%02u:%02u.%03u%c%02ld:%02ld", local.wYear, local.wMonth,
                local.wDay, local.wHour, local.wMinute, local.wSecond, local.wMilliseconds, offset < 0 ? '-' : '+',
                magnitude / 60, magnitude % 60);
  return out;
}

void Disable(State& state) {
  if (state.file != INVALID_HANDLE_VALUE) CloseHandle(state.file);
  state.file = INVALID_HANDLE_VALUE;
  state.path.clear();
}

// Appends only; another module may append, read, rotate or remove the file
// meanwhile.
HANDLE OpenAppend(const std::string& path) {
  return CreateFileW(windows::WindowsPath(path).c_str(), FILE_APPEND_DATA,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Past the limit, the file becomes journal.1.log (replacing the one before).
void Rotate(State& state) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(state.file, &size) || static_cast<unsigned long long>(size.QuadPart) < kMaxBytes) return;
  const std::string old = RotatedPath(state.path);
  // The handle is closed first: Windows renames an open file only when every
  // handle on it allows deletion, which this module's own does.
  CloseHandle(state.file);
  MoveFileExW(windows::WindowsPath(state.path).c_str(), windows::WindowsPath(old).c_str(),
              MOVEFILE_REPLACE_EXISTING);
  state.file = OpenAppend(state.path);
}

}  // namespace

std::string DefaultPath() {
  if (const wchar_t* chosen = _wgetenv(L"LUMIVANE_JOURNAL"); chosen != nullptr && *chosen != L'\0') {
    const std::string path = windows::Utf8(chosen);
    return path == "off" ? std::string() : path;
  }
  const std::string folder = windows::LocalAppDataFolder();
  return folder.empty() ? std::string() : folder + "\\Lumivane\\journal.log";
}

void Open(const std::string& path) {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  if (state.opened) return;
  state.opened = true;
  if (path.empty()) return;
  const std::size_t separator = path.find_last_of("\\/");
  if (separator != std::string::npos && separator > 0) (void)CreateFolder(path.substr(0, separator), true);
  state.file = OpenAppend(path);
  if (state.file == INVALID_HANDLE_VALUE) return;  // off for this run, without a word to the user
  state.path = path;
  state.run_id = NewRunId();
}

void Note(std::string_view event) {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  if (state.file == INVALID_HANDLE_VALUE) return;
  Rotate(state);
  if (state.file == INVALID_HANDLE_VALUE) return Disable(state);
  const std::string line = Line(LocalTime(), state.run_id, event);
  // One write on a handle opened for appending: the line lands whole at the
  // end, never mixed with another module's lines.
  DWORD written = 0;
  if (!WriteFile(state.file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
      written != line.size()) {
    Disable(state);
  }
}

void Close() {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  Disable(state);
  state.opened = false;
}

}  // namespace lumivane::platform::journal
