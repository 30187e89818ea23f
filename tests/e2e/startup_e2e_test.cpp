// Start-up of the real executable: the command line, the configuration file
// and the version check, as the host starts it.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "module_run.h"
#include "process.h"
#include "temp_dir.h"
#include "sandbox.h"

namespace lumivane::testing {
namespace {

using ::testing::HasSubstr;

const char* const kParametersMessage =
    "Configurateur Tessivo - Verifiez vos paramètres !\\n1. Fichier temp.\\n2. Fichier config.";

// Bytes the host left in the exchange file: nothing may touch them.
const std::string kEarlierExchange =
    "<?xml version=\"1.0\"?><Configurateur>d\xE9j\xE0</Configurateur>\r\n\x01";

std::string Configuration(const std::string& version) {
  return "[General]\nVersion=" + version +
         "\nConfigurateur=lumivane\n\n[Utilisateur]\nIdentifiant=demo@lumivane.test\nMotDePasse="
         "demo\n";
}

// Endpoints where nothing answers: a run that should stop before the gateway
// and asks it anyway shows a connection error instead of closing.
ModuleOptions NoServices() {
  ModuleOptions options;
  options.gateway_url = ClosedLocalUrl();
  options.quote_service_url = options.gateway_url;
  options.exchange = kEarlierExchange;
  return options;
}

TEST(StartupE2E, AnyArgumentCountButTwoShowsTheParametersMessageAndEnds) {
  for (int count : {0, 1, 3}) {
    SCOPED_TRACE(std::to_string(count) + " arguments");
    ModuleOptions options = NoServices();
    options.config = Configuration("1");
    ModuleRun run(SharedDisplay(), options);
    std::vector<std::string> arguments{run.ExchangePath().string(), run.ConfigPath().string(),
                                       "troisieme"};
    arguments.resize(static_cast<std::size_t>(count));
    run.StartWith(arguments);

    auto message = run.WaitForMessage("Verifiez");
    ASSERT_TRUE(message) << run.Diagnostics();
    EXPECT_EQ(*message, kParametersMessage);
    EXPECT_FALSE(run.MainWindowVisible());
    ASSERT_TRUE(run.PressOk());
    EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
    EXPECT_EQ(run.Messages().size(), 1u) << run.Diagnostics();
    EXPECT_EQ(run.ExchangeBytes(), kEarlierExchange);
  }
}

TEST(StartupE2E, QuotedPathWithBlanksIsOneArgument) {
  ModuleOptions options = NoServices();
  options.config_name = "dossier du devis/config lumivane.ini";  // not written: missing
  ModuleRun run(SharedDisplay(), options);
  // As a host's command line would give it: both paths in double quotes.
  run.StartCommand({"/bin/sh", "-c",
                    "exec \"" + run.Executable().string() + "\" \"" + run.ExchangePath().string() +
                        "\" \"" + run.ConfigPath().string() + "\""});

  auto message = run.WaitForMessage("n'existe pas");
  ASSERT_TRUE(message) << run.Diagnostics();
  EXPECT_EQ(*message, "Le configurateur Lumivane n'est pas configuré. Le fichier : " +
                          run.ConfigPath().string() + " n'existe pas.");
  ASSERT_TRUE(run.PressOk());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
}

TEST(StartupE2E, MissingConfigurationFileIsReportedAndTheModuleEnds) {
  ModuleRun run(SharedDisplay(), NoServices());
  run.Start();

  auto message = run.WaitForMessage("Le configurateur Lumivane");
  ASSERT_TRUE(message) << run.Diagnostics();
  EXPECT_EQ(*message, "Le configurateur Lumivane n'est pas configuré. Le fichier : " +
                          run.ConfigPath().string() + " n'existe pas.");
  ASSERT_TRUE(run.PressOk());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_EQ(run.Messages().size(), 1u) << run.Diagnostics();
  EXPECT_TRUE(run.BrowserUrls().empty());
  EXPECT_EQ(run.ExchangeBytes(), kEarlierExchange);
}

TEST(StartupE2E, OtherConfiguratorVersionIsReportedAndTheModuleEnds) {
  ModuleOptions options = NoServices();
  options.config = Configuration("2");
  ModuleRun run(SharedDisplay(), options);
  run.Start();

  auto message = run.WaitForMessage("Votre Configurateur");
  ASSERT_TRUE(message) << run.Diagnostics();
  EXPECT_EQ(*message,
            "Votre Configurateur lumivane est en Version 1 et devrait être en Version 2.");
  ASSERT_TRUE(run.PressOk());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_EQ(run.Messages().size(), 1u) << run.Diagnostics();
  EXPECT_TRUE(run.BrowserUrls().empty());
  EXPECT_EQ(run.ExchangeBytes(), kEarlierExchange);
}

// A module that reaches its window and its browser, with an earlier exchange
// file.
ModuleOptions Ready(const Sandbox& sandbox) {
  ModuleOptions options;
  options.gateway_url = options.quote_service_url = sandbox.BaseUrl();
  options.config = Configuration("1");
  options.exchange = kEarlierExchange;
  return options;
}

TEST(StartupE2E, AnnulerLeavesTheExchangeFileAsItWas) {
  Sandbox sandbox;
  ModuleRun run(SharedDisplay(), Ready(sandbox));
  run.Start();
  ASSERT_TRUE(run.WaitForBrowser()) << run.Diagnostics();

  ASSERT_TRUE(run.ClickAnnuler());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_TRUE(run.Messages().empty()) << run.Diagnostics();
  EXPECT_EQ(run.ExchangeBytes(), kEarlierExchange);
  EXPECT_TRUE(sandbox.RequestsTo("/recuperation").empty());
}

// A host that reads the module's standard error only once it has ended,
// its pipe already full: the boxes still come, from start-up and from the
// window, and the module ends soon after the last one is dismissed, its
// messages in the journal.
TEST(StartupE2E, AFullStandardErrorPipeNeverHoldsTheModule) {
  for (const bool two_arguments : {false, true}) {
    SCOPED_TRACE(two_arguments ? "missing configuration" : "no argument");
    int pipe_ends[2];
    ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
    // Filled without waiting, then made to wait again, as a host's pipe does.
    const int flags = ::fcntl(pipe_ends[1], F_GETFL);
    ASSERT_EQ(::fcntl(pipe_ends[1], F_SETFL, flags | O_NONBLOCK), 0);
    while (::write(pipe_ends[1], "x", 1) == 1) {
    }
    ASSERT_EQ(errno, EAGAIN);
    ASSERT_EQ(::fcntl(pipe_ends[1], F_SETFL, flags), 0);

    ModuleOptions options = NoServices();
    options.descriptors = {{pipe_ends[1], 2}};
    ModuleRun run(SharedDisplay(), options);
    if (two_arguments) {
      run.Start();
    } else {
      run.StartWith({});
    }
    ::close(pipe_ends[1]);
    EXPECT_TRUE(run.PressOk());
    EXPECT_EQ(run.WaitForExit(), 0) << "still running after its box was dismissed";
    const auto journal = ReadFile(run.JournalPath());
    ASSERT_TRUE(journal);
    EXPECT_THAT(*journal,
                HasSubstr(two_arguments ? "message : Le configurateur Lumivane n'est pas configuré"
                                        : "message : Configurateur Tessivo"));
    ::close(pipe_ends[0]);
  }
}

// Another process keeps the journal's lock (a module stopped in a debugger,
// a backup tool): the window and the gateway request come at once, and the
// lines still land in the journal.
TEST(StartupE2E, AJournalLockedByAnotherProcessHoldsNothing) {
  Sandbox sandbox;
  ModuleRun run(SharedDisplay(), Ready(sandbox));
  std::filesystem::create_directories(run.JournalPath().parent_path());
  Process holder = Process::Start(
      {"flock", run.JournalPath().string(), "-c", "echo verrouillé; exec sleep 120"});
  ASSERT_TRUE(
      holder.WaitForStdoutLine([](const std::string& line) { return line == "verrouillé"; }, kWait))
      << holder.Stderr();

  run.Start();
  ASSERT_TRUE(run.MainWindow()) << run.Diagnostics();
  ASSERT_TRUE(run.WaitForBrowser()) << run.Diagnostics();
  EXPECT_EQ(sandbox.RequestsTo("/index.php/Services/jeton").size(), 1u);
  ASSERT_TRUE(run.ClickAnnuler());
  EXPECT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_TRUE(holder.Running());

  const auto journal = ReadFile(run.JournalPath());
  ASSERT_TRUE(journal);
  for (const char* line :
       {"début : Module_Lumivane", "/index.php/Services/jeton : 200", "fin : code 0"}) {
    EXPECT_THAT(*journal, HasSubstr(line));
  }
}

// A host started without a display: the GUI cannot start, the host still
// gets exit code 0 and its exchange file as it was.
TEST(StartupE2E, NoDisplayEndsWithExitCodeZero) {
  TempDir folder;
  const auto exchange = folder.Path() / "echange.xml";
  const auto config = folder.Path() / "config.ini";
  WriteFile(exchange, kEarlierExchange);
  WriteFile(config, Configuration("1"));
  ProcessOptions options;
  options.environment.erase("DISPLAY");
  options.environment.erase("WAYLAND_DISPLAY");
  options.environment["QT_QPA_PLATFORM"] = "xcb";
  Process module =
      Process::Start({LUMIVANE_MODULE_EXE, exchange.string(), config.string()}, options);
  EXPECT_EQ(module.WaitForExit(kWait), 0) << module.Stderr();
  EXPECT_EQ(ReadFile(exchange), kEarlierExchange);
}
}  // namespace
}  // namespace lumivane::testing
