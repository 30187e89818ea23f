// The exchange file as the hosts read it: the Windows XML DOM (MSXML 3.0 and
// 6.0, created by their ProgIDs) loads the bytes the module's own result code
// writes, and must find every text of the quote exactly as it was given.
#include <gtest/gtest.h>
#include <msxml2.h>
#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/windows/wide.h"
#include "result/result.h"
#include "temp_dir.h"

namespace lumivane::result {
namespace {

using lumivane::testing::TempDir;
using Microsoft::WRL::ComPtr;
using platform::windows::Utf8;
using platform::windows::Wide;

// Texts a quote may carry: letters beyond ISO-8859-1 (written as character
// references), markup characters, "]]>", blanks, TAB, LF, CR, C1 controls.
quote::Devis Quote() {
  quote::Devis devis;
  devis.Numero = "DV <2026> & \"42\" 'b' ]]> €";
  devis.Lignes = {
      {1, "1 250,00 €", "2", "http://images/1.jpeg", "Fenêtre “Œil-de-bœuf” — Š Ž ™",
       "窓 😀 ąęł Ωμέγα ﬁ"},
      {2, "<b>389.00</b>", "a & b &amp; &#233; &lt;", "", "]]>", "x]]>y]]]]>>"},
      {3, "  deux blancs  ", "\tA\tB\t", "", "ligne 1\nligne 2\n", "\n"},
      {4, "   ", "a\r\nb\r", "", "\x7F \xC2\x80 \xC2\x85 \xC2\x9F \xC2\xA0", ""},
      {5, "é à ç ÿ ß « » ° ±", "", "", "'\"'", " \t\n "},
  };
  return devis;
}

const std::string kRetrieval =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Configurateur><Project>42</Project>"
    "<Passerelle>a &amp; b &lt;c&gt; \xE2\x82\xAC</Passerelle>"
    "<Note><![CDATA[x < y & \xE2\x82\xAC ]]]]><![CDATA[>]]></Note></Configurateur>";

// The picture path each line gets: a Windows path with blanks and letters.
std::string PicturePath(const std::string& url) {
  return "C:\\Users\\Hélène Dupont\\Devis été\\images\\20261208_091500_€ 窓_" +
         url.substr(url.rfind('/') + 1);
}

// The quote's seven texts of each line, in the order of the Menuiserie
// children.
std::vector<std::vector<std::string>> ExpectedLines(const quote::Devis& devis) {
  std::vector<std::vector<std::string>> lines;
  for (const auto& ligne : devis.Lignes) {
    lines.push_back({"jeton <&>", devis.Numero, ligne.Description, ligne.Designation,
                     ligne.Unit_Price, ligne.Quantity,
                     ligne.Picture_Path.empty() ? "" : PicturePath(ligne.Picture_Path)});
  }
  return lines;
}

bool EdgedWithBlanks(const std::string& text) {
  constexpr std::string_view kXmlBlanks = " \t\r\n";
  return !text.empty() && (kXmlBlanks.find(text.front()) != std::string_view::npos ||
                           kXmlBlanks.find(text.back()) != std::string_view::npos);
}

std::string Text(const ComPtr<IXMLDOMNode>& node) {
  BSTR text = nullptr;
  EXPECT_EQ(node->get_text(&text), S_OK);
  const std::string utf8 = Utf8(std::wstring_view(text, SysStringLen(text)));
  SysFreeString(text);
  return utf8;
}

ComPtr<IXMLDOMNode> Select(const ComPtr<IXMLDOMDocument>& doc, const wchar_t* path) {
  ComPtr<IXMLDOMNode> node;
  BSTR query = SysAllocString(path);
  doc->selectSingleNode(query, &node);
  SysFreeString(query);
  return node;
}

class ExchangeMsxmlTest : public ::testing::TestWithParam<const wchar_t*> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  }
  void TearDown() override { CoUninitialize(); }

