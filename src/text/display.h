#pragma once

// How values are shown: in a message box, on standard error, in the journal.

#include <string>
#include <string_view>

namespace lumivane::text {

// A value (path, address, name, text from a service) as a message shows it:
// past kMaxValueInMessage characters (base/limits.h), its middle gives way
// to "…", so that the message stays readable and its end (a file name) is
// still seen.
std::string ValueForMessage(std::string_view value);

// What a server says (a reason phrase, the words of its answer, a name it
// sent) as a message shows it: one line of printable text, whatever it
// holds. Blanks, line breaks and tabs become one blank between words, the
// other control characters are left out, a byte that is not UTF-8 becomes
// U+FFFD, and a long text is shortened as ValueForMessage does, never inside
// a character.
std::string ServerWords(std::string_view said);

// Every control character escaped (\n, \r, \t, \xNN, \u0085…), so that the
// text stays one line of printable text; bytes that are not UTF-8 are kept.
std::string EscapeControls(std::string_view text);

// Passwords and tokens travel in query strings and in an address's user
// name and password: every http or https URL in the text loses its query and
// fragment ("?…" stands in their place) and its "user:password@".
std::string WithoutQueryStrings(std::string_view text);

// A message as a message box shows it: whole (the user may need an address
// to act on), without control characters but line feeds and tabs.
std::string ForMessageBox(std::string_view text);

// The line written to standard error for every message shown to the user:
// "Module_Lumivane: " + text without query strings and with its control
// characters escaped.
std::string StderrLine(std::string_view text);

// `url` without its query, its fragment and any user name and password, for
// an address the system's URL parser does not understand: what is shown of it
// must hide them all the same.
std::string WithoutQueryAndCredentials(const std::string& url);

// The texts of a failed file operation, the same on every system, `reason`
// being the system's (platform::SystemErrorText), the path shortened as
// ValueForMessage does.
std::string CannotWriteFile(std::string_view path, const std::string& reason);
std::string CannotReadFile(std::string_view path, const std::string& reason);
std::string CannotWriteInFolder(std::string_view folder, const std::string& reason);

}  // namespace lumivane::text
