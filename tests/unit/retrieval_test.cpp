#include "result/retrieval.h"
#include "http/http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <nlohmann/json.hpp>
#include <vector>

#include "http_test_server.h"
#include "http/endpoints.h"
#include "platform/files.h"
#include "quote/quote.h"
#include "recorders.h"
#include "report/journal.h"
#include "report/messages.h"
#include "temp_dir.h"

using lumivane::http::HttpClient;
using lumivane::quote::PictureDownloader;
using lumivane::result::RecupererDevis;
using lumivane::result::RetrievalInputs;
using lumivane::result::RetrievalOutcome;

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;
using Kind = RetrievalOutcome::Kind;

using ::lumivane::testing::FixedClock;
using ::lumivane::testing::RecorderMessages;

const char* const kRetrieval =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Configurateur><Passerelle>lumivane</Passerelle><Project>42</Project></Configurateur>";
const char* const kEarlierExchange = "contenu d'un lancement précédent\r\n";

std::string QuoteAnswer(const std::string& picture_url) {
  const std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-16\"?><Sales_Header><No>D42</No>"
      "<GeneralData_Sales_Lines><L><GeneralData><Unit_Price>12.50</Unit_Price>"
      "<Quantity>2</Quantity><Picture_Path>" +
      picture_url +
      "</Picture_Path><Designation>Fen\xC3\xAAtre</Designation></GeneralData>"
      "<Informations_supp><Information_supp><Description>Baie \xE2\x82\xAC</Description>"
      "</Information_supp></Informations_supp></L><L/></GeneralData_Sales_Lines></Sales_Header>";
  return nlohmann::json{{"GetDataQuoteResult", xml}}.dump();
}

// One server plays the retrieval URL, the quote service and the pictures.
class RetrievalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& svr = server_.server();
    svr.Get("/recuperation", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      res.set_content(retrieval_, "application/xml");
    });
    svr.Post(lumivane::http::kQuoteServicePath,
             [this](const httplib::Request& req, httplib::Response& res) {
               std::lock_guard lock(mutex_);
               posted_.push_back(req.body);
               content_type_ = req.get_header_value("Content-Type");
               authorization_ = req.get_header_value("Authorization");
               res.status = quote_status_;
               res.set_content(quote_body_, "application/json");
             });
    svr.Get("/photo.png", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard lock(mutex_);
      ++pictures_served_;
      res.set_content("PNG-octets", "image/png");
    });
    server_.Start();
    quote_body_ = QuoteAnswer(server_.Url("/photo.png"));
    exchange_ = (dir_.Path() / "echange.xml").string();
    lumivane::testing::WriteFile(exchange_, kEarlierExchange);
    folder_ = (dir_.Path() / "images").string() + "/";
  }
  void TearDown() override { server_.Stop(); }

  RetrievalOutcome Run(const lumivane::result::Avancement& avancement = {}) {
    return Run(server_.Url("/recuperation"), avancement);
  }
  RetrievalOutcome Run(const std::string& url_recuperation,
                       const lumivane::result::Avancement& avancement = {}) {
    HttpClient http1(lumivane::http::WindowClientSettings());
    HttpClient http2(lumivane::http::WindowClientSettings());
    PictureDownloader pictures(folder_, clock_, "/", messages_);
    const RetrievalInputs inputs{url_recuperation, server_.BaseUrl(), "jet", exchange_,
                                 annulation_};
    return RecupererDevis(inputs, http1, http2, pictures, avancement);
  }

  // A failure that leaves the window open, with its message.
  void ExpectFailed(const RetrievalOutcome& outcome) {
    EXPECT_EQ(outcome.kind, Kind::Failed) << outcome.message;
    EXPECT_FALSE(outcome.closes_window) << outcome.message;
  }

  void ExpectExchangeUntouched() {
    EXPECT_EQ(lumivane::testing::ReadFile(exchange_), kEarlierExchange);
  }

  lumivane::testing::HttpTestServer server_;
  lumivane::testing::TempDir dir_;
  FixedClock clock_;
  RecorderMessages messages_;
  std::string exchange_;
  std::string folder_;
  const lumivane::base::CancellationToken* annulation_ = nullptr;

  std::mutex mutex_;
  std::string retrieval_ = kRetrieval;
  int quote_status_ = 200;
  std::string quote_body_;
  std::vector<std::string> posted_;
  std::string content_type_;
  std::string authorization_;
  int pictures_served_ = 0;
};

