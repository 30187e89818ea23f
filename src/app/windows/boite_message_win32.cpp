#include "boite_message_win32.h"

#include "platform/windows/wide.h"
#include "report/secrets.h"
#include "text/display.h"

namespace lumivane::app::win32 {

void BoiteMessageWin32::ShowMessage(const std::string& text) {
  report::WriteMessageToStderr(text);
  // A message raised during a network call shows the arrow, not the busy
  // cursor.
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  const UINT genre = MB_OK | MB_ICONINFORMATION | (proprietaire_ ? 0u : MB_TASKMODAL);
  MessageBoxW(
      proprietaire_,
      platform::windows::Wide(text::ForMessageBox(report::MaskedForMessageBox(text))).c_str(),
      L"Module_Lumivane", genre);
}

}  // namespace lumivane::app::win32
