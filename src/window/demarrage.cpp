#include "window/demarrage.h"

#include "http/endpoints.h"
#include "platform/files.h"
#include "platform/process.h"
#include "report/journal.h"
#include "report/standard_error.h"

namespace lumivane::window {

std::vector<std::string> DossiersImages(const std::string& executable_folder,
                                        const std::string& user_folder) {
  const char separator = platform::kPathSeparator;
  return {executable_folder.empty() ? std::string()
                                    : executable_folder + separator + "images" + separator,
          user_folder.empty() ? std::string() : user_folder + separator};
}

Ports PortsDuSysteme(report::MessagePort& messages, platform::BrowserPort& browser,
                     platform::Clock& clock, Planificateur& planificateur) {
  Ports ports;
  ports.messages = &messages;
  ports.browser = &browser;
  ports.clock = &clock;
  ports.planificateur = &planificateur;
  ports.endpoints = http::LoadEndpoints();
  ports.pictures_folders =
      DossiersImages(platform::ExecutableFolder(), platform::UserPicturesFolder());
  ports.date_separator = platform::SystemDateSeparator();
  return ports;
}

void NoterDebut(const std::string& version, const std::vector<std::string>& arguments) {
#ifdef _WIN32
  const char* build = "Windows";
#else
  const char* build = "Linux";
#endif
  std::string event = "début : Module_Lumivane " + version + " (" + build + ", g++ " + __VERSION__ +
                      "), " + platform::SystemDescription() + ", dossier " +
                      platform::ExecutableFolder() + ", " + std::to_string(arguments.size()) +
                      " arguments";
  if (arguments.size() == 2) {
    event += ", échange " + arguments[0] + ", configuration " + arguments[1];
  }
  report::journal::Note(event);
}

void NoterFin(std::chrono::steady_clock::time_point debut, const std::string& raison) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - debut);
  report::journal::Note("fin : code 0, " +
                        (raison.empty() ? std::to_string(ms.count()) + " ms" : raison));
  // The last messages' copies still reach a host that reads standard error;
  // one that does not holds the end a moment only.
  report::DrainStandardError();
  // The module is leaving: nothing writes to the journal any more.
  report::journal::Close();
}

}  // namespace lumivane::window
