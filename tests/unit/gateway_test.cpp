#include "gateway/gateway.h"
#include "http/http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "http_test_server.h"
#include "http/endpoints.h"

namespace lumivane::gateway {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using http::HttpClient;
using http::HttpError;
using lumivane::testing::HttpTestServer;

constexpr const char* kAnswer =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Configurateur>\n"
    "  <Jeton>T-42</Jeton>\n"
    "  <UrlConnexion>https://conf.exemple/configurateur?jeton=T-42</UrlConnexion>\n"
    "  <UrlRecuperation>https://conf.exemple/recuperation?jeton=T-42</UrlRecuperation>\n"
    "</Configurateur>\n";

TEST(TokenRequestUrlTest, ParametersInFixedOrderWithEncodedValues) {
  TokenRequest request{"demo@lumivane.test", "demo", "lumivane", ""};
  EXPECT_EQ(BuildTokenRequestUrl("https://g.example", request),
            "https://g.example/index.php/Services/"
            "jeton?email=demo%40lumivane.test&mdp=demo&passerelle=lumivane");
  request.Identifiant = "demo";
  request.JetonPasserelle = "D-0042";
  EXPECT_EQ(BuildTokenRequestUrl("https://g.example", request),
            "https://g.example/index.php/Services/"
            "jeton?email=demo&mdp=demo&passerelle=lumivane&jeton=D-0042");
  EXPECT_EQ(BuildTokenRequestUrl("http://127.0.0.1:8080", TokenRequest{}),
            "http://127.0.0.1:8080/index.php/Services/jeton?email=&mdp=&passerelle=");
  request = {"a&b=c", "Ch@ssis&Volets 2026#", "+%", "é"};
  EXPECT_EQ(
      BuildTokenRequestUrl("https://g.example", request),
      "https://g.example/index.php/Services/jeton?email=a%26b%3Dc&mdp=Ch%40ssis%26Volets%202026%23"
      "&passerelle=%2B%25&jeton=%C3%A9");
}

class GatewayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get(http::kGatewayTokenPath,
                         [this](const httplib::Request& req, httplib::Response& res) {
                           const std::lock_guard lock(mutex_);
                           targets_.push_back(req.target);
                           accept_ = req.get_header_value("Accept");
                           cookie_ = req.get_header_value("Cookie");
                           res.status = status_;
                           res.set_header("Set-Cookie", "PHPSESSID=s1; Path=/");
                           res.set_content(answer_, "text/xml");
                         });
    server_.Start();
  }
  void TearDown() override {
    http_ = HttpClient();  // closes the connection the server would wait for
    server_.Stop();
  }

  void Answer(std::string body, int status = 200) {
    const std::lock_guard lock(mutex_);
    answer_ = std::move(body);
    status_ = status;
  }

  int Ask(const TokenRequest& request = {"demo@lumivane.test", "demo", "lumivane", ""}) {
    return GetJetonEtUrls(http_, server_.BaseUrl(), request, fields_);
  }

  HttpTestServer server_;
  HttpClient http_{http::WindowClientSettings()};
  GatewayFields fields_;
  std::mutex mutex_;
  std::vector<std::string> targets_;
  std::string accept_;
  std::string cookie_;
  std::string answer_ = kAnswer;
  int status_ = 200;
};

