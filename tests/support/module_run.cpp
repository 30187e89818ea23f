#include "module_run.h"

#include <cstring>
#include <sstream>
#include <system_error>
#include <thread>

namespace lumivane::testing {
namespace {

constexpr const char* kMessagePrefix = "Module_Lumivane: ";

// Button centres in the window's client area.
constexpr int kRecupererX = 22 + 125 / 2, kRecupererY = 158 + 50 / 2;
constexpr int kAnnulerX = 202 + 125 / 2, kAnnulerY = 158 + 50 / 2;

// How long a dismissed box may take to go before Return is typed again.
constexpr Duration kBoxCloses = 1s;

std::vector<std::string> MessagesIn(const std::vector<std::string>& lines) {
  std::vector<std::string> messages;
  for (const auto& line : lines) {
    if (line.rfind(kMessagePrefix, 0) == 0)
      messages.push_back(line.substr(std::strlen(kMessagePrefix)));
  }
  return messages;
}

}  // namespace

ModuleRun::ModuleRun(const XvfbDisplay& display, ModuleOptions options)
    : display_(display), options_(std::move(options)), xdotool_(display.Name()) {
  namespace fs = std::filesystem;
  fs::create_directories(dir_.Path() / options_.module_folder);
  std::error_code linked;
  fs::create_hard_link(LUMIVANE_MODULE_EXE, Executable(), linked);
  if (linked) {
    fs::copy_file(LUMIVANE_MODULE_EXE, Executable());
  }

  fs::create_directories(dir_.Path() / "bin");
  // Stands in for the desktop's xdg-open: records the URL and returns.
  if (options_.browser) {
    fs::path browser = dir_.Write(
        "bin/xdg-open",
        options_.browser_script.value_or("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                         (dir_.Path() / "browser.log").string() + "'\n"));
    fs::permissions(browser, fs::perms::owner_all);
  }
  fs::create_directories(dir_.Path() / "runtime");
  fs::permissions(dir_.Path() / "runtime", fs::perms::owner_all);

  if (options_.config) dir_.Write(options_.config_name, *options_.config);
  if (options_.exchange) dir_.Write(options_.exchange_name, *options_.exchange);

  environment_ = CurrentEnvironment();
  for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "SESSION_MANAGER",
                           "LUMIVANE_GATEWAY_URL", "LUMIVANE_QUOTE_SERVICE_URL"}) {
    environment_.erase(name);
  }
  environment_["DISPLAY"] = display.Name();
  // A fixed locale: "/" as date separator, so picture stamps are digits only.
  environment_["LC_ALL"] = "C.UTF-8";
  environment_["XDG_RUNTIME_DIR"] = (dir_.Path() / "runtime").string();
  // The user's own folders, the run's own too.
  environment_["XDG_DATA_HOME"] = (dir_.Path() / "data").string();
  environment_["XDG_STATE_HOME"] = (dir_.Path() / "state").string();
  environment_.erase("LUMIVANE_JOURNAL");
  std::string path = environment_.count("PATH") ? environment_["PATH"] : "/usr/bin:/bin";
  // Without the stand-in, bin/ alone: the module needs no other program, and
  // the system's xdg-open must not be found either.
  environment_["PATH"] = (dir_.Path() / "bin").string() + (options_.browser ? ":" + path : "");
  if (!options_.gateway_url.empty()) environment_["LUMIVANE_GATEWAY_URL"] = options_.gateway_url;
  if (!options_.quote_service_url.empty()) {
    environment_["LUMIVANE_QUOTE_SERVICE_URL"] = options_.quote_service_url;
  }
}

std::filesystem::path ModuleRun::Executable() const {
  return dir_.Path() / options_.module_folder / "Module_Lumivane";
}
std::filesystem::path ModuleRun::ImagesFolder() const {
  return dir_.Path() / options_.module_folder / "images";
}
std::filesystem::path ModuleRun::ConfigPath() const { return dir_.Path() / options_.config_name; }
std::filesystem::path ModuleRun::ExchangePath() const {
  return dir_.Path() / options_.exchange_name;
}
std::optional<std::string> ModuleRun::ExchangeBytes() const { return ReadFile(ExchangePath()); }

void ModuleRun::Start() { StartWith({ExchangePath().string(), ConfigPath().string()}); }

void ModuleRun::StartWith(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{Executable().string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  StartCommand(argv);
}

void ModuleRun::StartCommand(const std::vector<std::string>& argv) {
  ProcessOptions process_options;
  process_options.environment = environment_;
  process_options.working_directory = dir_.Path().string();
  process_options.descriptors = options_.descriptors;
  module_ = Process::Start(argv, process_options);
  messages_seen_ = 0;
}

std::vector<std::string> ModuleRun::Messages() const { return MessagesIn(module_.StderrLines()); }

std::optional<std::string> ModuleRun::WaitForMessage(const std::string& part, Duration timeout) {
  std::optional<std::string> found;
  std::size_t index = 0;
  module_.WaitForStderr(
      [&](const std::vector<std::string>& lines) {
        auto messages = MessagesIn(lines);
        for (index = messages_seen_; index < messages.size(); ++index) {
          if (messages[index].find(part) != std::string::npos) {
            found = messages[index];
            return true;
          }
        }
        return false;
      },
      timeout);
  if (found) messages_seen_ = index + 1;
  return found;
}

::testing::AssertionResult ModuleRun::PressOk() {
  const pid_t pid = module_.Pid();
  auto box = xdotool_.WaitForWindow(pid, kMessageBoxTitle, kWait);
  if (!box) {
    return ::testing::AssertionFailure() << "no message box on screen\n" << Diagnostics();
  }
  // The box may take the key before it is ready for it; type again until it goes.
  const auto deadline = std::chrono::steady_clock::now() + kWait;
  do {
    xdotool_.Key(*box, "Return");
    if (xdotool_.WaitUntilGone(pid, kMessageBoxTitle, *box, kBoxCloses)) {
      return ::testing::AssertionSuccess();
    }
  } while (std::chrono::steady_clock::now() < deadline);
  return ::testing::AssertionFailure() << "the message box stays on screen after OK\n"
                                       << Diagnostics();
}

::testing::AssertionResult ModuleRun::ClickButton(const char* name, int x, int y) {
  const pid_t pid = module_.Pid();
  auto window = xdotool_.WaitForWindow(pid, kMainWindowTitle, kWait);
  if (!window) {
    return ::testing::AssertionFailure() << "no main window on screen to click \"" << name << "\"\n"
                                         << Diagnostics();
  }
  // A modal box would swallow the click.
  if (!xdotool_.Visible(pid, kMessageBoxTitle).empty()) {
    return ::testing::AssertionFailure()
           << "a message box is on screen, cannot click \"" << name << "\"\n"
           << Diagnostics();
  }
  if (!xdotool_.Click(*window, x, y)) {
    return ::testing::AssertionFailure() << "xdotool could not click \"" << name << "\"\n"
                                         << Diagnostics();
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ModuleRun::ClickRecuperer() {
  return ClickButton("Récupérer le devis", kRecupererX, kRecupererY);
}

::testing::AssertionResult ModuleRun::ClickAnnuler() {
  return ClickButton("Annuler", kAnnulerX, kAnnulerY);
}

bool ModuleRun::MainWindowVisible() const { return WindowVisible(kMainWindowTitle); }

std::optional<std::string> ModuleRun::MainWindow(Duration timeout) const {
  return xdotool_.WaitForWindow(module_.Pid(), kMainWindowTitle, timeout);
}

bool ModuleRun::WindowVisible(const std::string& title) const {
  return !xdotool_.Visible(module_.Pid(), title).empty();
}

std::optional<int> ModuleRun::WaitForExit(Duration timeout) { return module_.WaitForExit(timeout); }

bool ModuleRun::Running() { return module_.Running(); }

std::vector<std::string> ModuleRun::BrowserUrls() const {
  std::vector<std::string> urls;
  auto log = ReadFile(dir_.Path() / "browser.log");
  if (!log) return urls;
  std::istringstream lines(*log);
  for (std::string line; std::getline(lines, line);) urls.push_back(line);
  return urls;
}

bool ModuleRun::WaitForBrowser(Duration timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (BrowserUrls().empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

bool ModuleRun::WaitForSession(Duration timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (!WaitForBrowser(timeout)) return false;
  for (;;) {
    const std::optional<std::string> journal = ReadFile(JournalPath());
    if (journal && journal->find("navigateur : ") != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

std::string ModuleRun::Diagnostics() const {
  std::ostringstream text;
  text << "--- module standard error:\n"
       << module_.Stderr() << "--- module standard output:\n"
       << module_.Stdout() << "--- browser:";
  for (const auto& url : BrowserUrls()) text << " " << url;
  text << "\n--- display: " << display_.State() << "\n";
  return text.str();
}

}  // namespace lumivane::testing
