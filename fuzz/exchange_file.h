#pragma once

// The exchange file as a strict XML 1.0 reader (expat) sees it, and the
// checks the result target makes on it.

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::fuzz {

// The seven texts of one new Menuiserie, in element order (Jeton, Project,
// Libelle, Designation, PrixUnitaire, Quantite, Image), as they were given
// to the module.
using MenuiserieTexts = std::array<std::string, 7>;

// Nothing when `bytes` is a well-formed XML 1.0 document declared
// ISO-8859-1 and ended by CR LF, whose root Configurateur ends with one
// Menuiserie per entry of `expected`, id 1, 2, 3..., each with exactly seven
// text-only children holding the given texts less what XML 1.0 cannot carry
// (XmlTextOf). Otherwise what is wrong, for a person to read.
std::optional<std::string> ExchangeFileProblem(const std::string& bytes,
                                               const std::vector<MenuiserieTexts>& expected);

}  // namespace lumivane::fuzz
