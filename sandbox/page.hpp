// The configurator page a person sees in the browser.
#pragma once

#include <string_view>

namespace lumivane::sandbox {

// A self-contained HTML page (inline style and script): it reads the token
// from its own address, lists /catalogue and posts the chosen lines to
// /configurateur/devis.
std::string_view configurator_page_html();

}  // namespace lumivane::sandbox
