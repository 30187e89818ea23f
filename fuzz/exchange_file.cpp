#include "exchange_file.h"

#include <expat.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "oracle.h"

namespace lumivane::fuzz {

namespace {

constexpr const char* kChildren[] = {"Jeton",        "Project",  "Libelle", "Designation",
                                     "PrixUnitaire", "Quantite", "Image"};

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
  std::optional<std::string> error;  // set when expat refuses the document
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
    const auto at =
        static_cast<std::size_t>(std::max<XML_Index>(0, XML_GetCurrentByteIndex(parser.get())));
    const std::size_t from = std::min(at > 60 ? at - 60 : 0, bytes.size());
    file.error = std::string("not well-formed XML 1.0: ") +
                 XML_ErrorString(XML_GetErrorCode(parser.get())) + " at line " +
                 std::to_string(XML_GetCurrentLineNumber(parser.get())) + ", column " +
                 std::to_string(XML_GetCurrentColumnNumber(parser.get())) + ", near \"" +
                 Printable(bytes.substr(from, at - from + 20)) + "\"";
  }
  return file;
}

}  // namespace

std::optional<std::string> ExchangeFileProblem(const std::string& bytes,
                                               const std::vector<MenuiserieTexts>& expected) {
  if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0) {
    return "exchange file does not end with CR LF";
  }
  const ExchangeFile file = ReadExchangeFile(bytes);
  if (file.error) return "exchange file is " + *file.error;
  if (!file.declared) return "exchange file has no XML declaration";
  if (file.encoding != "ISO-8859-1") {
    return "exchange file declares \"" + Printable(file.encoding) + "\", not ISO-8859-1";
  }
  if (file.root != "Configurateur") {
    return "root element is \"" + Printable(file.root) + "\", not Configurateur";
  }
  if (file.root_children.size() < expected.size()) {
    return "fewer children under Configurateur than quote lines";
  }

  const std::size_t first = file.root_children.size() - expected.size();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const RootChild& menuiserie = file.root_children[first + i];
    const std::string where = "line " + std::to_string(i + 1) + ": ";
    if (menuiserie.name != "Menuiserie") {
      return where + "element \"" + Printable(menuiserie.name) + "\" where a Menuiserie belongs";
    }
    if (menuiserie.id != std::to_string(i + 1)) {
      return where + "Menuiserie id is \"" + Printable(menuiserie.id.value_or("(none)")) + "\"";
    }
    if (menuiserie.children.size() != std::size(kChildren)) {
      return where + "Menuiserie has " + std::to_string(menuiserie.children.size()) +
             " child elements, not 7";
    }
    for (std::size_t c = 0; c < std::size(kChildren); ++c) {
      const Child& child = menuiserie.children[c];
      if (child.name != kChildren[c]) {
        return where + "child " + std::to_string(c + 1) + " is \"" + Printable(child.name) +
               "\", not " + kChildren[c];
      }
      if (child.has_markup) return where + kChildren[c] + " holds more than text";
      const std::string& given = expected[i][c];
      const std::string wanted = XmlTextOf(given);
      if (child.text != wanted) {
        return where + kChildren[c] + " holds \"" + Printable(child.text) + "\" for the text \"" +
               Printable(given) + "\" (expected \"" + Printable(wanted) + "\")";
      }
    }
  }
  return std::nullopt;
}

}  // namespace lumivane::fuzz
