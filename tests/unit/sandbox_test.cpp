// The stand-in services (lumivane-sandbox), started for real on a free port
// of 127.0.0.1: the road from the token to the picture, the quote service's
// checks, the injected faults, the control endpoints and a clean stop.

#include "sandbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <future>
#include <nlohmann/json.hpp>
#include <pugixml.hpp>
#include <regex>
#include <string>
#include <thread>

#include "process.h"

namespace lumivane::testing {
namespace {

using ::testing::HasSubstr;

using nlohmann::json;

const char* const kQuotePath = "/test/B2B/WSQuotes.svc/GetDataQuote";
const std::string kKey = "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51";
const std::string kOdd = "é à ç € & < > \" ' 漢";

// The request body exactly as the module builds it.
std::string QuoteRequest(const std::string& id, const std::string& key = kKey) {
  return "{\"QUOTE_ID\" : \"" + id + "\",\"key\" : \"" + key + "\"}";
}

class SandboxTest : public ::testing::Test {
 protected:
  httplib::Result Get(const std::string& path) { return client_.Get(path); }
  httplib::Result Post(const std::string& path, const std::string& body,
                       const char* type = "application/json") {
    return client_.Post(path, body, type);
  }

  // The quote XML of the answer to `id`; fails the test unless it is one.
  pugi::xml_document Quote(const std::string& id) {
    pugi::xml_document document;
    auto answer = Post(kQuotePath, QuoteRequest(id));
    EXPECT_TRUE(answer);
    if (!answer) return document;
    EXPECT_EQ(answer->status, 200);
    EXPECT_EQ(answer->get_header_value("Content-Type"), "application/json; charset=utf-8");
    const auto body = json::parse(answer->body);
    EXPECT_TRUE(document.load_string(body.at("GetDataQuoteResult").get<std::string>().c_str()));
    return document;
  }

  std::string RetrievedQuoteId(const std::string& token) {
    auto answer = Get("/recuperation?jeton=" + token);
    EXPECT_TRUE(answer && answer->status == 200);
    pugi::xml_document document;
    if (!answer || !document.load_string(answer->body.c_str())) return "";
    return document.child("Configurateur").child_value("Project");
  }

  Sandbox sandbox_;
  httplib::Client client_{sandbox_.BaseUrl()};
};

TEST(SandboxProcessTest, PrintsItsAddressAndStopsOnSigtermEvenWithAnAnswerPending) {
  auto process = Process::Start({LUMIVANE_SANDBOX_EXE, "--port", "0"});
  const std::regex base_form(R"(^http://127\.0\.0\.1:[0-9]+$)");
  const auto base = process.WaitForStdoutLine(
      [&](const std::string& line) { return std::regex_match(line, base_form); }, kWait);
  ASSERT_TRUE(base) << process.Stdout() << process.Stderr();

  httplib::Client control(*base);
  ASSERT_EQ(control
                .Post("/_control/fault", R"({"endpoint":"picture","delay_ms":600000})",
                      "application/json")
                ->status,
            200);
  httplib::Client client(*base);
  auto pending = std::async(std::launch::async, [&] { return client.Get("/images/baie.jpg"); });
  // Requests are recorded before their delay: once listed, the answer is pending.
  bool taken_up = false;
  for (int i = 0; i < 400 && !taken_up; ++i) {
    taken_up = json::parse(control.Get("/_control/requests")->body).size() == 1;
    if (!taken_up) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(taken_up);

  ASSERT_EQ(::kill(process.Pid(), SIGTERM), 0);
  EXPECT_EQ(process.WaitForExit(kWait), 0) << process.Stderr();
  auto answer = pending.get();
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 503);
}

TEST(SandboxProcessTest, RefusesABadCommandLineAndAppliesFaultsGivenOnIt) {
  auto refused =
      RunToEnd({LUMIVANE_SANDBOX_EXE, "--fault", "quote:{\"kind\":\"nope\"}"}, {}, kWait);
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->exit_code, 2);
  EXPECT_THAT(refused->err, HasSubstr("nope")) << refused->err;

