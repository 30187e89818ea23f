#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "process.h"
#include "temp_dir.h"
#include "xdotool.h"
#include "xvfb_display.h"

namespace lumivane::testing {

struct ModuleOptions {
  // Text of the configuration file; nothing: no file at its path.
  std::optional<std::string> config;
  // Bytes already in the exchange file; nothing: no file at its path.
  std::optional<std::string> exchange;
  // Paths of both files, relative to the run's folder.
  std::string config_name = "config.ini";
  std::string exchange_name = "echange.xml";
  // Folder of the executable (and so of its images/), relative to the run's
  // folder; any bytes, not only UTF-8.
  std::string module_folder = "module";
  // Base URLs for LUMIVANE_GATEWAY_URL and LUMIVANE_QUOTE_SERVICE_URL.
  std::string gateway_url;
  std::string quote_service_url;
  // Whether the stand-in xdg-open is there. Without it PATH names only an
  // empty folder: the module finds no xdg-open at all (not the system's).
  bool browser = true;
  // A stand-in xdg-open of the test's own (the shell script's text) instead
  // of the recording one.
  std::optional<std::string> browser_script;
  // Descriptors of the test handed to the module, {ours, the module's
  // number}: {fd, 2} gives it a standard error of the test's own.
  std::vector<std::pair<int, int>> descriptors;
};

// One run of the real Module_Lumivane on an X display: a copy of the
// executable in a folder of its own (so that its images/ folder is the
// run's), its configuration and exchange files, and (unless told otherwise)
// a stand-in xdg-open on PATH that records the URLs it is asked to open. The
// module is killed when the object goes.
class ModuleRun {
 public:
  static constexpr const char* kMessageBoxTitle = "^Module_Lumivane$";
  static constexpr const char* kMainWindowTitle =
      "^(Configurateur Lumivane|Brevance - Configurateur lumivane)$";

  ModuleRun(const XvfbDisplay& display, ModuleOptions options);

  // The module with its two arguments: exchange file, configuration file.
  void Start();
  // The module with these arguments.
  void StartWith(const std::vector<std::string>& arguments);
  // Any command line in the module's environment. Windows are looked up by
  // the started process's id: a shell must exec the module.
  void StartCommand(const std::vector<std::string>& argv);

  const std::filesystem::path& Folder() const { return dir_.Path(); }
  std::filesystem::path Executable() const;
  std::filesystem::path ImagesFolder() const;
  // The user's own pictures folder (under the run's XDG_DATA_HOME).
  std::filesystem::path UserImagesFolder() const {
    return dir_.Path() / "data" / "lumivane" / "images";
  }
  // The support journal (under the run's XDG_STATE_HOME).
  std::filesystem::path JournalPath() const {
    return dir_.Path() / "state" / "lumivane" / "journal.log";
  }
  std::filesystem::path ConfigPath() const;
  std::filesystem::path ExchangePath() const;
  std::optional<std::string> ExchangeBytes() const;

  // Texts of the messages shown so far, as written on standard error after
  // "Module_Lumivane: " (line feeds as the two characters \n).
  std::vector<std::string> Messages() const;
  // Waits for the next message, after those already waited for, that holds
  // `part`; gives its text.
  std::optional<std::string> WaitForMessage(const std::string& part, Duration timeout = kWait);

  // Dismisses the message box on screen with its OK button (the Return key).
  ::testing::AssertionResult PressOk();
  ::testing::AssertionResult ClickRecuperer();
  ::testing::AssertionResult ClickAnnuler();
  bool MainWindowVisible() const;
  // The X window id of the main window, once it is on screen.
  std::optional<std::string> MainWindow(Duration timeout = kWait) const;
  // Whether a window of the module with a title matching `title` is on screen.
  bool WindowVisible(const std::string& title) const;

  std::optional<int> WaitForExit(Duration timeout = kWait);
  bool Running();
  pid_t Pid() const { return module_.Pid(); }

  // URLs handed to xdg-open so far, in order.
  std::vector<std::string> BrowserUrls() const;
  bool WaitForBrowser(Duration timeout = kWait) const;
  // Waits for the browser and then for the window to have taken the
  // gateway's answer: the browser is opened beside the window, before the
  // window keeps the retrieval address, and "Récupérer le devis" pressed in
  // between finds none. The window notes the browser's outcome in the
  // journal ("navigateur : …") once it has kept it.
  bool WaitForSession(Duration timeout = kWait) const;

  // Everything the module wrote, for failure reports.
  std::string Diagnostics() const;

 private:
  ::testing::AssertionResult ClickButton(const char* name, int x, int y);

  const XvfbDisplay& display_;
  TempDir dir_;
  ModuleOptions options_;
  Environment environment_;
  Xdotool xdotool_;
  Process module_;
  std::size_t messages_seen_ = 0;
};

}  // namespace lumivane::testing