  // The document as the DOM of the ProgID loads the file.
  ComPtr<IXMLDOMDocument> Load(const std::filesystem::path& path, bool preserve_white_space) {
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(GetParam(), &clsid), S_OK) << "not registered";
    ComPtr<IXMLDOMDocument> doc;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               reinterpret_cast<void**>(doc.GetAddressOf())),
              S_OK);
    if (!doc) return doc;
    doc->put_async(VARIANT_FALSE);
    doc->put_preserveWhiteSpace(preserve_white_space ? VARIANT_TRUE : VARIANT_FALSE);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(path.c_str());
    VARIANT_BOOL loaded = VARIANT_FALSE;
    doc->load(source, &loaded);
    VariantClear(&source);
    if (loaded != VARIANT_TRUE) {
      ComPtr<IXMLDOMParseError> error;
      BSTR reason = nullptr;
      if (SUCCEEDED(doc->get_parseError(&error)) && error) error->get_reason(&reason);
      ADD_FAILURE() << "not loaded: "
                    << (reason ? Utf8(std::wstring_view(reason, SysStringLen(reason))) : "");
      SysFreeString(reason);
      return nullptr;
    }
    return doc;
  }
};

TEST_P(ExchangeMsxmlTest, FindsEveryTextOfTheQuoteAsGiven) {
  const quote::Devis devis = Quote();
  std::optional<ResultDocument> document =
      VerifierResultat(quote::ReadRetrievalDocument(kRetrieval));
  ASSERT_TRUE(document);
  const std::string built =
      ConstruireResultat(std::move(*document), devis, "jeton <&>", PicturePath);
  const TempDir dir;
  // An accented name, as UTF-8 says it (a narrow string would be read in the
  // ANSI code page).
  const auto path = dir.Path() / std::filesystem::path(u8"échange.xml");
  lumivane::testing::WriteFile(path, OctetsFichierEchange(built));
  const auto expected = ExpectedLines(devis);
  const char* children[] = {"Jeton",        "Project",  "Libelle", "Designation",
                            "PrixUnitaire", "Quantite", "Image"};

  // Blanks kept, as a host asks with preserveWhiteSpace: every text exact.
  // Without it MSXML's own rules apply: whitespace-only texts are dropped and
  // `text` trims the blanks at either end, so only the other texts are held
  // to be exact then.
  for (const bool preserve : {true, false}) {
    SCOPED_TRACE(preserve ? "preserveWhiteSpace" : "default white space");
    const auto doc = Load(path, preserve);
    ASSERT_TRUE(doc);
    EXPECT_EQ(Text(Select(doc, L"/Configurateur/Passerelle")), "a & b <c> €");
    EXPECT_EQ(Text(Select(doc, L"/Configurateur/Note")), "x < y & € ]]>");

    ComPtr<IXMLDOMNodeList> lines;
    BSTR query = SysAllocString(L"/Configurateur/Menuiserie");
    ASSERT_EQ(doc->selectNodes(query, &lines), S_OK);
    SysFreeString(query);
    long count = 0;
    lines->get_length(&count);
    ASSERT_EQ(count, static_cast<long>(expected.size()));
    for (long i = 0; i < count; ++i) {
      ComPtr<IXMLDOMNode> line;
      lines->get_item(i, &line);
      ComPtr<IXMLDOMNode> id;
      BSTR id_query = SysAllocString(L"@id");
      line->selectSingleNode(id_query, &id);
      SysFreeString(id_query);
      ASSERT_TRUE(id);
      EXPECT_EQ(Text(id), std::to_string(i + 1));

      ComPtr<IXMLDOMNodeList> fields;
      line->get_childNodes(&fields);
      long field_count = 0;
      fields->get_length(&field_count);
      ASSERT_EQ(field_count, 7);
      for (long f = 0; f < field_count; ++f) {
        ComPtr<IXMLDOMNode> field;
        fields->get_item(f, &field);
        BSTR name = nullptr;
        field->get_nodeName(&name);
        EXPECT_EQ(Utf8(std::wstring_view(name, SysStringLen(name))), children[f]);
        SysFreeString(name);
        const std::string& given = expected[i][f];
        if (!preserve && EdgedWithBlanks(given)) continue;
        EXPECT_EQ(Text(field), given) << "line " << i + 1 << ", " << children[f];
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Msxml, ExchangeMsxmlTest,
                         ::testing::Values(L"Msxml2.DOMDocument.3.0", L"Msxml2.DOMDocument.6.0"),
                         [](const auto& info) {
                           return std::wstring_view(info.param).ends_with(L"3.0")
                                      ? std::string("Version3")
                                      : std::string("Version6");
                         });

}  // namespace
}  // namespace lumivane::result