TEST_F(RetrievalTest, WritesTheExchangeFileWithThePicture) {
  std::vector<std::string> avancement;
  const RetrievalOutcome outcome =
      Run([&](const std::string& texte) { avancement.push_back(texte); });
  EXPECT_EQ(outcome.kind, Kind::Written);
  EXPECT_EQ(outcome.message, "");
  EXPECT_EQ(outcome.devis_id, "42");
  EXPECT_EQ(avancement,
            (std::vector<std::string>{"Récupération du devis\u2026", "Images : 1 / 1"}));
  ASSERT_EQ(posted_.size(), 1u);
  EXPECT_EQ(posted_[0], R"({"QUOTE_ID" : "42","key" : "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51"})");
  EXPECT_EQ(content_type_, "application/json; charset=utf-8");
  EXPECT_EQ(authorization_, "Basic Og==");  // empty user name and password

  const std::string picture = folder_ + "20200609_143005_D42.jpeg";
  EXPECT_EQ(lumivane::testing::ReadFile(picture), "PNG-octets");
  EXPECT_EQ(lumivane::testing::ReadFile(exchange_),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configurateur>"
            "<Passerelle>lumivane</Passerelle><Project>42</Project>"
            "<Menuiserie id=\"1\"><Jeton>jet</Jeton><Project>D42</Project>"
            "<Libelle>Baie &#8364;</Libelle><Designation>Fen\xEAtre</Designation>"
            "<PrixUnitaire>12.50</PrixUnitaire><Quantite>2</Quantite><Image>" +
                picture +
                "</Image></Menuiserie>"
                "<Menuiserie id=\"2\"><Jeton>jet</Jeton><Project>D42</Project><Libelle></Libelle>"
                "<Designation></Designation><PrixUnitaire></PrixUnitaire><Quantite></Quantite>"
                "<Image></Image></Menuiserie></Configurateur>\r\n");
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(RetrievalTest, SilentClosingsLeaveTheExchangeFileAsItWas) {
  struct Case {
    const char* name;
    int status;
    std::string body;
    std::string retrieval;
    std::string in_message;
  };
  const std::string good = quote_body_;
  const std::vector<Case> cases = {
      {"204", 204, "", kRetrieval, "204"},
      {"null", 200, "null", kRetrieval, "null"},
      {"NULL is not JSON", 200, "NULL", kRetrieval, "incomplet"},
      {"empty body", 200, "", kRetrieval, "incomplet"},
      {"no Sales_Header", 200, R"({"GetDataQuoteResult":"<Autre/>"})", kRetrieval, "incomplet"},
      {"no Configurateur", 200, good, "<Autre><Project>42</Project></Autre>", "Configurateur"},
  };
  for (const Case& c : cases) {
    {
      std::lock_guard lock(mutex_);
      quote_status_ = c.status;
      quote_body_ = c.body;
      retrieval_ = c.retrieval;
    }
    const RetrievalOutcome outcome = Run();
    EXPECT_EQ(outcome.kind, Kind::Failed) << c.name;
    EXPECT_TRUE(outcome.closes_window) << c.name;
    EXPECT_EQ(outcome.message.rfind("Erreur lumivane", 0), 0u) << c.name << ": " << outcome.message;
    EXPECT_THAT(outcome.message, HasSubstr(c.in_message)) << c.name << ": " << outcome.message;
    EXPECT_EQ(outcome.devis_id, c.retrieval == kRetrieval ? "42" : "") << c.name;
    ExpectExchangeUntouched();
  }
  // Without Configurateur the request still went out, with an empty id, and
  // no picture was fetched.
  EXPECT_EQ(posted_.back(), R"({"QUOTE_ID" : "","key" : "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51"})");
  EXPECT_EQ(pictures_served_, 0);
  EXPECT_FALSE(std::filesystem::exists(folder_));
}

TEST_F(RetrievalTest, ErrorsAreShownWithTheWindowLeftOpenAndWriteNothing) {
  quote_status_ = 500;
  RetrievalOutcome outcome = Run();
  ExpectFailed(outcome);
  EXPECT_THAT(outcome.message, StartsWith("Le serveur a répondu 500 "));
  EXPECT_EQ(outcome.devis_id, "42");
  ExpectExchangeUntouched();

  quote_status_ = 200;
  quote_body_ = R"({"GetDataQuoteResult":"<Sales_Header><No>1</Sales_Header>"})";
  outcome = Run();
  ExpectFailed(outcome);
  EXPECT_THAT(outcome.message, StartsWith("Devis illisible : "));
  EXPECT_THAT(outcome.message, HasSubstr("(serveur 127.0.0.1:" + std::to_string(server_.port())));
  ExpectExchangeUntouched();

  retrieval_ = "<Configurateur><Project>42</Configurateur>";
  posted_.clear();
  outcome = Run();
  ExpectFailed(outcome);
  // In French, with the server that sent it.
  EXPECT_EQ(outcome.message,
            "Document de récupération illisible : balise fermante qui ne correspond pas à la "
            "balise ouverte (octet 28) (serveur 127.0.0.1:" +
                std::to_string(server_.port()) + ")");
  EXPECT_EQ(outcome.devis_id, "");
  EXPECT_TRUE(posted_.empty());
  ExpectExchangeUntouched();

  // No retrieval URL: the gateway failed when the module opened.
  outcome = Run("");
  ExpectFailed(outcome);
  EXPECT_THAT(outcome.message, HasSubstr("passerelle"));
  EXPECT_TRUE(posted_.empty());
  ExpectExchangeUntouched();
}

// A declaration inside an element: the parser reads the document without it
// (its id, 42, goes to the quote service), but not whole, as the exchange
// file would copy it. That is found once the quote is in, and named without
// the server, as when the document was read again for the exchange file.
TEST_F(RetrievalTest, DocumentReadOnlyWithoutItsDeclarationsFailsOnceTheQuoteIsIn) {
  retrieval_ = "<Configurateur><Project>42</Project><?xml version=\"1.0\"?></Configurateur>";
  const RetrievalOutcome outcome = Run();
  ExpectFailed(outcome);
  EXPECT_EQ(outcome.message,
            "Document de récupération illisible : instruction de traitement (<?…?>) mal formée "
            "(octet 41)");
  EXPECT_EQ(outcome.devis_id, "42");
  ASSERT_EQ(posted_.size(), 1u);
  EXPECT_THAT(posted_[0], HasSubstr("\"42\""));
  EXPECT_EQ(pictures_served_, 0);
  ExpectExchangeUntouched();
}

// What is thrown without words of its own is shown in the words the module
// keeps for it.
TEST_F(RetrievalTest, AFailureWithoutATextIsShownAsUnexpected) {
  const RetrievalOutcome outcome = Run([](const std::string&) { throw 7; });
  ExpectFailed(outcome);
  EXPECT_EQ(outcome.message,
            lumivane::text::UserMessage(lumivane::text::UserText::kUnexpectedError));
  EXPECT_TRUE(posted_.empty());
  ExpectExchangeUntouched();
}

TEST_F(RetrievalTest, PictureThatCannotBeStoredEndsTheRetrievalBeforeTheExchangeFile) {
  lumivane::testing::WriteFile(dir_.Path() / "bloque", "un fichier, pas un dossier");
  folder_ = (dir_.Path() / "bloque" / "images").string() + "/";
  const RetrievalOutcome outcome = Run();
  ExpectFailed(outcome);
  EXPECT_THAT(outcome.message, StartsWith("Impossible de créer le dossier des images "));
  EXPECT_EQ(outcome.devis_id, "42");
  ExpectExchangeUntouched();
}

// Pictures stored before the exchange file failed are of no use: they go, so
// that each retry does not leave one more set behind.
TEST_F(RetrievalTest, FailedExchangeFileRemovesThePicturesOfTheRun) {
  std::filesystem::create_directories(dir_.Path() / "images");
  lumivane::testing::WriteFile(dir_.Path() / "images" / "autre.jpeg", "d'un autre lancement");
  exchange_ = (dir_.Path() / "absent" / "echange.xml").string();
  const RetrievalOutcome outcome = Run();
  ExpectFailed(outcome);
  // In French, with the system's code (2 on Linux, 3 on Windows).
  EXPECT_THAT(outcome.message, HasSubstr("introuvable (code "));
  EXPECT_EQ(pictures_served_, 1);
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    left.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(left, std::vector<std::string>{"autre.jpeg"});
}

// "Annuler" while the pictures are being named (the clock is read for each
// name): the exchange file is left as it was, and the run's pictures go.
TEST_F(RetrievalTest, AnnulerBeforeTheExchangeFileIsInPlaceWritesNothing) {
  struct CancellingClock : lumivane::platform::Clock {
    lumivane::base::CancellationToken token;
    lumivane::platform::LocalDateTime Now() override {
      token.Cancel();
      return {2020, 6, 9, 14, 30, 5};
    }
  } clock;
  HttpClient http1(lumivane::http::WindowClientSettings());
  HttpClient http2(lumivane::http::WindowClientSettings());
  PictureDownloader pictures(folder_, clock, "/", messages_);
  RetrievalInputs inputs{server_.Url("/recuperation"), server_.BaseUrl(), "jet", exchange_};
  inputs.annulation = &clock.token;
  const RetrievalOutcome outcome = RecupererDevis(inputs, http1, http2, pictures);
  EXPECT_EQ(outcome.kind, Kind::Cancelled);
  EXPECT_EQ(outcome.message, "");  // nothing to show
  EXPECT_EQ(outcome.devis_id, "42");
  ExpectExchangeUntouched();
  EXPECT_EQ(pictures_served_, 1);
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
}

// The support journal says once why the exchange file was left as it was,
// whatever the way the retrieval ended; a written one says nothing of it.
TEST_F(RetrievalTest, TheJournalSaysOnceWhyTheExchangeFileIsUnchanged) {
  const std::string journal = (dir_.Path() / "journal.log").string();
  lumivane::report::journal::Open(journal);
  Run();  // written
  {
    std::lock_guard lock(mutex_);
    quote_body_ = "null";
  }
  const std::string fermeture = Run().message;
  exchange_ = (dir_.Path() / "absent" / "echange.xml").string();  // no folder to write in
  {
    std::lock_guard lock(mutex_);
    quote_body_ = QuoteAnswer(server_.Url("/photo.png"));
  }
  const std::string erreur = Run().message;
  exchange_ = (dir_.Path() / "echange.xml").string();
  lumivane::base::CancellationToken annulation;  // "Annuler" before the exchange file
  annulation.Cancel();
  annulation_ = &annulation;
  EXPECT_EQ(Run().kind, Kind::Cancelled);
  lumivane::report::journal::Close();

  std::vector<std::string> unchanged;
  std::istringstream lines(lumivane::testing::ReadFile(journal).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find("fichier d'échange inchangé : ");
    if (at != std::string::npos) unchanged.push_back(line.substr(at));
  }
  EXPECT_EQ(unchanged, (std::vector<std::string>{
                           "fichier d'échange inchangé : " + fermeture,
                           "fichier d'échange inchangé : " + erreur,
                           "fichier d'échange inchangé : Opération annulée par l'utilisateur."}));
  EXPECT_THAT(erreur, HasSubstr("introuvable (code "));
}

}  // namespace
