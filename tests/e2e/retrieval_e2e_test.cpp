// "Récupérer le devis" on the real executable against the stand-in services:
// the exchange file and the pictures on the happy road, then each way the
// retrieval fails.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <httplib.h>
#include <pugixml.hpp>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <thread>
#include <ctime>
#include <filesystem>
#include <memory>
#include <regex>
#include <utility>
#include <vector>

#include <csignal>

#include "module_run.h"
#include "sandbox.h"
#include "x_screen.h"

namespace lumivane::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;

const char* const kConfiguration =
    "[General]\nVersion=1\nConfigurateur=lumivane\n\n"
    "[Utilisateur]\nIdentifiant=demo@lumivane.test\nMotDePasse=demo\n";

const char* const kQuotePath = "/test/B2B/WSQuotes.svc/GetDataQuote";

const std::string kEarlierExchange = "ancien contenu \xE9\r\n";

const char* const kRetrieval =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
    "<Configurateur><Project>Q-77</Project><Passerelle>lumivane</Passerelle></Configurateur>";

// Three lines: a picture, a picture that is not there (404), a picture.
const char* const kQuote = R"(<?xml version="1.0" encoding="utf-8"?>
<Sales_Header><No>DV-2026-0042</No><GeneralData_Sales_Lines>
<Sales_Line><GeneralData><Unit_Price>412.50</Unit_Price><Quantity>2</Quantity>
<Picture_Path>{BASE}/images/fenetre.jpg</Picture_Path><Designation>FEN-001</Designation></GeneralData>
<Informations_supp><Information_supp><Description>Fenêtre deux vantaux</Description></Information_supp></Informations_supp></Sales_Line>
<Sales_Line><GeneralData><Unit_Price>1290</Unit_Price><Quantity>1</Quantity>
<Picture_Path>{BASE}/images/absente.jpg</Picture_Path><Designation>BAI-003</Designation></GeneralData>
<Informations_supp><Information_supp><Description>Baie vitrée</Description></Information_supp></Informations_supp></Sales_Line>
<Sales_Line><GeneralData><Unit_Price>89,90</Unit_Price><Quantity>4</Quantity>
<Picture_Path>{BASE}/images/porte.jpg</Picture_Path><Designation>VOL-002</Designation></GeneralData>
<Informations_supp><Information_supp><Description>Volet &amp; store</Description></Information_supp></Informations_supp></Sales_Line>
</GeneralData_Sales_Lines></Sales_Header>)";

const char* const kQuoteWithoutPictures = R"(<Sales_Header><No>DV-9</No><GeneralData_Sales_Lines>
<L><GeneralData><Unit_Price>10</Unit_Price><Quantity>1</Quantity><Designation>X</Designation></GeneralData></L>
</GeneralData_Sales_Lines></Sales_Header>)";

const char* const kPictureMessage = "Une erreur est survenue lors du téléchargement de l'image";

// The exchange file the happy road must leave, in ISO-8859-1; @JETON@,
// @IMAGE1@ and @IMAGE3@ stand for the token and the two picture paths.
const std::string kExpectedExchange =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
    "<Configurateur><Project>Q-77</Project><Passerelle>lumivane</Passerelle>"
    "<Menuiserie id=\"1\"><Jeton>@JETON@</Jeton><Project>DV-2026-0042</Project>"
    "<Libelle>Fen\xEAtre deux vantaux</Libelle><Designation>FEN-001</Designation>"
    "<PrixUnitaire>412.50</PrixUnitaire><Quantite>2</Quantite><Image>@IMAGE1@</Image></Menuiserie>"
    "<Menuiserie id=\"2\"><Jeton>@JETON@</Jeton><Project>DV-2026-0042</Project>"
    "<Libelle>Baie vitr\xE9"
    "e</Libelle><Designation>BAI-003</Designation>"
    "<PrixUnitaire>1290</PrixUnitaire><Quantite>1</Quantite><Image></Image></Menuiserie>"
    "<Menuiserie id=\"3\"><Jeton>@JETON@</Jeton><Project>DV-2026-0042</Project>"
    "<Libelle>Volet &amp; store</Libelle><Designation>VOL-002</Designation>"
    "<PrixUnitaire>89,90</PrixUnitaire><Quantite>4</Quantite><Image>@IMAGE3@</Image></Menuiserie>"
    "</Configurateur>\r\n";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The local time a picture name's stamp stands for, yyyymmdd_hhmmss.
