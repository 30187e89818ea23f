// The result document and the exchange file's bytes, from a retrieval
// document, a quote, a token and picture paths all taken from the input.
//
// Input: strings as FuzzedDataProvider reads them (a string ends at a
// backslash followed by any other character; "\\" is one backslash):
//   retrieval document, token, quote number, then per line:
//   Unit_Price, Quantity, Picture_Path, Designation, Description and the path
//   the picture download answers (empty: the download failed).
//
// Checked: the exchange bytes are a well-formed XML 1.0 document declared
// ISO-8859-1 and ended by CR LF, read by expat; its root Configurateur ends
// with one Menuiserie per line whose seven children hold exactly the texts
// given, less what XML 1.0 cannot carry.

#include <expat.h>
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "oracle.h"
#include "quote/quote.h"
#include "result/result.h"

namespace {

using lumivane::fuzz::Check;
using lumivane::fuzz::Fail;
using lumivane::fuzz::Printable;
using lumivane::fuzz::XmlTextOf;

constexpr std::size_t kMaxLines = 12;
constexpr const char* kChildren[] = {"Jeton",        "Project",  "Libelle", "Designation",
                                     "PrixUnitaire", "Quantite", "Image"};

// A text that a document object model hands over never holds a NUL: it ends
// its C strings.
std::string Text(FuzzedDataProvider& in) {
  std::string text = in.ConsumeRandomLengthString();
  std::erase(text, '\0');
  return text;
}

struct Child {
  std::string name;
  std::string text;
  bool has_markup = false;  // an element, a comment or a processing instruction inside
};

struct RootChild {
  std::string name;
  std::optional<std::string> id;
  std::vector<Child> children;
};

// The exchange file as expat reads it: the root's name, the children of the
// root with, for each Menuiserie, its children's texts. Built from the
// events, at no depth cost.
struct ExchangeFile {
  std::string encoding;
  bool declared = false;
  std::string root;
  std::vector<RootChild> root_children;
  int depth = 0;
};

void OnDeclaration(void* user, const XML_Char* /*version*/, const XML_Char* encoding,
                   int /*standalone*/) {
  auto& file = *static_cast<ExchangeFile*>(user);
  file.declared = true;
  file.encoding = encoding ? encoding : "";
}

void OnStart(void* user, const XML_Char* name, const XML_Char** attributes) {
  auto& file = *static_cast<ExchangeFile*>(user);
  ++file.depth;
  if (file.depth == 1) {
    file.root = name;
  } else if (file.depth == 2) {
    RootChild child{name, std::nullopt, {}};
    for (const XML_Char** a = attributes; *a; a += 2) {
      if (std::string(a[0]) == "id") child.id = a[1];
    }
    file.root_children.push_back(std::move(child));
  } else if (file.depth == 3 && file.root_children.back().name == "Menuiserie") {
    file.root_children.back().children.push_back({name, "", false});
  } else if (file.depth == 4 && file.root_children.back().name == "Menuiserie") {
    file.root_children.back().children.back().has_markup = true;
  }
}

void OnEnd(void* user, const XML_Char* /*name*/) { --static_cast<ExchangeFile*>(user)->depth; }

void OnText(void* user, const XML_Char* text, int length) {
  auto& file = *static_cast<ExchangeFile*>(user);
  if (file.depth == 3 && file.root_children.back().name == "Menuiserie") {
    file.root_children.back().children.back().text.append(text, static_cast<std::size_t>(length));
  }
}

void OnMarkup(ExchangeFile& file) {
  if (file.depth == 3 && file.root_children.back().name == "Menuiserie") {
    file.root_children.back().children.back().has_markup = true;
  }
}

void OnComment(void* user, const XML_Char* /*text*/) {
  OnMarkup(*static_cast<ExchangeFile*>(user));
}

void OnInstruction(void* user, const XML_Char* /*target*/, const XML_Char* /*data*/) {
  OnMarkup(*static_cast<ExchangeFile*>(user));
}

ExchangeFile ReadExchangeFile(const std::string& bytes) {
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreate(nullptr), &XML_ParserFree);
  Check(parser != nullptr, "XML_ParserCreate");
  ExchangeFile file;
  XML_SetUserData(parser.get(), &file);
  XML_SetXmlDeclHandler(parser.get(), &OnDeclaration);
  XML_SetElementHandler(parser.get(), &OnStart, &OnEnd);
  XML_SetCharacterDataHandler(parser.get(), &OnText);
  XML_SetCommentHandler(parser.get(), &OnComment);
  XML_SetProcessingInstructionHandler(parser.get(), &OnInstruction);
  Check(bytes.size() < (1u << 30), "exchange file too large for one expat call");
  if (XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) !=
      XML_STATUS_OK) {
    const std::size_t at = static_cast<std::size_t>(XML_GetCurrentByteIndex(parser.get()));
    const std::size_t from = at > 60 ? at - 60 : 0;
    Fail(std::string("exchange file is not well-formed XML 1.0: ") +
         XML_ErrorString(XML_GetErrorCode(parser.get())) + " at line " +
         std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
         std::to_string(XML_GetCurrentColumnNumber(parser.get())) + ", near \"" +
         Printable(bytes.substr(from, std::min<std::size_t>(at - from + 20, bytes.size() - from))) +
         "\"");
  }
  return file;
}

