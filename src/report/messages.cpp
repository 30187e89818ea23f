#include "report/messages.h"

#include <cstdio>

#include "report/journal.h"
#include "report/secrets.h"
#include "text/display.h"

namespace lumivane::report {

void WriteMessageToStderr(const std::string& text) {
  journal::NoteMessage(text);
  const auto line = text::StderrLine(Masked(text)) + "\n";
  // A copy for whoever watches the process; the user reads the message box.
  // A closed or full standard error (hosts often start the module without
  // one) must not keep the message from being shown, so a failed write here
  // is left without consequence on purpose.
  if (std::fwrite(line.data(), 1, line.size(), stderr) == line.size()) {
    std::fflush(stderr);
  }
}

}  // namespace lumivane::report
