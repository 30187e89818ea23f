// The gateway step of the real executable against the stand-in services:
// the browser opened on the connection URL, and each way the gateway fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "module_run.h"
#include "sandbox.h"
#include "x_screen.h"

namespace lumivane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

const char* const kTokenPath = "/index.php/Services/jeton";

std::string Configuration(const std::string& password, const std::string& update = "") {
  return "[General]\nVersion=1\nConfigurateur=lumivane\n\n[Utilisateur]\n"
         "Identifiant=demo@lumivane.test\nMotDePasse=" +
         password + "\n" + update;
}

class GatewayE2E : public ::testing::Test {
 protected:
  ModuleOptions Options(const std::string& config, const std::string& gateway) {
    ModuleOptions options;
    options.config = config;
    options.gateway_url = gateway;
    options.quote_service_url = sandbox_.BaseUrl();
    options.exchange = "avant\r\n";
    return options;
  }

  // After an error the window is still there: Annuler ends the module,
  // which has written nothing and opened no browser.
  void ExpectOpenUntilAnnuler(ModuleRun& run) {
    EXPECT_TRUE(run.Running());
    EXPECT_TRUE(run.MainWindowVisible());
    ASSERT_TRUE(run.ClickAnnuler());
    EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
    EXPECT_TRUE(run.BrowserUrls().empty());
    EXPECT_EQ(run.ExchangeBytes(), "avant\r\n");
  }

  Sandbox sandbox_;
};

