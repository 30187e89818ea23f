// The result document and the exchange file's bytes, from a retrieval
// document, a quote, a token and picture paths all taken from the input.
//
// Input: strings as FuzzedDataProvider reads them (a string ends at a
// backslash followed by any other character; "\\" is one backslash):
//   retrieval document, its Content-Type, token, quote number, then per line:
//   Unit_Price, Quantity, Picture_Path, Designation, Description and the path
//   the picture download answers (empty: the download failed).
//
// Checked: the exchange bytes are a well-formed XML 1.0 document declared
// ISO-8859-1 and ended by CR LF, read by expat; its root Configurateur ends
// with one Menuiserie per line whose seven children hold exactly the texts
// given, less what XML 1.0 cannot carry.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "exchange_file.h"
#include "oracle.h"
#include "quote/quote.h"
#include "result/result.h"

namespace {

using lumivane::fuzz::Check;
using lumivane::fuzz::Fail;
using lumivane::fuzz::IsUtf8;
using lumivane::fuzz::Printable;

constexpr std::size_t kMaxLines = 12;

// A text that a document object model hands over never holds a NUL: it ends
// its C strings.
std::string Text(FuzzedDataProvider& in) {
  std::string text = in.ConsumeRandomLengthString();
  std::erase(text, '\0');
  return text;
}

struct Line {
  lumivane::quote::LigneDevis entry;
  std::string stored_path;  // answered by the download; empty: it failed
};

void Run(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string retrieval_document = in.ConsumeRandomLengthString();
  const std::string content_type = in.ConsumeRandomLengthString();
  const std::string jeton = Text(in);
  lumivane::quote::Devis devis;
  devis.Numero = Text(in);
  std::vector<Line> lines;
  while (in.remaining_bytes() > 0 && lines.size() < kMaxLines) {
    Line line;
    line.entry.Numero = static_cast<int>(lines.size()) + 1;
    line.entry.Unit_Price = Text(in);
    line.entry.Quantity = Text(in);
    line.entry.Picture_Path = Text(in);
    line.entry.Designation = Text(in);
    line.entry.Description = Text(in);
    line.stored_path = Text(in);
    devis.Lignes.push_back(line.entry);
    lines.push_back(std::move(line));
  }

  // The downloads must be asked for, in line order, for the lines with a
  // picture URL and for no other; the n-th answers that line's stored path.
  std::vector<const Line*> with_picture;
  for (const Line& line : lines) {
    if (!line.entry.Picture_Path.empty()) with_picture.push_back(&line);
  }
  std::size_t downloads = 0;
  const lumivane::result::Telecharger telecharger =
      [&](const std::string& url) -> std::optional<std::string> {
    const std::size_t index = downloads++;
    Check(index < with_picture.size() && url == with_picture[index]->entry.Picture_Path,
          "download " + std::to_string(index + 1) + " asked for \"" + Printable(url) + "\"");
    const std::string& stored = with_picture[index]->stored_path;
    return stored.empty() ? std::nullopt : std::optional<std::string>(stored);
  };

  std::string bytes;
  try {
    std::optional<lumivane::result::ResultDocument> document = lumivane::result::VerifierResultat(
        lumivane::quote::ReadRetrievalDocument(retrieval_document, content_type));
    if (!document) return;  // no Configurateur: nothing to build, nothing downloaded
    bytes = lumivane::result::OctetsFichierEchange(
        lumivane::result::ConstruireResultat(std::move(*document), devis, jeton, telecharger));
  } catch (const std::exception&) {
    return;  // one of the module's messages: a fine outcome
  }
  Check(downloads == with_picture.size(), "not every picture URL was downloaded");
  std::vector<lumivane::fuzz::MenuiserieTexts> expected;
  for (const Line& line : lines) {
    const lumivane::quote::LigneDevis& e = line.entry;
    // A stored picture's path is the file system's bytes: when they are not
    // UTF-8, each byte stands for the ISO-8859-1 character of that value, so
    // that the exchange file names the file byte for byte.
    const std::string& path = line.stored_path;
    const std::string image = e.Picture_Path.empty() ? std::string()
                              : IsUtf8(path)         ? path
                                                     : lumivane::fuzz::Latin1ToUtf8(path);
    expected.push_back(
        {jeton, devis.Numero, e.Description, e.Designation, e.Unit_Price, e.Quantity, image});
  }
  if (const auto problem = lumivane::fuzz::ExchangeFileProblem(bytes, expected)) Fail(*problem);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumivane::fuzz::RunWithStack(lumivane::fuzz::kStackBudget, [&] { Run(data, size); });
  return 0;
}