  auto process = Process::Start(
      {LUMIVANE_SANDBOX_EXE, "--quiet", "--fault", R"(picture:{"status":404,"times":1})"});
  const auto base = process.WaitForStdoutLine(
      [](const std::string& line) { return line.rfind("http://", 0) == 0; }, kWait);
  ASSERT_TRUE(base);
  httplib::Client client(*base);
  EXPECT_EQ(client.Get("/images/porte.jpg")->status, 404);
  EXPECT_EQ(client.Get("/images/porte.jpg")->status, 200);
  ASSERT_EQ(::kill(process.Pid(), SIGINT), 0);
  EXPECT_EQ(process.WaitForExit(kWait), 0);
  EXPECT_TRUE(process.Stderr().empty()) << process.Stderr();
}

TEST_F(SandboxTest, GatewayAnswersATokenWithItsTwoUrlsForAKnownAccountOnly) {
  const httplib::Params account{{"email", "marie.dupont@menuiserie-exemple.fr"},
                                {"mdp", "Ch@ssis&Volets 2026#"},
                                {"passerelle", "lumivane"}};
  auto answer = client_.Get("/index.php/Services/jeton", account, httplib::Headers{});
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  EXPECT_EQ(answer->get_header_value("Set-Cookie").rfind("PHPSESSID=", 0), 0u);
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(answer->body.c_str())) << answer->body;
  const auto root = document.child("Configurateur");
  const std::string token = root.child_value("Jeton");
  EXPECT_TRUE(std::regex_match(token, std::regex("[0-9a-f]{32}"))) << token;
  EXPECT_EQ(root.child_value("UrlConnexion"), sandbox_.BaseUrl() + "/configurateur?jeton=" + token);
  EXPECT_EQ(root.child_value("UrlRecuperation"),
            sandbox_.BaseUrl() + "/recuperation?jeton=" + token);

  for (const auto* password : {"faux", ""}) {
    auto refused = Get(std::string("/index.php/Services/jeton?email=demo%40lumivane.test&mdp=") +
                       password + "&passerelle=lumivane");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 200);
    EXPECT_EQ(refused->body, "<Erreur>Identifiant ou mot de passe incorrect</Erreur>");
  }
}

TEST_F(SandboxTest, SavedQuoteTravelsFromThePageToTheQuoteServiceAndItsPictures) {
  EXPECT_THAT(Get("/configurateur?jeton=T1")->body, HasSubstr("Enregistrer le devis"));
  const auto catalogue = json::parse(Get("/catalogue")->body);
  EXPECT_EQ(catalogue.size(), 6u);

  auto saved =
      Post("/configurateur/devis?jeton=T1",
           R"({"lignes":[{"produit":"PTL-001","quantite":3},{"produit":"POR-001","quantite":1}]})");
  ASSERT_TRUE(saved);
  ASSERT_EQ(saved->status, 200) << saved->body;
  EXPECT_EQ(json::parse(saved->body), (json{{"devis", "42"}, {"numero", "DV-2026-00042"}}));
  EXPECT_EQ(Post("/configurateur/devis?jeton=T1", R"({"lignes":[{"produit":"ZZZ","quantite":1}]})")
                ->status,
            400);

  auto retrieval = Get("/recuperation?jeton=T1");
  ASSERT_TRUE(retrieval);
  EXPECT_EQ(retrieval->body,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configurateur><Project>42</Project>"
            "<Passerelle>lumivane</Passerelle></Configurateur>");

  const auto quote = Quote("42");
  const auto header = quote.child("Sales_Header");
  EXPECT_STREQ(header.child_value("No"), "DV-2026-00042");
  const auto line = header.child("GeneralData_Sales_Lines").first_child();
  const auto general = line.child("GeneralData");
  EXPECT_STREQ(general.child_value("Unit_Price"), "1290.50");
  EXPECT_STREQ(general.child_value("Quantity"), "3");
  EXPECT_STREQ(general.child_value("Designation"), "Portail battant aluminium");
  EXPECT_NE(
      std::string(
          line.child("Informations_supp").child("Information_supp").child_value("Description")),
      "");
  EXPECT_TRUE(line.next_sibling());

  const std::string picture = general.child_value("Picture_Path");
  ASSERT_EQ(picture, sandbox_.BaseUrl() + "/images/portail.jpg");
  auto bytes = Get("/images/portail.jpg");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->get_header_value("Content-Type"), "image/jpeg");
  EXPECT_EQ(bytes->body.substr(0, 3), "\xFF\xD8\xFF");
  EXPECT_EQ(Get("/images/inconnue.jpg")->status, 404);
  EXPECT_EQ(Get("/images/exemple.png")->body.substr(1, 3), "PNG");
}