std::time_t StampTime(const std::string& stamp) {
  std::tm t{};
  t.tm_year = std::stoi(stamp.substr(0, 4)) - 1900;
  t.tm_mon = std::stoi(stamp.substr(4, 2)) - 1;
  t.tm_mday = std::stoi(stamp.substr(6, 2));
  t.tm_hour = std::stoi(stamp.substr(9, 2));
  t.tm_min = std::stoi(stamp.substr(11, 2));
  t.tm_sec = std::stoi(stamp.substr(13, 2));
  t.tm_isdst = -1;
  return std::mktime(&t);
}

class RetrievalE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    sandbox_.SetRetrieval(kRetrieval);
    sandbox_.SetQuote(kQuote);
  }

  // The module's folder and files, before it starts.
  void Prepare(const std::string& exchange_name = "echange.xml") {
    ModuleOptions options;
    options.config = kConfiguration;
    options.exchange_name = exchange_name;
    if (exchange_name == "echange.xml") options.exchange = kEarlierExchange;
    options.gateway_url = options.quote_service_url = sandbox_.BaseUrl();
    run_ = std::make_unique<ModuleRun>(SharedDisplay(), options);
  }

  // The module started, its browser opened: the user may press the buttons.
  void StartReady(const std::string& exchange_name = "echange.xml") {
    if (!run_) Prepare(exchange_name);
    run_->Start();
    ASSERT_TRUE(run_->WaitForBrowser()) << run_->Diagnostics();
  }

  // "Récupérer le devis" on kQuote to the end, the missing picture's message
  // dismissed: its two pictures are in `folder`, which the exchange file names.
  void RetrieveWithPicturesIn(const fs::path& folder) {
    ASSERT_NO_FATAL_FAILURE(StartReady());
    ASSERT_TRUE(run_->ClickRecuperer());
    ASSERT_TRUE(run_->WaitForMessage("image")) << run_->Diagnostics();
    ASSERT_TRUE(run_->PressOk());
    ASSERT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
    const auto exchange = run_->ExchangeBytes();
    ASSERT_TRUE(exchange) << run_->Diagnostics();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2);
    EXPECT_THAT(*exchange, HasSubstr("<Image>" + folder.string() + "/"));
  }

  std::string Token() const {
    std::smatch match;
    const std::string url = run_->BrowserUrls().at(0);
    return std::regex_search(url, match, std::regex("jeton=([^&]+)$")) ? match[1].str() : "";
  }

  Sandbox sandbox_;
  std::unique_ptr<ModuleRun> run_;
};

