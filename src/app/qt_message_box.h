#pragma once

#include <string>

#include "platform/messages.h"

namespace lumivane::app {

// The user's messages: a modal information box with one OK button, titled
// with the application name. Each text is first copied to standard error.
class QtMessageBox : public platform::MessagePort {
 public:
  void ShowMessage(const std::string& text) override;
};

}  // namespace lumivane::app