TEST_F(SandboxTest, RetrievalWithoutSavedQuoteSavesTheSampleQuote) {
  const auto id = RetrievedQuoteId("fresh");
  ASSERT_EQ(id, "42");
  EXPECT_EQ(RetrievedQuoteId("fresh"), "42");
  EXPECT_EQ(RetrievedQuoteId("another"), "43");

  const auto quote = Quote(id);
  std::vector<std::string> pictures;
  for (auto line : quote.child("Sales_Header").child("GeneralData_Sales_Lines").children()) {
    pictures.push_back(line.child("GeneralData").child_value("Picture_Path"));
  }
  ASSERT_EQ(pictures.size(), 3u);
  EXPECT_EQ(pictures[0], sandbox_.BaseUrl() + "/images/fenetre.jpg");
  EXPECT_EQ(pictures[1], sandbox_.BaseUrl() + "/images/volet.jpg");
  EXPECT_EQ(pictures[2], "");
}

TEST_F(SandboxTest, QuoteServiceChecksKeyAndBody) {
  const auto status = [&](const std::string& body) { return Post(kQuotePath, body)->status; };
  EXPECT_EQ(status(QuoteRequest("42", "5A3D19E0-0000-0000-0000-000000000000")), 403);
  EXPECT_EQ(status(R"({"key":")" + kKey + "\"}"), 400);
  EXPECT_EQ(status(R"({"QUOTE_ID":42,"key":")" + kKey + "\"}"), 400);
  EXPECT_EQ(status(QuoteRequest("4\"2")), 400);  // the module does not escape the id
  EXPECT_EQ(status(R"({"QUOTE_ID":"42"})"), 400);
  EXPECT_EQ(Get(kQuotePath)->status, 405);

  auto unknown = Post(kQuotePath, QuoteRequest("999"));
  EXPECT_EQ(unknown->status, 200);
  EXPECT_EQ(unknown->body, "null");
}

TEST_F(SandboxTest, FaultsChangeStatusAndBodyForTheirNumberOfRequests) {
  sandbox_.SetFault("quote", {{"status", 500}, {"times", 2}});
  RetrievedQuoteId("t");
  EXPECT_EQ(Post(kQuotePath, QuoteRequest("42"))->status, 500);
  EXPECT_EQ(Post(kQuotePath, QuoteRequest("42"))->status, 500);
  EXPECT_EQ(Post(kQuotePath, QuoteRequest("42"))->status, 200);

  sandbox_.SetFault("retrieval", {{"body", "<x/>"}, {"content_type", "text/plain"}});
  auto replaced = Get("/recuperation?jeton=t");
  EXPECT_EQ(replaced->body, "<x/>");
  EXPECT_EQ(replaced->get_header_value("Content-Type"), "text/plain");
  EXPECT_EQ(replaced->get_header_value_count("Content-Type"), 1u);
  sandbox_.ClearFault("retrieval");
  EXPECT_EQ(RetrievedQuoteId("t"), "42");

  sandbox_.SetFault("gateway", {{"kind", "drop"}});
  auto dropped = Get("/index.php/Services/jeton?email=demo%40lumivane.test&mdp=demo&passerelle=x");
  EXPECT_FALSE(dropped);

  for (const auto* refused : {R"({"endpoint":"quote","kind":"png"})", R"({"endpoint":"nowhere"})",
                              R"({"endpoint":"quote","delay":5})", "not json"}) {
    EXPECT_EQ(Post("/_control/fault", refused)->status, 400) << refused;
  }
}