TEST_F(RetrievalE2E, HappyRoadWritesTheExchangeFileAndThePictures) {
  ASSERT_NO_FATAL_FAILURE(StartReady());
  const std::time_t before = std::time(nullptr);
  ASSERT_TRUE(run_->ClickRecuperer());

  // The missing picture is reported once, during the retrieval.
  auto message = run_->WaitForMessage("image");
  ASSERT_TRUE(message) << run_->Diagnostics();
  EXPECT_EQ(*message, kPictureMessage);
  ASSERT_TRUE(run_->PressOk());
  ASSERT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(run_->Messages().size(), 1u) << run_->Diagnostics();

  auto exchange = run_->ExchangeBytes();
  ASSERT_TRUE(exchange);
  std::vector<std::string> images;
  const std::regex image("<Image>([^<]*)</Image>");
  for (std::sregex_iterator it(exchange->begin(), exchange->end(), image), end; it != end; ++it) {
    images.push_back((*it)[1]);
  }
  ASSERT_EQ(images.size(), 3u) << *exchange;
  EXPECT_EQ(*exchange,
            Replace(Replace(Replace(kExpectedExchange, "@JETON@", Token()), "@IMAGE1@", images[0]),
                    "@IMAGE3@", images[2]));

  // Both pictures, byte for byte, in the images folder beside the executable,
  // stamped with the time of the download.
  const std::regex name(R"(^(\d{8}_\d{6})(-\d+)?_DV-2026-0042\.jpeg$)");
  const std::pair<std::string, const char*> stored[] = {{images[0], "/images/fenetre.jpg"},
                                                        {images[2], "/images/porte.jpg"}};
  for (const auto& [path, served] : stored) {
    SCOPED_TRACE(path);
    EXPECT_EQ(fs::path(path).parent_path(), run_->ImagesFolder());
    std::smatch parts;
    const std::string file = fs::path(path).filename().string();
    ASSERT_TRUE(std::regex_match(file, parts, name));
    EXPECT_GE(StampTime(parts[1]), before - 1);
    EXPECT_LE(StampTime(parts[1]), after);
    EXPECT_EQ(ReadFile(path), sandbox_.Get(served));
  }
  EXPECT_NE(images[0], images[2]);
  EXPECT_EQ(std::distance(fs::directory_iterator(run_->ImagesFolder()), fs::directory_iterator()),
            2);

  // The quote was asked for with the id of the retrieval document.
  auto quotes = sandbox_.RequestsTo(kQuotePath);
  ASSERT_EQ(quotes.size(), 1u);
  EXPECT_EQ(quotes[0]["body"],
            R"({"QUOTE_ID" : "Q-77","key" : "5A3D19E0-7C42-4B8E-9F16-2D0B7E4C8A51"})");

  // The support journal tells the whole road, without the password, the
  // token or any query string.
  auto journal = ReadFile(run_->JournalPath());
  ASSERT_TRUE(journal) << run_->Diagnostics();
  for (const char* part :
       {"début : Module_Lumivane", "configuration : Version=1, Configurateur=lumivane",
        "/index.php/Services/jeton : 200", "navigateur : ", " lancé", "/recuperation : 200",
        "POST ", "/images/absente.jpg : Le serveur a répondu 404", "images : dossier ",
        "message : Une erreur est survenue", "fichier d'échange écrit : ", "fin : code 0"}) {
    EXPECT_THAT(*journal, HasSubstr(part));
  }
  EXPECT_THAT(*journal, Not(HasSubstr(Token())));
  EXPECT_THAT(*journal, Not(HasSubstr("?")));
  EXPECT_THAT(*journal, Not(HasSubstr("mdp")));
  std::string without_login = *journal;
  for (auto at = without_login.find("demo@lumivane.test"); at != std::string::npos;
       at = without_login.find("demo@lumivane.test")) {
    without_login.erase(at, 18);
  }
  EXPECT_THAT(without_login, Not(HasSubstr("demo"))) << *journal;
}

