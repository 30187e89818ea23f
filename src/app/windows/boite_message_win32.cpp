#include "boite_message_win32.h"

#include "systeme_win32.h"

namespace lumivane::app::win32 {

void BoiteMessageWin32::ShowMessage(const std::string& text) {
  platform::WriteMessageToStderr(text);
  // A message raised during a network call shows the arrow, not the busy
  // cursor.
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  const UINT genre = MB_OK | MB_ICONINFORMATION | (proprietaire_ ? 0u : MB_TASKMODAL);
  MessageBoxW(proprietaire_, Utf16(text).c_str(), L"Module_Lumivane", genre);
}

}  // namespace lumivane::app::win32