TEST_F(SandboxTest, DamagedDocumentKindsStayWhatTheyClaim) {
  RetrievedQuoteId("t");
  const auto quote_body = [&](const char* kind) {
    sandbox_.SetFault("quote", {{"kind", kind}, {"times", 1}});
    return Post(kQuotePath, QuoteRequest("42"))->body;
  };
  EXPECT_EQ(quote_body("null"), "null");
  EXPECT_TRUE(json::parse(quote_body("malformed"), nullptr, false).is_discarded());
  EXPECT_TRUE(json::parse(quote_body("not-object")).is_array());
  EXPECT_FALSE(json::parse(quote_body("missing")).contains("GetDataQuoteResult"));

  pugi::xml_document document;
  const auto quote_xml = [&](const char* kind) {
    return json::parse(quote_body(kind))["GetDataQuoteResult"].get<std::string>();
  };
  EXPECT_FALSE(document.load_string(quote_xml("malformed-xml").c_str()));
  ASSERT_TRUE(document.load_string(quote_xml("no-header").c_str()));
  EXPECT_FALSE(document.child("Sales_Header"));
  ASSERT_TRUE(document.load_string(quote_xml("no-lines").c_str()));
  EXPECT_FALSE(document.child("Sales_Header").child("GeneralData_Sales_Lines"));
  ASSERT_TRUE(document.load_string(quote_xml("attributes").c_str()));
  EXPECT_STREQ(document.child("Sales_Header").attribute("No").value(), "DV-2026-00042");

  // Odd characters everywhere, and still well-formed documents.
  ASSERT_TRUE(document.load_string(quote_xml("odd").c_str()));
  const auto header = document.child("Sales_Header");
  EXPECT_EQ(header.child_value("No"), "DV-2026-00042 " + kOdd);
  const auto general = header.child("GeneralData_Sales_Lines").first_child().child("GeneralData");
  EXPECT_EQ(general.child_value("Designation"), "Fenêtre PVC 2 vantaux " + kOdd);

  sandbox_.SetFault("retrieval", {{"kind", "odd"}, {"times", 1}});
  auto latin1 = Get("/recuperation?jeton=t");
  EXPECT_THAT(latin1->body, HasSubstr("\xE9 \xE0 \xE7 &#8364;"));  // ISO-8859-1 bytes
  // The declaration tells the parser the encoding.
  ASSERT_TRUE(document.load_buffer(latin1->body.data(), latin1->body.size()));
  const std::string odd_id = document.child("Configurateur").child_value("Project");
  EXPECT_EQ(odd_id, "42 " + kOdd);
  // Sent back as valid JSON, the odd id still finds its quote.
  auto found = Post(kQuotePath, json{{"QUOTE_ID", odd_id}, {"key", kKey}}.dump());
  EXPECT_THAT(found->body, HasSubstr("DV-2026-00042"));

  sandbox_.SetFault("gateway", {{"kind", "attributes"}, {"times", 1}});
  ASSERT_TRUE(document.load_string(
      Get("/index.php/Services/jeton?email=x&mdp=y&passerelle=z")->body.c_str()));
  EXPECT_TRUE(document.child("Configurateur").attribute("UrlRecuperation"));
  EXPECT_FALSE(document.child("Configurateur").child("UrlRecuperation"));
}

TEST_F(SandboxTest, ControlRecordsRequestsAndServesOverrides) {
  httplib::Headers cookie{{"Cookie", "PHPSESSID=abc123; autre=1"}};
  client_.Get("/index.php/Services/jeton?email=demo%40lumivane.test&mdp=demo&passerelle=lumivane",
              cookie);
  Post(kQuotePath, QuoteRequest("7"));
  Get("/ailleurs");

  const auto requests = sandbox_.Requests();
  ASSERT_EQ(requests.size(), 3u) << requests.dump(1);  // control requests are left out
  EXPECT_EQ(requests[0]["method"], "GET");
  EXPECT_EQ(requests[0]["path"], "/index.php/Services/jeton");
  EXPECT_EQ(requests[0]["query"], "email=demo%40lumivane.test&mdp=demo&passerelle=lumivane");
  EXPECT_EQ(requests[0]["cookies"], (json{{"PHPSESSID", "abc123"}, {"autre", "1"}}));
  EXPECT_FALSE(requests[0]["headers"].contains("REMOTE_ADDR"));
  EXPECT_EQ(requests[1]["body"], QuoteRequest("7"));
  EXPECT_EQ(requests[1]["headers"]["Content-Type"], "application/json");
  EXPECT_EQ(requests[2]["path"], "/ailleurs");

  sandbox_.SetQuote("<Sales_Header><No>X</No><P>{BASE}/images/baie.jpg</P></Sales_Header>");
  EXPECT_EQ(
      json::parse(Post(kQuotePath, QuoteRequest("any"))->body)["GetDataQuoteResult"],
      "<Sales_Header><No>X</No><P>" + sandbox_.BaseUrl() + "/images/baie.jpg</P></Sales_Header>");
  ASSERT_EQ(client_.Delete("/_control/quote")->status, 200);
  EXPECT_EQ(Post(kQuotePath, QuoteRequest("any"))->body, "null");

  sandbox_.SetRetrieval("<Configurateur><Project>{BASE}</Project></Configurateur>");
  EXPECT_EQ(RetrievedQuoteId("t"), sandbox_.BaseUrl());

  sandbox_.SetFault("quote", {{"status", 500}});
  sandbox_.Reset();
  EXPECT_TRUE(sandbox_.Requests().empty());
  EXPECT_EQ(RetrievedQuoteId("t"), "42");
  EXPECT_EQ(Post(kQuotePath, QuoteRequest("42"))->status, 200);
}

}  // namespace
}  // namespace lumivane::testing