// On a file system that refuses every lock, the retrieval goes through all
// the same; and the disk's flushes (pictures, their folder, the exchange
// file) are all made beside the window, none on its thread.
TEST_F(RetrievalE2E, NeitherRefusedLocksNorFlushesHoldTheRetrieval) {
  Prepare();
  const fs::path log = run_->Folder() / "flushes.log";
  const char* asan = std::getenv("ASAN_OPTIONS");
  run_->StartCommand(
      {"env", std::string("LD_PRELOAD=") + LUMIVANE_SYSTEM_CALLS_SHIM, "LUMIVANE_SHIM_NO_LOCKS=1",
       "LUMIVANE_SHIM_FLUSH_LOG=" + log.string(),
       std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":verify_asan_link_order=0",
       run_->Executable().string(), run_->ExchangePath().string(), run_->ConfigPath().string()});
  ASSERT_TRUE(run_->WaitForBrowser()) << run_->Diagnostics();
  ASSERT_TRUE(run_->ClickRecuperer());
  ASSERT_TRUE(run_->WaitForMessage("image")) << run_->Diagnostics();
  ASSERT_TRUE(run_->PressOk());
  ASSERT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_EQ(run_->Messages().size(), 1u) << run_->Diagnostics();
  const auto exchange = run_->ExchangeBytes();
  ASSERT_TRUE(exchange);
  EXPECT_EQ(exchange->find("<Image></Image>"), exchange->rfind("<Image></Image>")) << *exchange;
  EXPECT_EQ(std::distance(fs::directory_iterator(run_->ImagesFolder()), fs::directory_iterator()),
            2);

  const auto flushes = ReadFile(log);
  ASSERT_TRUE(flushes) << run_->Diagnostics();
  EXPECT_THAT(*flushes, Not(HasSubstr("fenetre")));
  EXPECT_GE(std::count(flushes->begin(), flushes->end(), '\n'), 4) << *flushes;
}

// A host may hand over paths that are not UTF-8 (an ISO-8859-1 file system,
// an old archive): the exchange file named is the one written, and the
// pictures go to the images folder beside the executable, wherever it is.
TEST_F(RetrievalE2E, PathsThatAreNotUtf8AreUsedAsTheyAre) {
  ModuleOptions options;
  options.config = kConfiguration;
  options.exchange_name =
      "\xE9"
      "change.xml";
  options.module_folder = "module-\xE9t\xE9";
  options.gateway_url = options.quote_service_url = sandbox_.BaseUrl();
  run_ = std::make_unique<ModuleRun>(SharedDisplay(), options);
  RetrieveWithPicturesIn(run_->ImagesFolder());
}

// During a slow retrieval the window still answers: "Annuler" stops the
// downloads at once, and the exchange file stays as it was, nothing of the
// run's left in the pictures folder.
TEST_F(RetrievalE2E, AnnulerDuringASlowRetrievalStopsAtOnce) {
  sandbox_.SetFault("picture", {{"delay_ms", 20000}});
  ASSERT_NO_FATAL_FAILURE(StartReady());
  ASSERT_TRUE(run_->ClickRecuperer());
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ASSERT_TRUE(run_->Running()) << run_->Diagnostics();
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(run_->ClickAnnuler());
  ASSERT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(3));
  EXPECT_TRUE(run_->Messages().empty()) << run_->Diagnostics();
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);
  // The folder made for the pictures stays, empty: another module may have
  // chosen it meanwhile.
  EXPECT_TRUE(fs::is_empty(run_->ImagesFolder()));
}

// A window passed over the module's during a slow retrieval leaves no trace:
// the module paints itself again at once. Stopped, the same module keeps the
// other window's ghost, so the check does tell a window that does not paint.
TEST_F(RetrievalE2E, WindowPaintsItselfAgainDuringASlowRetrieval) {
  using namespace std::chrono_literals;
  sandbox_.SetFault("picture", {{"delay_ms", 20000}});
  ASSERT_NO_FATAL_FAILURE(StartReady());
  const auto window = run_->MainWindow();
  ASSERT_TRUE(window) << run_->Diagnostics();
  ASSERT_TRUE(run_->ClickRecuperer());
  std::this_thread::sleep_for(1s);
  ASSERT_TRUE(run_->Running()) << run_->Diagnostics();
  XScreen screen(SharedDisplay().Name());
  const auto painted = screen.Capture(*window);
  ASSERT_TRUE(painted);

  ASSERT_EQ(::kill(run_->Pid(), SIGSTOP), 0);
  screen.Cover(*window, 0xFF00FF, 200ms);
  std::this_thread::sleep_for(300ms);
  const auto ghost = screen.Capture(*window);
  ASSERT_EQ(::kill(run_->Pid(), SIGCONT), 0);
  ASSERT_TRUE(ghost);
  EXPECT_GT(ghost->Differences(*painted), painted->rgb.size() / 2);

  std::this_thread::sleep_for(500ms);
  screen.Cover(*window, 0xFF00FF, 200ms);
  std::this_thread::sleep_for(300ms);
  const auto repainted = screen.Capture(*window);
  ASSERT_TRUE(repainted);
  EXPECT_EQ(repainted->Differences(*painted), 0u);

  ASSERT_TRUE(run_->ClickAnnuler());
  ASSERT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);
}