TEST_F(GatewayE2E, GoodAccountOpensExactlyTheConnectionUrl) {
  ModuleRun run(SharedDisplay(), Options(Configuration("demo"), sandbox_.BaseUrl()));
  run.Start();
  ASSERT_TRUE(run.WaitForBrowser()) << run.Diagnostics();

  auto requests = sandbox_.RequestsTo(kTokenPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(std::regex_match(requests[0]["query"].get<std::string>(),
                               std::regex("email=[^&]+&mdp=demo&passerelle=lumivane")))
      << requests[0]["query"];
  EXPECT_EQ(requests[0]["method"], "GET");
  EXPECT_EQ(requests[0]["headers"]["User-Agent"], "Mozilla/3.0 (compatible; Indy Library)");

  const std::regex connection(std::regex_replace(sandbox_.BaseUrl(), std::regex("[.]"), "\\.") +
                              "/configurateur\\?jeton=[0-9A-Za-z]+");
  auto urls = run.BrowserUrls();
  ASSERT_EQ(urls.size(), 1u) << run.Diagnostics();
  EXPECT_TRUE(std::regex_match(urls[0], connection)) << urls[0];
  EXPECT_TRUE(run.Messages().empty()) << run.Diagnostics();
  EXPECT_TRUE(run.WindowVisible("^Brevance - Configurateur lumivane$"));

  ASSERT_TRUE(run.ClickAnnuler());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_EQ(run.BrowserUrls().size(), 1u);
}

// A connection address holding quotes, blanks and angle brackets reaches
// the opener as one address, those characters percent-encoded.
TEST_F(GatewayE2E, AConnectionUrlWithQuotesAndBlanksReachesTheOpenerWhole) {
  const std::string base = sandbox_.BaseUrl();
  sandbox_.SetFault("gateway",
                    {{"content_type", "text/xml; charset=UTF-8"},
                     {"body", "<Configurateur><Jeton>0f3a9c2e</Jeton><UrlConnexion>" + base +
                                  "/configurateur?jeton=0f3a9c2e&amp;nom=\"Dupont "
                                  "Fils\"&lt;1&gt;</UrlConnexion><UrlRecuperation>" +
                                  base + "/recuperation</UrlRecuperation></Configurateur>"}});
  ModuleRun run(SharedDisplay(), Options(Configuration("demo"), base));
  run.Start();
  ASSERT_TRUE(run.WaitForBrowser()) << run.Diagnostics();
  EXPECT_EQ(run.BrowserUrls(),
            std::vector<std::string>{
                base + "/configurateur?jeton=0f3a9c2e&nom=%22Dupont%20Fils%22%3C1%3E"})
      << run.Diagnostics();
  ASSERT_TRUE(run.ClickAnnuler());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
}

TEST_F(GatewayE2E, QuoteIdOfTheConfigurationGoesToTheGatewayAsItsToken) {
  ModuleRun run(SharedDisplay(),
                Options(Configuration("demo", "[Update]\nDevisId=DV-17\n"), sandbox_.BaseUrl()));
  run.Start();
  ASSERT_TRUE(run.WaitForBrowser()) << run.Diagnostics();

  auto requests = sandbox_.RequestsTo(kTokenPath);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(std::regex_match(requests[0]["query"].get<std::string>(),
                               std::regex("email=[^&]+&mdp=demo&passerelle=lumivane&jeton=DV-17")))
      << requests[0]["query"];
}

TEST_F(GatewayE2E, RefusedAccountShowsTheReportAndEnds) {
  ModuleRun run(SharedDisplay(), Options(Configuration("pas-le-bon"), sandbox_.BaseUrl()));
  run.Start();

  auto message = run.WaitForMessage("GetJetonEtUrlsErreurs");
  ASSERT_TRUE(message) << run.Diagnostics();
  EXPECT_THAT(*message, StartsWith("Configurateur lumivane : GetJetonEtUrlsErreurs \\n"));
  ASSERT_TRUE(run.PressOk());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_TRUE(run.BrowserUrls().empty());
  EXPECT_EQ(run.ExchangeBytes(), "avant\r\n");

  // The support journal tells the run, the message word for word, and never
  // the password nor the request's query.
  const auto journal = ReadFile(run.JournalPath());
  ASSERT_TRUE(journal) << run.Diagnostics();
  for (const char* part :
       {"début : Module_Lumivane", "Identifiant=demo@lumivane.test", "http : GET ",
        "message : Configurateur lumivane : GetJetonEtUrlsErreurs", "fin : code 0"}) {
    EXPECT_THAT(*journal, HasSubstr(part));
  }
  for (const char* secret : {"pas-le-bon", "mdp", "?", "MotDePasse"}) {
    EXPECT_THAT(*journal, Not(HasSubstr(secret)));
  }
}

TEST_F(GatewayE2E, UnreachableGatewayShowsTheErrorAndKeepsTheWindow) {
  ModuleRun run(SharedDisplay(), Options(Configuration("demo"), ClosedLocalUrl()));
  run.Start();

  auto message = run.WaitForMessage("");
  ASSERT_TRUE(message) << run.Diagnostics();
  EXPECT_THAT(*message, Not(HasSubstr("GetJetonEtUrlsErreurs")));
  ASSERT_TRUE(run.PressOk());
  ExpectOpenUntilAnnuler(run);
}

TEST_F(GatewayE2E, GatewayErrorStatusShowsTheErrorAndKeepsTheWindow) {
  sandbox_.SetFault("gateway", {{"status", 500}});
  ModuleRun run(SharedDisplay(), Options(Configuration("demo"), sandbox_.BaseUrl()));
  run.Start();

  auto message = run.WaitForMessage("500");
  ASSERT_TRUE(message) << run.Diagnostics();
  ASSERT_TRUE(run.PressOk());
  ExpectOpenUntilAnnuler(run);
  EXPECT_EQ(run.Messages().size(), 1u) << run.Diagnostics();
}

TEST_F(GatewayE2E, BrowserThatCannotBeStartedShowsTheConnectionUrlAndKeepsTheWindow) {
  ModuleOptions options = Options(Configuration("demo"), sandbox_.BaseUrl());
  options.browser = false;
  ModuleRun run(SharedDisplay(), options);
  run.Start();

  auto message = run.WaitForMessage("");
  ASSERT_TRUE(message) << run.Diagnostics();
  // The standard error copy hides the token in the query string.
  EXPECT_EQ(*message,
            "Le navigateur n'a pas pu être lancé. Ouvrez cette adresse dans votre navigateur :\\n" +
                sandbox_.BaseUrl() + "/configurateur?…");
  EXPECT_EQ(sandbox_.RequestsTo(kTokenPath).size(), 1u);
  ASSERT_TRUE(run.PressOk());
  ExpectOpenUntilAnnuler(run);
  EXPECT_EQ(run.Messages().size(), 1u) << run.Diagnostics();
}

// xdg-open that runs but fails (4: the action failed): the same message, and
// what it wrote goes to the journal, cleaned, never to the module's standard
// error.
TEST_F(GatewayE2E, BrowserOpenerThatFailsShowsTheConnectionUrlAndItsWordsGoToTheJournal) {
  ModuleOptions options = Options(Configuration("demo"), sandbox_.BaseUrl());
  options.browser_script =
      "#!/bin/sh\nprintf 'xdg-open: ouverture impossible \\033[31m%s\\n' \"$1\" >&2\nexit 4\n";
  ModuleRun run(SharedDisplay(), options);
  run.Start();

  auto message = run.WaitForMessage("Le navigateur");
  ASSERT_TRUE(message) << run.Diagnostics();
  EXPECT_EQ(*message,
            "Le navigateur n'a pas pu être lancé. Ouvrez cette adresse dans votre navigateur :\\n" +
                sandbox_.BaseUrl() + "/configurateur?…");
  ASSERT_TRUE(run.PressOk());
  ExpectOpenUntilAnnuler(run);
  EXPECT_THAT(run.Diagnostics(), Not(HasSubstr("ouverture impossible"))) << run.Diagnostics();
  const std::string journal = ReadFile(run.JournalPath()).value_or("");
  EXPECT_THAT(journal, HasSubstr("navigateur : sortie « xdg-open: ouverture impossible \\x1B[31m" +
                                 sandbox_.BaseUrl() + "/configurateur?…"))
      << journal;
  EXPECT_THAT(journal, Not(HasSubstr("jeton="))) << journal;
  EXPECT_THAT(journal, HasSubstr("/configurateur non lancé")) << journal;
}

// The module's own secrets, sent back by a server or an opener in any form,
// reach neither standard error nor the journal.
TEST_F(GatewayE2E, SecretsSentBackNeverLeaveTheModule) {
  const std::string password = "Ch@ssis&Volets 2026#";
  sandbox_.SetFault("gateway", {{"times", 1},
                                {"content_type", "text/xml; charset=UTF-8"},
                                {"body",
                                 "<Reponse>Mot de passe Ch@ssis&amp;Volets 2026# refusé "
                                 "(mdp=Ch%40ssis%26Volets+2026%23)</Reponse>"}});
  {
    ModuleRun run(SharedDisplay(), Options(Configuration(password), sandbox_.BaseUrl()));
    run.Start();
    const auto message = run.WaitForMessage("La passerelle a répondu");
    ASSERT_TRUE(message) << run.Diagnostics();
    EXPECT_THAT(*message, HasSubstr("La passerelle a répondu : Mot de passe *** refusé (mdp=***)"));
    ASSERT_TRUE(run.PressOk());
    EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
    const std::string journal = ReadFile(run.JournalPath()).value_or("");
    EXPECT_THAT(journal, HasSubstr("Mot de passe *** refusé")) << journal;
    for (const std::string& form : {password, std::string("Ch%40ssis"), std::string("Ch@ssis")}) {
      EXPECT_THAT(journal, Not(HasSubstr(form))) << form << "\n" << journal;
      EXPECT_THAT(run.Diagnostics(), Not(HasSubstr(form))) << form;
    }
  }
  // An opener that fails and prints the address it was given percent-encoded,
  // where no address can be recognised and cleaned: the token is masked.
  ModuleOptions options = Options(Configuration("demo"), sandbox_.BaseUrl());
  options.browser_script =
      "#!/bin/sh\nprintf '%s\\n' \"$1\" | sed 's/:/%3A/g; s/\\//%2F/g; s/?/%3F/g; s/=/%3D/g' "
      ">&2\nexit 4\n";
  ModuleRun run(SharedDisplay(), options);
  run.Start();
  ASSERT_TRUE(run.WaitForMessage("Le navigateur")) << run.Diagnostics();
  ASSERT_TRUE(run.PressOk());
  ExpectOpenUntilAnnuler(run);
  const std::string journal = ReadFile(run.JournalPath()).value_or("");
  const std::string opener_said = "navigateur : sortie « http%3A%2F%2F";
  ASSERT_THAT(journal, HasSubstr(opener_said));
  const std::size_t start = journal.find(opener_said);
  const std::string said = journal.substr(start, journal.find('\n', start) - start);
  EXPECT_THAT(said, HasSubstr("%2Fconfigurateur%3Fjeton%3D*** ")) << said;
}

// Gateway answers that leave the window open with a message and no browser.
struct AnswerCase {
  const char* name;
  const char* fault;
  const char* message;  // the whole message, or its start when `prefix`
  bool prefix;
};
void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.name; }

