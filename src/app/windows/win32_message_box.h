#pragma once

#include <windows.h>

#include <string>

#include "report/messages.h"

namespace lumivane::app::win32 {

// The user's messages: a modal information box with one OK button, titled
// with the application name, over the window when there is one. Each text is
// first copied to the journal and standard error.
class Win32MessageBox : public report::MessagePort {
 public:
  void ShowMessage(const std::string& text) override;
  void SetOwner(HWND owner) { owner_ = owner; }

 private:
  HWND owner_ = nullptr;
};

}  // namespace lumivane::app::win32
