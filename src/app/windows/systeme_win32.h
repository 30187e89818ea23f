#pragma once

// What the Windows shell needs of the system and does not find in the
// platform layer yet: UTF-8/UTF-16 conversion, the command line and the
// browser. Stand-ins, to be replaced by the platform layer's own functions
// once it has them.

#include <windows.h>

#include <string>
#include <vector>

#include "platform/browser.h"

namespace lumivane::app::win32 {

std::wstring Utf16(const std::string& texte);
std::string Utf8(const std::wstring& texte);

// The arguments after the program name, split the way the system splits a
// command line (blanks; double quotes around a path with blanks), in UTF-8.
std::vector<std::string> ArgumentsUtf8();

// Opens an address with the shell's "open" verb.
class NavigateurShell : public platform::BrowserPort {
 public:
  bool Open(const std::string& url) override;
};

}  // namespace lumivane::app::win32
