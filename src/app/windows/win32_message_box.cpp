#include "win32_message_box.h"

#include "platform/windows/wide.h"
#include "report/secrets.h"
#include "text/display.h"

namespace lumivane::app::win32 {

void Win32MessageBox::ShowMessage(const std::string& text) {
  report::CopyMessageToJournalAndStderr(text);
  // A message raised during a network call shows the arrow, not the busy
  // cursor.
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  const UINT style = MB_OK | MB_ICONINFORMATION | (owner_ ? 0u : MB_TASKMODAL);
  MessageBoxW(
      owner_,
      platform::windows::Wide(text::ForMessageBox(report::MaskedForMessageBox(text))).c_str(),
      L"Module_Lumivane", style);
}

}  // namespace lumivane::app::win32
