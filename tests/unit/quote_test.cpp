#include "quote/quote.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using lumivane::quote::CorpsRequeteDevis;
using lumivane::quote::Devis;
using lumivane::quote::ExtraireTexteDevis;
using lumivane::quote::LigneDevis;
using lumivane::quote::LireDevis;
using lumivane::quote::ReadRetrievalDocument;
using lumivane::quote::XmlError;

namespace {

TEST(CorpsRequeteDevis, OrdinaryIdGivesTheServiceBodyByteForByte) {
  const std::string body = CorpsRequeteDevis("42");
  EXPECT_EQ(body, R"({"QUOTE_ID" : "42","key" : "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51"})");
  EXPECT_EQ(body.size(), 66u);
  EXPECT_EQ(CorpsRequeteDevis(""),
            R"({"QUOTE_ID" : "","key" : "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51"})");
}

TEST(CorpsRequeteDevis, HostileIdsAreEscapedAndAccentsKeptAsUtf8) {
  const std::string tail = R"(,"key" : "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51"})";
  EXPECT_EQ(CorpsRequeteDevis(R"(4"2)"), R"({"QUOTE_ID" : "4\"2")" + tail);
  EXPECT_EQ(CorpsRequeteDevis(R"(C:\x)"), R"({"QUOTE_ID" : "C:\\x")" + tail);
  EXPECT_EQ(CorpsRequeteDevis("a\nb\x01"), R"({"QUOTE_ID" : "a\nb\u0001")" + tail);
  EXPECT_EQ(CorpsRequeteDevis("Devis n\xC2\xB0 \xC3\xA9t\xC3\xA9"),
            "{\"QUOTE_ID\" : \"Devis n\xC2\xB0 \xC3\xA9t\xC3\xA9\"" + tail);
  // Bytes that are not UTF-8 do not stop the request.
  EXPECT_EQ(CorpsRequeteDevis("a\xE9"), "{\"QUOTE_ID\" : \"a\xEF\xBF\xBD\"" + tail);
}

TEST(ExtraireTexteDevis, TakesTheStringWithEscapesResolved) {
  EXPECT_EQ(ExtraireTexteDevis(R"({"GetDataQuoteResult":"<a x=\"1\">\/\u00e9<\/a>"})"),
            "<a x=\"1\">/\xC3\xA9</a>");
  EXPECT_EQ(ExtraireTexteDevis(R"( {"Autre":1, "GetDataQuoteResult" : ""} )"), "");
}

TEST(ExtraireTexteDevis, AnythingButAStringMemberOfAnObjectIsEmpty) {
  for (const char* body :
       {R"({"GetDataQuoteResult":null})", R"({"GetDataQuoteResult":12})",
        R"({"GetDataQuoteResult":{"a":"b"}})", R"({"Autre":"<a/>"})", R"(["<a/>"])", R"("<a/>")",
        "NULL", " null", "null\n", "", "{", "<Sales_Header/>"}) {
    EXPECT_EQ(ExtraireTexteDevis(body), "") << body;
  }
}

std::string LireDevisId(const std::string& text) {
  return lumivane::quote::LireDevisId(ReadRetrievalDocument(text));
}

TEST(LireDevisId, ReadsProjectOfTheTopLevelConfigurateur) {
  EXPECT_EQ(LireDevisId("<Configurateur><Passerelle>p</Passerelle><Project> 42 </Project>"
                        "<Project>43</Project></Configurateur>"),
            " 42 ");
  EXPECT_EQ(LireDevisId("<Configurateur><Project>  </Project></Configurateur>"), "  ");
  EXPECT_EQ(LireDevisId("<Configurateur><Passerelle/></Configurateur>"), "");
  EXPECT_EQ(LireDevisId("<Autre><Configurateur><Project>1</Project></Configurateur></Autre>"), "");
  EXPECT_EQ(LireDevisId("<configurateur><Project>1</Project></configurateur>"), "");
  // A declared ISO-8859-1 document comes out as UTF-8.
  EXPECT_EQ(LireDevisId("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                        "<Configurateur><Project>\xE9t\xE9</Project></Configurateur>"),
            "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(LireDevisId("<?xml version='1.0' encoding='cp1252'?>"
                        "<Configurateur><Project>\x80\xE9</Project></Configurateur>"),
            "\xE2\x82\xAC\xC3\xA9");
  // Without a declaration, the Content-Type's charset.
  EXPECT_EQ(lumivane::quote::LireDevisId(
                ReadRetrievalDocument("<Configurateur><Project>\xE9</Project></Configurateur>",
                                      "text/xml; charset=ISO-8859-1")),
            "\xC3\xA9");
}

// The document is read with every node the exchange file copies: elements
// only are looked for, and the text is joined across comments and
// processing instructions.
TEST(LireDevisId, OnlyElementsGiveTheId) {
  EXPECT_EQ(LireDevisId("<?Configurateur x?><Configurateur><Project>1</Project></Configurateur>"),
            "1");
  EXPECT_EQ(LireDevisId("<Configurateur><?Project x?><Project>2</Project></Configurateur>"), "2");
  EXPECT_EQ(LireDevisId("<Configurateur><Project>4<!-- c -->2<?p?>!</Project></Configurateur>"),
            "42!");
}

TEST(ReadRetrievalDocument, MalformedDocumentThrowsWithAFrenchText) {
  for (const char* text : {"", "<Configurateur><Project>1</Configurateur>", "pas du XML"}) {
    try {
      ReadRetrievalDocument(text);
      ADD_FAILURE() << "no error for: " << text;
    } catch (const XmlError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Document de récupération illisible : ", 0), 0u)
          << e.what();
    }
  }
}

// The parser refuses a declaration inside an element, or one whose
// pseudo-attributes are malformed, only when it keeps them: such a document
// still gives its id, and says why it cannot become the exchange file. The
// error is the one of the reading without them when that fails too.
TEST(ReadRetrievalDocument, ReadOnlyWithoutItsDeclarationsKeepsWhyItIsNotWhole) {
  const auto whole = ReadRetrievalDocument("<?xml version=\"1.0\"?><Configurateur/>");
  EXPECT_EQ(whole.unreadable_whole, "");
  ASSERT_TRUE(whole.tree);
  EXPECT_EQ(whole.tree->first_child().type(), pugi::node_declaration);

  const auto inside = ReadRetrievalDocument(
      "<Configurateur><Project>3</Project><?xml version=\"1.0\"?>"
      "</Configurateur>");
  EXPECT_EQ(lumivane::quote::LireDevisId(inside), "3");
  EXPECT_EQ(inside.unreadable_whole,
            "Document de récupération illisible : instruction de traitement (<?…?>) mal formée "
            "(octet 40)");
  const auto malformed = ReadRetrievalDocument(
      "<?xml version=1.0?><Configurateur><Project>4</Project></Configurateur>");
  EXPECT_EQ(lumivane::quote::LireDevisId(malformed), "4");
  EXPECT_THAT(malformed.unreadable_whole,
              ::testing::StartsWith("Document de récupération illisible : attribut mal formé"));

  // An unterminated comment: the reading without declarations says where.
  try {
    ReadRetrievalDocument("<?xml version=\"1.0\"?><Configurateur><!-- sans fin");
    ADD_FAILURE() << "no error";
  } catch (const XmlError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Document de récupération illisible : commentaire mal formé (octet 48)");
  }
}

Devis Lire(const std::string& text) {
  Devis devis;
  EXPECT_TRUE(LireDevis(text, devis)) << text;
  return devis;
}

std::string Ligne(const std::string& name, const std::string& content) {
  return "<" + name + ">" + content + "</" + name + ">";
}

TEST(LireDevis, FalseWithoutHeaderOrLinesContainer) {
  Devis devis;
  EXPECT_FALSE(LireDevis("", devis));
  EXPECT_FALSE(
      LireDevis("<Autre><Sales_Header><GeneralData_Sales_Lines/></Sales_Header></Autre>", devis));
  EXPECT_FALSE(LireDevis("<sales_header><GeneralData_Sales_Lines/></sales_header>", devis));
  EXPECT_FALSE(LireDevis("<Sales_Header><No>7</No></Sales_Header>", devis));
  EXPECT_FALSE(LireDevis(
      "<Sales_Header><No>7</No><Lines><GeneralData_Sales_Lines/></Lines></Sales_Header>", devis));
}

TEST(LireDevis, MalformedQuoteThrows) {
  Devis devis;
  EXPECT_THROW(LireDevis("<Sales_Header><No>7</Sales_Header>", devis), XmlError);
  EXPECT_THROW(LireDevis("NULL", devis), XmlError);
}

TEST(LireDevis, ReadsNumberAndLinesOfAnyNameInOrder) {
  const Devis devis = Lire(
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?>"
      "<Sales_Header><No>D-2020-\xC3\xA9</No><No>autre</No>"
      "<GeneralData_Sales_Lines>"
      "<!-- une remarque -->" +
      Ligne("Line", Ligne("GeneralData", Ligne("Unit_Price", "12.50") + Ligne("Quantity", "1,5") +
                                             Ligne("Picture_Path", "http://h/p.png?a=1&amp;b=2") +
                                             Ligne("Designation", " Fen\xC3\xAAtre ")) +
                        Ligne("Informations_supp",
                              Ligne("Information_supp", Ligne("Description", "premier")) +
                                  Ligne("Information_supp", Ligne("Description", "second")))) +
      "<?pi ligne?>" + Ligne("Porte", "") + Ligne("X", Ligne("GeneralData", "")) +
      "</GeneralData_Sales_Lines></Sales_Header>");

  EXPECT_EQ(devis.Numero, "D-2020-\xC3\xA9");  // UTF-8 whatever the declaration says
  ASSERT_EQ(devis.Lignes.size(), 3u);          // the comment and the PI are not lines
  const LigneDevis& a = devis.Lignes[0];
  EXPECT_EQ(a.Numero, 1);
  EXPECT_EQ(a.Unit_Price, "12.50");
  EXPECT_EQ(a.Quantity, "1,5");
  EXPECT_EQ(a.Picture_Path, "http://h/p.png?a=1&b=2");
  EXPECT_EQ(a.Designation, " Fen\xC3\xAAtre ");
  EXPECT_EQ(a.Description, "premier");
  EXPECT_EQ(devis.Lignes[1].Numero, 2);
  EXPECT_EQ(devis.Lignes[2].Numero, 3);
  for (int i : {1, 2}) {
    const LigneDevis& l = devis.Lignes[static_cast<std::size_t>(i)];
    EXPECT_EQ(l.Unit_Price + l.Quantity + l.Picture_Path + l.Designation + l.Description, "");
  }
}

TEST(LireDevis, NothingCarriesOverAndOnlyExactPlacesCount) {
  const Devis devis = Lire(
      "<Sales_Header><GeneralData_Sales_Lines>" +
      Ligne("L",
            Ligne("GeneralData", Ligne("Unit_Price", "10") + Ligne("Picture_Path", "http://a")) +
                Ligne("Informations_supp", Ligne("Information_supp", Ligne("Description", "un")))) +
      // Names differing in case, Description one level too high, Informations_supp
      // inside GeneralData.
      Ligne("L", Ligne("GeneralData",
                       Ligne("unit_price", "11") + Ligne("PICTURE_PATH", "http://b") +
                           Ligne("Informations_supp",
                                 Ligne("Information_supp", Ligne("Description", "mal placé")))) +
                     Ligne("Informations_supp", Ligne("Description", "trop haut"))) +
      // No GeneralData: the label is still read; first GeneralData only.
      Ligne("L",
            Ligne("Informations_supp", Ligne("Information_supp", Ligne("Description", "trois")))) +
      Ligne("L", Ligne("GeneralData", Ligne("Quantity", "4")) +
                     Ligne("GeneralData", Ligne("Unit_Price", "99"))) +
      "</GeneralData_Sales_Lines></Sales_Header>");

  EXPECT_EQ(devis.Numero, "");
  ASSERT_EQ(devis.Lignes.size(), 4u);
  EXPECT_EQ(devis.Lignes[0].Unit_Price, "10");
  EXPECT_EQ(devis.Lignes[0].Description, "un");
  EXPECT_EQ(devis.Lignes[1].Unit_Price, "");
  EXPECT_EQ(devis.Lignes[1].Picture_Path, "");
  EXPECT_EQ(devis.Lignes[1].Description, "");
  EXPECT_EQ(devis.Lignes[2].Description, "trois");
  EXPECT_EQ(devis.Lignes[2].Picture_Path, "");
  EXPECT_EQ(devis.Lignes[3].Quantity, "4");
  EXPECT_EQ(devis.Lignes[3].Unit_Price, "");
}

TEST(LireDevis, EmptyContainerAndCdataTexts) {
  EXPECT_TRUE(Lire("<Sales_Header><No>9</No><GeneralData_Sales_Lines>\n  </GeneralData_Sales_Lines>"
                   "</Sales_Header>")
                  .Lignes.empty());
  const Devis devis = Lire(
      "<Sales_Header><No><![CDATA[A&B]]></No><GeneralData_Sales_Lines>\n  <L>\n"
      "<GeneralData>\n<Designation>\n<![CDATA[<b>]]></Designation><Quantity>  </Quantity>"
      "</GeneralData></L>\n</GeneralData_Sales_Lines></Sales_Header>");
  EXPECT_EQ(devis.Numero, "A&B");
  ASSERT_EQ(devis.Lignes.size(), 1u);
  // Every text piece counts, the line break before the section too.
  EXPECT_EQ(devis.Lignes[0].Designation, "\n<b>");
  EXPECT_EQ(devis.Lignes[0].Quantity, "  ");
}

}  // namespace
