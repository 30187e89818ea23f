#pragma once

#include <string>
#include <string_view>

namespace lumivane::report {

// The support journal: one short, private record of each run on the user's
// own machine, for whoever helps the salesperson. UTF-8 lines of
//   <local time, ISO 8601 with offset, to the millisecond> <run id> <event>
// appended with one write each, so that two modules running at once never mix
// their lines. Past 1 MiB the file becomes journal.1.log and a new one
// starts; appends and rotation hold a lock the modules share, so that no
// line and no rotated file is lost to another module's rotation. The lock
// is a help, never waited on: held by another process past a moment, the
// line is appended without it and the file is not rotated; refused by the
// system, the journal goes on without it. A journal that cannot be opened
// or written changes nothing else of the run and is not tried again.
//
// Events never hold a password, a token, a query string, a cookie or a
// header value: callers give addresses through UrlForDisplay and messages
// through the same cleaning as standard error; the module's own secrets are
// masked (report/secrets.h) and control characters escaped in every line.
namespace journal {

// Where the journal goes: LUMIVANE_JOURNAL names a file, or "off"; else
// journal.log in the user's state folder ($XDG_STATE_HOME/lumivane, by
// default ~/.local/state/lumivane; %LOCALAPPDATA%\Lumivane on Windows).
// Empty when off or when no such folder can be named.
std::string DefaultPath();

// Starts the journal of this run at `path` (nothing when empty). Idempotent.
void Open(const std::string& path);

// Notes one event; nothing when the journal is off or failed.
void Note(std::string_view event);

// A message shown to the user, word for word (query strings and control
// characters cleaned as on standard error).
void NoteMessage(std::string_view text);

// Stops writing: at the module's exit, after its last line (a transfer
// still ending on its own thread then writes nothing), and in tests.
void Close();

}  // namespace journal
}  // namespace lumivane::report