// A service failing during the retrieval, as the sandbox's fault `fault` on
// `endpoint`.
struct FaultCase {
  const char* name;
  const char* endpoint;
  const char* fault;
  const char* in_message = "";  // in the closing message
};
void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

class RetrievalFaultE2E : public RetrievalE2E, public ::testing::WithParamInterface<FaultCase> {
 protected:
  // The module ready with the fault set, "Récupérer le devis" pressed: the
  // first message holding `awaited`.
  void PressWithTheFault(const std::string& awaited, std::string* message) {
    sandbox_.SetFault(GetParam().endpoint, nlohmann::json::parse(GetParam().fault));
    ASSERT_NO_FATAL_FAILURE(StartReady());
    ASSERT_TRUE(run_->ClickRecuperer());
    const auto shown = run_->WaitForMessage(awaited);
    ASSERT_TRUE(shown) << run_->Diagnostics();
    *message = *shown;
  }
};

// Failures after which the module closes without writing.
class RetrievalClosesE2E : public RetrievalFaultE2E {};

TEST_P(RetrievalClosesE2E, ClosesWithoutWriting) {
  std::string message;
  ASSERT_NO_FATAL_FAILURE(PressWithTheFault("Erreur lumivane", &message));
  EXPECT_THAT(message, StartsWith("Erreur lumivane"));
  EXPECT_THAT(message, HasSubstr(GetParam().in_message));
  ASSERT_TRUE(run_->PressOk());
  EXPECT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_EQ(run_->Messages().size(), 1u) << run_->Diagnostics();
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);
  EXPECT_FALSE(fs::exists(run_->ImagesFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RetrievalClosesE2E,
    ::testing::Values(FaultCase{"Status204", "quote", R"({"status":204})", "204"},
                      FaultCase{"Null", "quote", R"({"kind":"null"})", "null"},
                      FaultCase{"NoSalesHeader", "quote", R"({"kind":"no-header"})"},
                      FaultCase{"RetrievalWithoutConfigurateur", "retrieval",
                                R"({"kind":"missing"})"}),
    [](const auto& info) { return std::string(info.param.name); });

// Failures that leave the window open with the error shown.
class RetrievalStaysOpenE2E : public RetrievalFaultE2E {};

TEST_P(RetrievalStaysOpenE2E, ShowsTheErrorAndKeepsTheWindow) {
  std::string message;
  ASSERT_NO_FATAL_FAILURE(PressWithTheFault("", &message));
  EXPECT_FALSE(message.empty());
  EXPECT_THAT(message, Not(StartsWith("Erreur lumivane")));
  ASSERT_TRUE(run_->PressOk());
  EXPECT_TRUE(run_->Running());
  EXPECT_TRUE(run_->MainWindowVisible());
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);

  ASSERT_TRUE(run_->ClickAnnuler());
  EXPECT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_EQ(run_->Messages().size(), 1u) << run_->Diagnostics();
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RetrievalStaysOpenE2E,
    ::testing::Values(FaultCase{"QuoteStatus500", "quote", R"({"status":500})"},
                      FaultCase{"RetrievalMalformed", "retrieval", R"({"kind":"malformed"})"},
                      FaultCase{"QuoteConnectionDropped", "quote", R"({"kind":"drop"})"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RetrievalE2E, SecondPressAfterAnErrorStartsAfresh) {
  sandbox_.SetFault("quote", {{"status", 500}, {"times", 1}});
  sandbox_.SetQuote(kQuoteWithoutPictures);
  ASSERT_NO_FATAL_FAILURE(StartReady());
  ASSERT_TRUE(run_->ClickRecuperer());
  auto message = run_->WaitForMessage("500");
  ASSERT_TRUE(message) << run_->Diagnostics();
  ASSERT_TRUE(run_->PressOk());

  ASSERT_TRUE(run_->ClickRecuperer());
  EXPECT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  auto exchange = run_->ExchangeBytes();
  ASSERT_TRUE(exchange);
  EXPECT_THAT(*exchange, HasSubstr("<Menuiserie id=\"1\">"));
  EXPECT_EQ(sandbox_.RequestsTo("/recuperation").size(), 2u);
}

TEST_F(RetrievalE2E, ExchangeFileThatCannotBeWrittenShowsTheErrorAndKeepsTheWindow) {
  sandbox_.SetQuote(kQuoteWithoutPictures);
  ASSERT_NO_FATAL_FAILURE(StartReady("dossier-absent/echange.xml"));
  ASSERT_TRUE(run_->ClickRecuperer());

  auto message = run_->WaitForMessage("");
  ASSERT_TRUE(message) << run_->Diagnostics();
  ASSERT_TRUE(run_->PressOk());
  EXPECT_TRUE(run_->MainWindowVisible());
  ASSERT_TRUE(run_->ClickAnnuler());
  EXPECT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_FALSE(fs::exists(run_->ExchangePath().parent_path()));
}

// A module installed where it cannot write (a system folder) stores its
// pictures in the user's own folder, and the retrieval succeeds.
TEST_F(RetrievalE2E, PicturesGoToTheUsersFolderWhenTheModulesCannotBeUsed) {
  Prepare();
  WriteFile(run_->ImagesFolder(), "pas un dossier\n");
  RetrieveWithPicturesIn(run_->UserImagesFolder());
}

TEST_F(RetrievalE2E, PicturesFolderThatCannotBeCreatedShowsTheErrorAndKeepsTheWindow) {
  Prepare();
  // A file where each folder should be: the pictures have nowhere to go.
  WriteFile(run_->ImagesFolder(), "pas un dossier\n");
  fs::create_directories(run_->UserImagesFolder().parent_path().parent_path());
  WriteFile(run_->UserImagesFolder().parent_path(), "pas un dossier\n");
  ASSERT_NO_FATAL_FAILURE(StartReady());
  ASSERT_TRUE(run_->ClickRecuperer());

  auto message = run_->WaitForMessage("");
  ASSERT_TRUE(message) << run_->Diagnostics();
  EXPECT_THAT(*message, StartsWith("Impossible de créer le dossier des images"));
  // Both folders are named.
  EXPECT_THAT(*message, HasSubstr(run_->ImagesFolder().string()));
  EXPECT_THAT(*message, HasSubstr(run_->UserImagesFolder().string()));
  ASSERT_TRUE(run_->PressOk());
  EXPECT_TRUE(run_->Running());
  EXPECT_TRUE(run_->MainWindowVisible());
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);
  EXPECT_EQ(ReadFile(run_->ImagesFolder()), "pas un dossier\n");

  ASSERT_TRUE(run_->ClickAnnuler());
  EXPECT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_EQ(run_->Messages().size(), 1u) << run_->Diagnostics();
  EXPECT_EQ(run_->ExchangeBytes(), kEarlierExchange);
}

// Every value of the quote ends in accents, the euro sign, "&", "<", ">",
// both quotes and a CJK character: the exchange file carries them all in
// ISO-8859-1, the ones beyond it as character references.
TEST_F(RetrievalE2E, OddCharactersReachTheExchangeFileIntact) {
  sandbox_.SetFault("quote", {{"kind", "odd"}});
  ASSERT_NO_FATAL_FAILURE(StartReady());
  ASSERT_TRUE(run_->ClickRecuperer());

  // The picture URLs carry the characters too, blanks included: no picture
  // comes, each of the two lines with one says so.
  for (int line : {1, 2}) {
    SCOPED_TRACE("picture of line " + std::to_string(line));
    auto message = run_->WaitForMessage("image");
    ASSERT_TRUE(message) << run_->Diagnostics();
    EXPECT_EQ(*message, kPictureMessage);
    ASSERT_TRUE(run_->PressOk());
  }
  ASSERT_EQ(run_->WaitForExit(), 0) << run_->Diagnostics();
  EXPECT_EQ(run_->Messages().size(), 2u) << run_->Diagnostics();

  // The quote as the service served it: the module's request, asked again.
  auto requests = sandbox_.RequestsTo(kQuotePath);
  ASSERT_EQ(requests.size(), 1u);
  httplib::Client client(sandbox_.BaseUrl());
  auto answer = client.Post(kQuotePath, requests[0]["body"].get<std::string>(), "application/json");
  ASSERT_TRUE(answer && answer->status == 200);
  pugi::xml_document quote;
  ASSERT_TRUE(quote.load_string(
      nlohmann::json::parse(answer->body)["GetDataQuoteResult"].get<std::string>().c_str()));
  const pugi::xml_node header = quote.child("Sales_Header");
  const pugi::xml_node line = header.child("GeneralData_Sales_Lines").first_child();
  const pugi::xml_node general = line.child("GeneralData");
  const std::string description =
      line.child("Informations_supp").child("Information_supp").child_value("Description");
  ASSERT_TRUE(description.ends_with(" é à ç € & < > \" ' 漢")) << description;

  auto exchange = run_->ExchangeBytes();
  ASSERT_TRUE(exchange);
  // One byte per character: no UTF-8 accent (lead byte 0xC3) and nothing
  // between 0x80 and 0x9F (UTF-8 continuations, the Windows-1252 euro).
  EXPECT_TRUE(std::none_of(exchange->begin(), exchange->end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == 0xC3 || (byte >= 0x80 && byte < 0xA0);
  }));
  EXPECT_THAT(*exchange, HasSubstr("&#8364;"));
  EXPECT_THAT(*exchange, HasSubstr("&#28450;"));

  // Read as a host would: the declaration names the encoding.
  pugi::xml_document result;
  const auto parsed = result.load_buffer(exchange->data(), exchange->size(),
                                         pugi::parse_default | pugi::parse_declaration);
  ASSERT_TRUE(parsed) << parsed.description() << "\n" << *exchange;
  EXPECT_STREQ(result.first_child().attribute("encoding").value(), "ISO-8859-1");
  std::vector<std::pair<std::string, std::string>> children;
  for (pugi::xml_node child : result.child("Configurateur").child("Menuiserie").children()) {
    children.emplace_back(child.name(), child.text().get());
  }
  const std::vector<std::pair<std::string, std::string>> served = {
      {"Jeton", Token()},
      {"Project", header.child_value("No")},
      {"Libelle", description},
      {"Designation", general.child_value("Designation")},
      {"PrixUnitaire", general.child_value("Unit_Price")},
      {"Quantite", general.child_value("Quantity")},
      {"Image", ""}};
  EXPECT_EQ(children, served);

  // As written: the euro sign and the CJK character as decimal references,
  // "&" and "<" escaped.
  std::smatch libelle;
  ASSERT_TRUE(std::regex_search(*exchange, libelle, std::regex("<Libelle>([^<]*)</Libelle>")));
  EXPECT_TRUE(std::regex_search(
      libelle[1].str(),
      std::regex(" \xE9 \xE0 \xE7 &#8364; &amp; &lt; (>|&gt;) (\"|&quot;) ('|&apos;) &#28450;$")))
      << libelle[1];
}

}  // namespace
}  // namespace lumivane::testing
