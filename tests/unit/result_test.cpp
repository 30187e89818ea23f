#include "result/result.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using lumivane::quote::Devis;
using lumivane::quote::LigneDevis;
using lumivane::quote::LireDevisId;
using lumivane::quote::ReadRetrievalDocument;
using lumivane::quote::XmlError;
using lumivane::result::ConstruireResultat;
using lumivane::result::OctetsFichierEchange;
using lumivane::result::ResultDocument;
using lumivane::result::Telecharger;
using lumivane::result::VerifierResultat;

namespace {

using ::testing::HasSubstr;

// Hands out paths for the URLs it is given and records the calls.
struct FakeDownloads {
  std::vector<std::string> urls;
  Telecharger Fn() {
    return [this](const std::string& url) -> std::optional<std::string> {
      urls.push_back(url);
      if (url.find("absente") != std::string::npos) return std::nullopt;
      return "/opt/x/images/" + std::to_string(urls.size()) + ".jpeg";
    };
  }
};

// The retrieval's road from the document's bytes: read, checked, then built;
// nothing without a top-level Configurateur.
std::optional<std::string> Construire(const std::string& retrieval, const Devis& devis,
                                      const std::string& jeton, const Telecharger& telecharger) {
  std::optional<ResultDocument> document = VerifierResultat(ReadRetrievalDocument(retrieval));
  if (!document) return std::nullopt;
  return ConstruireResultat(std::move(*document), devis, jeton, telecharger);
}

Devis TroisLignes() {
  Devis devis;
  devis.Numero = "D\xC3\xA9v-7";  // "Dév-7"
  LigneDevis a;
  a.Numero = 1;
  a.Unit_Price = "12.50";
  a.Quantity = "2";
  a.Picture_Path = "http://img/a.png";
  a.Designation = "Fen\xC3\xAAtre <PVC> & \xE2\x82\xAC";  // "Fenêtre <PVC> & €"
  a.Description = "Libell\xC3\xA9 1";
  LigneDevis b;  // every text empty, picture download fails
  b.Numero = 2;
  b.Picture_Path = "http://img/absente.png";
  LigneDevis c;  // no picture at all
  c.Numero = 3;
  c.Unit_Price = " 1,5 ";
  c.Quantity = "1";
  return {devis.Numero, {a, b, c}};
}

TEST(ResultDocument, KeepsEverythingAndAppendsOneMenuiseriePerLine) {
  // What stands inside the root comes out as it went in: blanks, comments, an
  // earlier Menuiserie, a CDATA section. One holding a character ISO-8859-1
  // lacks becomes text, which can carry its reference.
  const std::string kept =
      "<Configurateur version=\"2\">\n"
      "  <Passerelle a=\"&quot;x&quot;\">p</Passerelle>\n"
      "  <Project>42</Project>\n"
      "  <Menuiserie id=\"1\"><Jeton>ancien</Jeton></Menuiserie>\n"
      "  <!-- garder -->\n"
      "  <Note><![CDATA[a < b é]]></Note>\n";
  const std::string retrieval =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<!-- entête -->\n" +
      kept +
      "  <Prix><![CDATA[10 €]]></Prix>\n"
      "  <?traitement x?>\n"
      "</Configurateur>\n";
  FakeDownloads downloads;
  const std::optional<std::string> document =
      Construire(retrieval, TroisLignes(), "jet-1", downloads.Fn());
  ASSERT_TRUE(document);
  EXPECT_EQ(downloads.urls,
            (std::vector<std::string>{"http://img/a.png", "http://img/absente.png"}));

  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>"
      "<!-- entête -->" +
      kept +
      "  <Prix>10 €</Prix>\n"
      "  <?traitement x?>\n"
      "<Menuiserie id=\"1\"><Jeton>jet-1</Jeton><Project>Dév-7</Project>"
      "<Libelle>Libellé 1</Libelle><Designation>Fenêtre &lt;PVC&gt; &amp; €</Designation>"
      "<PrixUnitaire>12.50</PrixUnitaire><Quantite>2</Quantite>"
      "<Image>/opt/x/images/1.jpeg</Image></Menuiserie>"
      "<Menuiserie id=\"2\"><Jeton>jet-1</Jeton><Project>Dév-7</Project>"
      "<Libelle></Libelle><Designation></Designation><PrixUnitaire></PrixUnitaire>"
      "<Quantite></Quantite><Image></Image></Menuiserie>"
      "<Menuiserie id=\"3\"><Jeton>jet-1</Jeton><Project>Dév-7</Project>"
      "<Libelle></Libelle><Designation></Designation><PrixUnitaire> 1,5 </PrixUnitaire>"
      "<Quantite>1</Quantite><Image></Image></Menuiserie>"
      "</Configurateur>";
  EXPECT_EQ(*document, expected);

  // In the exchange file: single bytes for accented letters, a reference for
  // the euro sign, CR LF at the end, no byte-order mark.
  const std::string bytes = OctetsFichierEchange(*document);
  EXPECT_EQ(bytes.substr(0, 5), "<?xml");
  EXPECT_THAT(bytes, HasSubstr("<Project>D\xE9v-7</Project>"));
  EXPECT_THAT(bytes, HasSubstr("<Prix>10 &#8364;</Prix>"));
  EXPECT_THAT(bytes, HasSubstr("<Note><![CDATA[a < b \xE9]]></Note>"));
  EXPECT_THAT(bytes, HasSubstr("Fen\xEAtre &lt;PVC&gt; &amp; &#8364;</Designation>"));
  EXPECT_EQ(bytes.substr(bytes.size() - 18), "</Configurateur>\r\n");
  EXPECT_EQ(bytes.find('\r'), bytes.size() - 2);
}

TEST(ResultDocument, DeclarationIsAddedOrGivenTheEncoding) {
  const Devis vide{"7", {}};
  EXPECT_EQ(Construire("<Configurateur><Project>1</Project></Configurateur>", vide, "j", nullptr),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
            "<Configurateur><Project>1</Project></Configurateur>");
  EXPECT_EQ(
      Construire("<?xml version=\"1.1\" standalone=\"no\"?><Configurateur/>", vide, "j", nullptr),
      "<?xml version=\"1.1\" encoding=\"ISO-8859-1\" standalone=\"no\"?><Configurateur/>");
  // A declaration in capitals is written as the one XML knows.
  EXPECT_EQ(Construire("<?XML version=\"1.0\"?><Configurateur/>", vide, "j", nullptr),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configurateur/>");
  // A document declared ISO-8859-1 is read as such.
  EXPECT_EQ(Construire("<?xml version='1.0' encoding='iso-8859-1'?>"
                       "<Configurateur>\xE9t\xE9</Configurateur>",
                       vide, "j", nullptr),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configurateur>\xC3\xA9t\xC3\xA9"
            "</Configurateur>");
  // So is one declared windows-1252, euro sign (0x80) and quotes (0x92) included.
  const auto cp1252 = Construire(
      "<?xml version=\"1.0\" encoding=\"Windows-1252\"?>"
      "<Configurateur><Project>l\x92\xE9t\xE9 \x80</Project></Configurateur>",
      vide, "j", nullptr);
  EXPECT_EQ(OctetsFichierEchange(*cp1252),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configurateur><Project>"
            "l&#8217;\xE9t\xE9 &#8364;</Project></Configurateur>\r\n");
}

TEST(ResultDocument, WithoutTopLevelConfigurateurNothingIsBuiltOrDownloaded) {
  FakeDownloads downloads;
  EXPECT_FALSE(Construire("<Autre><Configurateur/></Autre>", TroisLignes(), "j", downloads.Fn()));
  // An instruction of that name is not the element: the lines would be lost.
  EXPECT_FALSE(Construire("<?Configurateur x?><Autre/>", TroisLignes(), "j", downloads.Fn()));
  EXPECT_THAT(
      Construire("<?Configurateur x?><Configurateur/>", TroisLignes(), "j", nullptr).value_or(""),
      ::testing::HasSubstr("<Configurateur><Menuiserie id=\"1\">"));
  EXPECT_TRUE(downloads.urls.empty());
  EXPECT_THROW(Construire("<Configurateur>", TroisLignes(), "j", downloads.Fn()), XmlError);
}

// Whatever the services send, the exchange file is well-formed XML 1.0: the
// characters it cannot carry are left out, CR and C1 controls are written as
// references, and a comment keeps what the code page lacks as plain text.
TEST(ResultDocument, ExchangeBytesHoldOnlyWhatXml10Allows) {
  Devis devis{"Q\x01-7", {}};
  LigneDevis ligne;
  ligne.Numero = 1;
  ligne.Description = "a\rb\x1F\tc\xEF\xBF\xBF";  // CR, US, TAB, U+FFFF
  ligne.Designation = "x\xC2\x85y";               // NEL, a C1 control
  ligne.Quantity = "Fen\xC3\x08\xAAtre";          // a control inside a broken letter
  devis.Lignes.push_back(ligne);
  const auto document =
      Construire("<Configurateur a=\"&#1;v\">t&#2;<!-- \xE2\x82\xAC --><?pi \x03?></Configurateur>",
                 devis, "j\x7F", nullptr);
  ASSERT_TRUE(document);
  EXPECT_EQ(
      OctetsFichierEchange(*document),
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
      "<Configurateur a=\"v\">t<!-- &#8364; --><?pi?>"
      "<Menuiserie id=\"1\"><Jeton>j&#127;</Jeton><Project>Q-7</Project>"
      "<Libelle>a&#13;b\tc</Libelle><Designation>x&#133;y</Designation>"
      "<PrixUnitaire></PrixUnitaire><Quantite>Fen&#65533;&#65533;tre</Quantite><Image></Image>"
      "</Menuiserie></Configurateur>\r\n");
}

// A retrieval document the exchange file could not carry as it is ends the
// retrieval with a message, before any picture is downloaded.
TEST(ResultDocument, DocumentsThatCannotBeWrittenBackAreRefusedBeforeAnyDownload) {
  const std::pair<const char*, const char*> cases[] = {
      {"<Configurateur><\xC5\x92uvre/></Configurateur>", "ISO-8859-1"},
      {"<Configurateur \xC5\x92=\"1\"/>", "ISO-8859-1"},
      {"<Configurateur><?\xC5\x92 x?></Configurateur>", "ISO-8859-1"},
      {"<Configurateur a=\"1\" a=\"2\"/>", "deux fois"},
      {"<!DOCTYPE Configurateur [<!ENTITY e \"v\">]><Configurateur>&e;</Configurateur>", "DOCTYPE"},
      {"<Configurateur/><Autre/>", "un seul"},
      {"<Configurateur/><?xml version=\"1.0\"?>", "déclaration"},
      {"<Configurateur><?xml version=\"1.0\"?></Configurateur>", "instruction de traitement"},
      {"<?xml version=\"2.0\"?><Configurateur/>", "2.0"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    FakeDownloads downloads;
    try {
      Construire(text, TroisLignes(), "j", downloads.Fn());
      ADD_FAILURE() << "no error";
    } catch (const XmlError& error) {
      EXPECT_THAT(std::string(error.what()), HasSubstr(expected)) << error.what();
    }
    EXPECT_TRUE(downloads.urls.empty());
  }
}

// A document nested a million levels deep is copied whole: nothing walks it
// by recursion.
TEST(ResultDocument, DeepNestingIsCopiedWhole) {
  constexpr int kDepth = 1000000;
  std::string text = "<Configurateur>";
  text.reserve(8 * kDepth);
  for (int i = 0; i < kDepth; ++i) text += "<a>";
  text += "\xE2\x82\xAC";
  for (int i = 0; i < kDepth; ++i) text += "</a>";
  text += "</Configurateur>";
  lumivane::quote::RetrievalDocument read = ReadRetrievalDocument(text);
  EXPECT_EQ(LireDevisId(read), "");
  std::optional<ResultDocument> document = VerifierResultat(std::move(read));
  ASSERT_TRUE(document);
  const std::string bytes =
      OctetsFichierEchange(ConstruireResultat(std::move(*document), Devis{"7", {}}, "j", nullptr));
  EXPECT_EQ(bytes.size(), text.size() + 43 - 3 + 7 + 2);
  EXPECT_THAT(bytes, HasSubstr("<a>&#8364;</a>"));
}

}  // namespace
