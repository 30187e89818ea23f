#pragma once

#include <string>
#include <string_view>

namespace lumivane::report {

// The module's own secrets: the user's password, the gateway's tokens (the
// configuration's and the answer's) and the quote service's key. Each is
// added as soon as it is known; from then on every text that leaves the
// module (the journal, standard error, the message boxes) shows "***" in its
// place, in whatever form a server sends it back (text::MaskSecrets).
void AddSecret(std::string_view secret);

// `text` with every secret added so far masked.
std::string Masked(std::string_view text);

// The one address the user must open by hand (the configurator's, when the
// browser could not be started): a message box shows it whole, token and
// all. The journal and standard error never do.
void KeepInMessageBox(std::string_view address);

// A message box's text: Masked, but for the address of KeepInMessageBox.
std::string MaskedForMessageBox(std::string_view text);

}  // namespace lumivane::report
