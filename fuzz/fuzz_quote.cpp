// The retrieval document and the quote service's answer, as the retrieval
// reads them: the quote id, the quote text inside the JSON answer, and the
// quote's number and lines. The input is tried as each of the three (as a
// quote text only when it is UTF-8, as every quote text is).
//
// Checked: no crash, and every text handed on is valid UTF-8 with lines
// numbered 1, 2, 3... Unreadable documents throw: a fine outcome.

#include <cstdint>
#include <exception>
#include <string>

#include "oracle.h"
#include "quote/quote.h"

namespace {

using lumivane::fuzz::Check;
using lumivane::fuzz::IsUtf8;
using lumivane::fuzz::Printable;

void CheckText(const std::string& text, const std::string& what) {
  Check(IsUtf8(text), what + " is not valid UTF-8: \"" + Printable(text) + "\"");
}

void ReadQuote(const std::string& quote_text, const std::string& from) {
  lumivane::quote::Devis devis;
  try {
    if (!lumivane::quote::LireDevis(quote_text, devis)) return;
  } catch (const std::exception&) {
    return;
  }
  CheckText(devis.Numero, "quote number (" + from + ")");
  int numero = 0;
  for (const lumivane::quote::LigneDevis& ligne : devis.Lignes) {
    const std::string where = "line " + std::to_string(++numero) + " (" + from + ")";
    Check(ligne.Numero == numero, where + " is numbered " + std::to_string(ligne.Numero));
    CheckText(ligne.Unit_Price, where + " Unit_Price");
    CheckText(ligne.Quantity, where + " Quantity");
    CheckText(ligne.Picture_Path, where + " Picture_Path");
    CheckText(ligne.Designation, where + " Designation");
    CheckText(ligne.Description, where + " Description");
  }
}

void Run(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The retrieval document's Content-Type counts when it has no declaration.
  for (const char* content_type :
       {"", "text/xml; charset=ISO-8859-1", "text/xml; charset=windows-1252",
        "application/xml; charset=utf-16"}) {
    try {
      CheckText(
          lumivane::quote::LireDevisId(lumivane::quote::ReadRetrievalDocument(input, content_type)),
          std::string("quote id (Content-Type \"") + content_type + "\")");
    } catch (const std::exception&) {
    }
  }

  const std::string quote_text = lumivane::quote::ExtraireTexteDevis(input);
  CheckText(quote_text, "quote text");
  ReadQuote(quote_text, "from the JSON answer");
  // A quote text is the content of a JSON string: always UTF-8. The input
  // is read directly as one only when it could be one, which lets the fuzzer
  // reach the quote's structure without going through JSON escapes.
  if (IsUtf8(input)) ReadQuote(input, "the input as quote text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumivane::fuzz::RunWithStack(lumivane::fuzz::kStackBudget, [&] { Run(data, size); });
  return 0;
}
