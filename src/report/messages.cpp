#include "report/messages.h"

#include "report/journal.h"
#include "report/secrets.h"
#include "report/standard_error.h"
#include "text/display.h"

namespace lumivane::report {

void CopyMessageToJournalAndStderr(const std::string& text) {
  journal::NoteMessage(text);
  // A copy for whoever watches the process; the user reads the message box.
  // Never waited on: a host that does not read its pipe loses the copy only.
  QueueForStandardError(text::StderrLine(Masked(text)));
}

}  // namespace lumivane::report
