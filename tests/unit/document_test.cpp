#include "xml/document.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace lumivane::xml {
namespace {

using ::testing::HasSubstr;

constexpr auto kWhat = text::UserText::kRetrievalDocumentUnreadable;

std::string Decode(const std::string& bytes, const std::string& content_type = {}) {
  return DecodeDocument(bytes, content_type, kWhat);
}

std::string DecodeError(const std::string& bytes, const std::string& content_type = {}) {
  try {
    Decode(bytes, content_type);
  } catch (const XmlError& error) {
    return error.what();
  }
  return "no error";
}

// Which encoding a received document is read in: the declaration, else the
// Content-Type's charset, else UTF-8 when the bytes are UTF-8, else
// Windows-1252; and never a wrong guess in silence.
TEST(DecodeDocument, OneRuleForEveryDocument) {
  // No declaration, raw Latin-1 bytes: read as Windows-1252, accents kept.
  EXPECT_EQ(Decode("<No>P\xE9rez</No>"), "<No>P\xC3\xA9rez</No>");
  // Declared ISO-8859-15: 0xA4 is the euro sign there, Œ at 0xBC.
  EXPECT_EQ(Decode("<?xml version='1.0' encoding='ISO-8859-15'?><a>\xA4\xBC</a>"),
            "<?xml version='1.0' encoding='ISO-8859-15'?><a>\xE2\x82\xAC\xC5\x92</a>");
  // Declared ISO-8859-1 (any alias, any case): 0x80 to 0x9F are C1 controls.
  EXPECT_EQ(Decode("<?xml version=\"1.0\" encoding=\"Latin1\"?><a>\xE9\x85</a>"),
            "<?xml version=\"1.0\" encoding=\"Latin1\"?><a>\xC3\xA9\xC2\x85</a>");
  // The charset of the Content-Type counts only without a declaration.
  EXPECT_EQ(Decode("<a>\xE9</a>", "text/xml; Charset=\"iso-8859-1\""), "<a>\xC3\xA9</a>");
  EXPECT_EQ(Decode("<a>\xA4</a>", "application/xml;charset=ISO-8859-15"), "<a>\xE2\x82\xAC</a>");
  EXPECT_EQ(Decode("<?xml version='1.0' encoding='utf-8'?><a>\xC3\xA9</a>",
                   "text/xml; charset=windows-1252"),
            "<?xml version='1.0' encoding='utf-8'?><a>\xC3\xA9</a>");
  // UTF-8 stays as it is; a byte-order mark goes.
  EXPECT_EQ(Decode("\xEF\xBB\xBF<a>\xC3\xA9</a>"), "<a>\xC3\xA9</a>");
  // UTF-16 with its byte-order mark, either order, a pair of surrogates too.
  EXPECT_EQ(Decode(std::string("\xFF\xFE<\0a\0>\0\xE9\0=\xD8\x00\xDE<\0", 16)),
            "<a>\xC3\xA9\xF0\x9F\x98\x80<");
  EXPECT_EQ(Decode(std::string("\xFE\xFF\0<\0a\0>\x20\xAC", 10)), "<a>\xE2\x82\xAC");

  // Refused, naming the encoding: unknown, or bytes that do not fit it.
  EXPECT_THAT(DecodeError("<?xml version='1.0' encoding='EBCDIC-FR'?><a/>"),
              HasSubstr("EBCDIC-FR"));
  EXPECT_THAT(DecodeError("<a/>", "text/xml; charset=koi8-r"), HasSubstr("koi8-r"));
  EXPECT_THAT(DecodeError("<?xml version='1.0' encoding='UTF-8'?><a>\xE9</a>"), HasSubstr("UTF-8"));
  EXPECT_THAT(DecodeError("<?xml version='1.0' encoding='us-ascii'?><a>\xC3\xA9</a>"),
              HasSubstr("us-ascii"));
  EXPECT_THAT(DecodeError("<?xml version='1.0' encoding='UTF-16'?><a/>"), HasSubstr("UTF-16"));
  EXPECT_THAT(DecodeError(std::string("\xFF\xFE<\0\0\xDC", 6)), HasSubstr("UTF-16"));
  EXPECT_EQ(DecodeError("<?xml version='1.0' encoding='x'?>")
                .rfind("Document de récupération illisible : ", 0),
            0u);
}

// An element's text is every text and CDATA piece it holds, joined: a
// comment or a CDATA section inside a value cuts nothing.
TEST(TextOf, JoinsEveryDirectTextPiece) {
  pugi::xml_document doc;
  ParseText(doc,
            "<a><d>Porte <![CDATA[<Alu>]]> 2 vantaux</d><e>Pro<!-- x -->j<?pi y?>et</e>"
            "<f>  </f><g>x<h>pas ceci</h>y</g></a>",
            kReadOptions, kWhat);
  const pugi::xml_node a = doc.child("a");
  EXPECT_EQ(TextOf(a.child("d")), "Porte <Alu> 2 vantaux");
  EXPECT_EQ(TextOf(a.child("e")), "Projet");
  EXPECT_EQ(TextOf(a.child("f")), "  ");
  EXPECT_EQ(TextOf(a.child("g")), "xy");
  EXPECT_EQ(TextOf(a.child("absent")), "");
  EXPECT_THROW(ParseText(doc, "<a>", kReadOptions, kWhat), XmlError);
  // References to no character: refused rather than cut or passed on broken.
  for (const char* text : {"<a>x&#0;y</a>", "<a>&#xD800;</a>", "<a b='&#x110000;'/>",
                           "<a>&#23311111111111;</a>", "<a>&#x000;</a>"}) {
    EXPECT_THROW(ParseText(doc, text, kReadOptions, kWhat), XmlError) << text;
  }
}

}  // namespace
}  // namespace lumivane::xml