struct Line {
  lumivane::quote::LigneDevis entry;
  std::string stored_path;  // answered by the download; empty: it failed
};

void CheckExchangeFile(const std::string& bytes, const std::string& jeton,
                       const lumivane::quote::Devis& devis, const std::vector<Line>& lines) {
  Check(bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, "\r\n") == 0,
        "exchange file does not end with CR LF");
  const ExchangeFile file = ReadExchangeFile(bytes);
  Check(file.declared, "exchange file has no XML declaration");
  Check(file.encoding == "ISO-8859-1",
        "exchange file declares \"" + Printable(file.encoding) + "\", not ISO-8859-1");
  Check(file.root == "Configurateur",
        "root element is \"" + Printable(file.root) + "\", not Configurateur");
  Check(file.root_children.size() >= lines.size(),
        "fewer children under Configurateur than quote lines");

  const std::size_t first = file.root_children.size() - lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const RootChild& menuiserie = file.root_children[first + i];
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    Check(menuiserie.name == "Menuiserie",
          where + "element \"" + Printable(menuiserie.name) + "\" where a Menuiserie belongs");
    Check(menuiserie.id == std::to_string(i + 1),
          where + "Menuiserie id is \"" + Printable(menuiserie.id.value_or("(none)")) + "\"");
    Check(menuiserie.children.size() == std::size(kChildren),
          where + "Menuiserie has " + std::to_string(menuiserie.children.size()) +
              " child elements, not 7");
    const Line& line = lines[i];
    const std::string image = line.entry.Picture_Path.empty() ? "" : line.stored_path;
    const std::string* given[] = {&jeton,
                                  &devis.Numero,
                                  &line.entry.Description,
                                  &line.entry.Designation,
                                  &line.entry.Unit_Price,
                                  &line.entry.Quantity,
                                  &image};
    for (std::size_t c = 0; c < std::size(kChildren); ++c) {
      const Child& child = menuiserie.children[c];
      Check(child.name == kChildren[c], where + "child " + std::to_string(c + 1) + " is \"" +
                                            Printable(child.name) + "\", not " + kChildren[c]);
      Check(!child.has_markup, where + kChildren[c] + " holds more than text");
      const std::string expected = XmlTextOf(*given[c]);
      Check(child.text == expected, where + kChildren[c] + " holds \"" + Printable(child.text) +
                                        "\" for the text \"" + Printable(*given[c]) +
                                        "\" (expected \"" + Printable(expected) + "\")");
    }
  }
}

void Run(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string retrieval_document = in.ConsumeRandomLengthString();
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
    const std::optional<std::string> document =
        lumivane::result::ConstruireResultat(retrieval_document, devis, jeton, telecharger);
    if (!document) {
      Check(downloads == 0, "pictures downloaded for a document without Configurateur");
      return;
    }
    bytes = lumivane::result::OctetsFichierEchange(*document);
  } catch (const std::exception&) {
    return;  // one of the module's messages: a fine outcome
  }
  Check(downloads == with_picture.size(), "not every picture URL was downloaded");
  CheckExchangeFile(bytes, jeton, devis, lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumivane::fuzz::RunWithStack(lumivane::fuzz::kStackBudget, [&] { Run(data, size); });
  return 0;
}
