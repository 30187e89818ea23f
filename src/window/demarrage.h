#pragma once

// What both executables do around the window: the start-up checks, the
// ports, the run's first and last lines in the journal.

#include <chrono>
#include <string>
#include <vector>

#include "window/fiche_logique.h"

namespace lumivane::window {

// The system's own pieces for the window: clock, browser, messages and where
// the network steps run are the shell's; the services' addresses (an
// EndpointError for a wrong one), the pictures' folders (beside the
// executable, else the user's own) and the date separator are read here.
Ports PortsDuSysteme(report::MessagePort& messages, platform::BrowserPort& browser,
                     platform::Clock& clock, Planificateur& planificateur);

// The folders the pictures may go to, each ending with the system's
// separator: images beside the executable, then the user's own folder (for
// an installed module, whose folder the user cannot write). An empty one is
// left empty: the retrieval then says so.
std::vector<std::string> DossiersImages(const std::string& executable_folder,
                                        const std::string& user_folder);

// The run's first line in the support journal: the build, the system, the
// executable's folder and the arguments.
void NoterDebut(const std::string& version, const std::vector<std::string>& arguments);

// The run's last line, with its length; standard error gets a moment to
// take the last messages (report::DrainStandardError), then the journal is
// closed.
void NoterFin(std::chrono::steady_clock::time_point debut, const std::string& raison = {});

}  // namespace lumivane::window