class GatewayAnswerE2E : public GatewayE2E, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(GatewayAnswerE2E, ShowsTheMessageAndKeepsTheWindow) {
  sandbox_.SetFault("gateway", nlohmann::json::parse(GetParam().fault));
  ModuleRun run(SharedDisplay(), Options(Configuration("demo"), sandbox_.BaseUrl()));
  run.Start();

  auto message = run.WaitForMessage("");
  ASSERT_TRUE(message) << run.Diagnostics();
  if (GetParam().prefix) {
    EXPECT_THAT(*message, StartsWith(GetParam().message));
  } else {
    EXPECT_EQ(*message, GetParam().message);
  }
  ASSERT_TRUE(run.PressOk());
  ExpectOpenUntilAnnuler(run);
  EXPECT_EQ(run.Messages().size(), 1u) << run.Diagnostics();
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, GatewayAnswerE2E,
    ::testing::Values(
        // A well-formed answer whose connection URL would open a local file.
        AnswerCase{"ConnectionUrlNotHttp",
                   R"({"body":"<Configurateur><Jeton>t</Jeton>)"
                   R"(<UrlConnexion>file:///etc/passwd</UrlConnexion>)"
                   R"(<UrlRecuperation>http://127.0.0.1:1/r</UrlRecuperation></Configurateur>"})",
                   "L'adresse du configurateur a été refusée : seules les adresses http et https "
                   "sont ouvertes.",
                   false},
        AnswerCase{"Malformed", R"({"kind":"malformed"})", "Réponse illisible de la passerelle",
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

// While the gateway takes its time, the window is there, painted whole (the
// logo's picture too: a plain window has far fewer colours), and paints itself
// again when another window has passed over it. "Annuler" then ends it
// without opening the browser.
TEST_F(GatewayE2E, WindowIsPaintedWhileTheGatewayAnswers) {
  using namespace std::chrono_literals;
  sandbox_.SetFault("gateway", {{"delay_ms", 20000}});
  ModuleRun run(SharedDisplay(), Options(Configuration("demo"), sandbox_.BaseUrl()));
  run.Start();
  const auto window = run.MainWindow();
  ASSERT_TRUE(window) << run.Diagnostics();
  std::this_thread::sleep_for(700ms);
  XScreen screen(SharedDisplay().Name());
  const auto painted = screen.Capture(*window);
  ASSERT_TRUE(painted);
  EXPECT_GT(painted->DistinctColours(), 1000u);

  screen.Cover(*window, 0xFF00FF, 200ms);
  std::this_thread::sleep_for(300ms);
  const auto repainted = screen.Capture(*window);
  ASSERT_TRUE(repainted);
  EXPECT_EQ(repainted->Differences(*painted), 0u);

  ASSERT_TRUE(run.ClickAnnuler());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_TRUE(run.BrowserUrls().empty());
  EXPECT_EQ(run.ExchangeBytes(), "avant\r\n");
}

}  // namespace
}  // namespace lumivane::testing
