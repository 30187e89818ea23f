#pragma once

#include <windows.h>

#include <string>

#include "report/messages.h"

namespace lumivane::app::win32 {

// The user's messages: a modal information box with one OK button, titled
// with the application name, over the window when there is one. Each text is
// first copied to standard error.
class BoiteMessageWin32 : public report::MessagePort {
 public:
  void ShowMessage(const std::string& text) override;
  void DefinirProprietaire(HWND proprietaire) { proprietaire_ = proprietaire; }

 private:
  HWND proprietaire_ = nullptr;
};

}  // namespace lumivane::app::win32
