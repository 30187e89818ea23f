#pragma once

#include <string>

#include "report/messages.h"

namespace lumivane::app {

// The user's messages: a modal information box with one OK button, titled
// with the application name. Each text is first copied to the journal and
// standard error.
class QtMessageBox : public report::MessagePort {
 public:
  void ShowMessage(const std::string& text) override;
};

}  // namespace lumivane::app