TEST_F(GatewayTest, SendsTheRequestAsBuiltAndStoresTheThreeValues) {
  const TokenRequest request{"marie.dupont@menuiserie-exemple.fr", "Ch@ssis&Volets 2026#",
                             "lumivane", "D 7+"};
  EXPECT_EQ(Ask(request), 1);
  EXPECT_EQ(fields_.Jeton, "T-42");
  EXPECT_EQ(fields_.UrlConnexion, "https://conf.exemple/configurateur?jeton=T-42");
  EXPECT_EQ(fields_.UrlRecuperation, "https://conf.exemple/recuperation?jeton=T-42");
  EXPECT_TRUE(fields_.Erreurs.empty());
  EXPECT_EQ(Ask({"", "", "", ""}), 1);

  const std::lock_guard lock(mutex_);
  ASSERT_EQ(targets_.size(), 2u);
  EXPECT_EQ(server_.BaseUrl() + targets_[0], BuildTokenRequestUrl(server_.BaseUrl(), request));
  EXPECT_EQ(targets_[1], "/index.php/Services/jeton?email=&mdp=&passerelle=");
  EXPECT_EQ(accept_, "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  EXPECT_EQ(cookie_, "PHPSESSID=s1");  // set by the first answer
}

TEST_F(GatewayTest, ChildrenReadByNameInAnyOrderAttributesIgnored) {
  Answer(
      "<Configurateur Jeton=\"faux\"><Autre>x</Autre><UrlRecuperation "
      "lien=\"faux\">R</UrlRecuperation>"
      "<UrlConnexion>C</UrlConnexion><Jeton>J</Jeton></Configurateur>");
  EXPECT_EQ(Ask(), 1);
  EXPECT_EQ(fields_.Jeton, "J");
  EXPECT_EQ(fields_.UrlConnexion, "C");
  EXPECT_EQ(fields_.UrlRecuperation, "R");

  // Declared ISO-8859-1: the text arrives in UTF-8.
  Answer(
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configurateur><Jeton>\xE9t\xE9</Jeton>"
      "<UrlConnexion>C</UrlConnexion><UrlRecuperation>R</UrlRecuperation></Configurateur>");
  EXPECT_EQ(Ask(), 1);
  EXPECT_EQ(fields_.Jeton, "été");
}

TEST_F(GatewayTest, AnswersWithoutUrlsFailWithOneLinePerProblem) {
  ASSERT_EQ(Ask(), 1);
  EXPECT_EQ(GetJetonEtUrlsErreurs("lumivane", fields_.Erreurs),
            "Configurateur lumivane : GetJetonEtUrlsErreurs \n");
  Answer("<Erreur>Identifiant ou mot de passe incorrect</Erreur>");
  EXPECT_EQ(Ask(), 0);
  EXPECT_EQ(fields_.Jeton, "T-42");  // kept from the first answer
  EXPECT_EQ(fields_.UrlConnexion, "");
  EXPECT_EQ(fields_.UrlRecuperation, "");
  EXPECT_EQ(GetJetonEtUrlsErreurs("lumivane", fields_.Erreurs),
            "Configurateur lumivane : GetJetonEtUrlsErreurs \n"
            "La passerelle n'a pas renvoyé d'élément Configurateur.\n"
            "La passerelle a répondu : Identifiant ou mot de passe incorrect\n");

  Answer(
      "<Configurateur Jeton=\"J\" UrlConnexion=\"C\" "
      "UrlRecuperation=\"R\"><UrlConnexion/></Configurateur>");
  EXPECT_EQ(Ask(), 0);
  EXPECT_EQ(fields_.Erreurs,
            (std::vector<std::string>{
                "La passerelle n'a pas renvoyé d'URL de connexion (UrlConnexion).",
                "La passerelle n'a pas renvoyé d'URL de récupération (UrlRecuperation)."}));

  // Each call starts with an empty error list.
  Answer(kAnswer);
  EXPECT_EQ(Ask(), 1);
  EXPECT_TRUE(fields_.Erreurs.empty());
}

TEST_F(GatewayTest, HttpAndXmlErrorsAreThrownWithUrlsEmptied) {
  ASSERT_EQ(Ask(), 1);
  Answer("<Configurateur><Jeton>T</Jeton", 200);
  try {
    Ask();
    ADD_FAILURE() << "malformed answer accepted";
  } catch (const GatewayAnswerError& error) {
    EXPECT_TRUE(std::string(error.what()).starts_with("Réponse illisible de la passerelle : "))
        << error.what();
  }
  EXPECT_EQ(fields_.Jeton, "T-42");
  EXPECT_EQ(fields_.UrlConnexion, "");
  EXPECT_EQ(fields_.UrlRecuperation, "");

  Answer("", 204);  // no body: nothing to read
  EXPECT_THROW(Ask(), GatewayAnswerError);

  ASSERT_EQ((Answer(kAnswer), Ask()), 1);
  Answer("panne", 500);
  try {
    Ask({"demo", "secret", "lumivane", ""});
    ADD_FAILURE() << "status 500 accepted";
  } catch (const HttpError& error) {
    EXPECT_EQ(error.status(), 500);
    EXPECT_THAT(std::string(error.what()), Not(HasSubstr("secret"))) << error.what();
  }
  EXPECT_EQ(fields_.UrlConnexion, "");
  EXPECT_EQ(fields_.UrlRecuperation, "");
}

// Each value is read whole and in the encoding the answer declares: a token
// split by a comment or a CDATA section, or sent in Windows-1252, arrives
// unchanged.
TEST_F(GatewayTest, ValuesAreReadWholeInTheirEncoding) {
  Answer(
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><Configurateur>"
      "<Jeton>T\x80-<!-- c -->4<![CDATA[<2>]]>\x92</Jeton>"
      "<UrlConnexion>https://c.exemple/?a=1<![CDATA[&b=2]]></UrlConnexion>"
      "<UrlRecuperation>R</UrlRecuperation></Configurateur>");
  EXPECT_EQ(Ask(), 1);
  EXPECT_EQ(fields_.Jeton, "T\xE2\x82\xAC-4<2>\xE2\x80\x99");
  EXPECT_EQ(fields_.UrlConnexion, "https://c.exemple/?a=1&b=2");

  // No declaration: the charset of the Content-Type decides.
  GatewayFields fields;
  EXPECT_EQ(LireReponsePasserelle("<Configurateur><Jeton>\xA4</Jeton><UrlConnexion>C"
                                  "</UrlConnexion><UrlRecuperation>R</UrlRecuperation>"
                                  "</Configurateur>",
                                  "text/xml; charset=iso-8859-15", fields),
            1);
  EXPECT_EQ(fields.Jeton, "\xE2\x82\xAC");
  EXPECT_THROW(
      LireReponsePasserelle("<?xml version='1.0' encoding='big5'?><Configurateur/>", "", fields),
      GatewayAnswerError);
}

// A password of a megabyte is not sent: the message says a value of the
// configuration is too long, rather than blaming memory or the network.
TEST_F(GatewayTest, OverlongConfigurationValueIsNamedAsSuch) {
  try {
    Ask({"demo", std::string(1 << 20, 'x'), "lumivane", ""});
    ADD_FAILURE() << "sent";
  } catch (const ConfigurationValueTooLong& error) {
    EXPECT_THAT(std::string(error.what()),
                HasSubstr("valeur du fichier de configuration est trop longue"))
        << error.what();
  }
  const std::lock_guard lock(mutex_);
  EXPECT_TRUE(targets_.empty());
}

}  // namespace
}  // namespace lumivane::gateway
