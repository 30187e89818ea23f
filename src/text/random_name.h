#pragma once

#include <string>
#include <string_view>

namespace lumivane::text {

// <prefix><12 random letters or digits><suffix>: a name no other run of the
// module takes by chance.
std::string RandomName(std::string_view prefix, std::string_view suffix);

// Whether `name` is exactly of RandomName's form for `prefix` and `suffix`.
bool IsRandomName(std::string_view name, std::string_view prefix, std::string_view suffix);

}  // namespace lumivane::text
