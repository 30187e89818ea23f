// Start-up of the module on Windows: the command line, the window and its
// event loop. The exit code is 0 in every case.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "boite_message_win32.h"
#include "fenetre_win32.h"
#include "platform/clock.h"
#include "platform/endpoints.h"
#include "platform/journal.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "systeme_win32.h"
#include "version_module.h"

namespace {

using namespace lumivane;
using namespace lumivane::app::win32;

constexpr const char* kMessageParametres =
    "Configurateur Tessivo - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config.";

// COM for the picture decoder, for the length of the run.
class Com {
 public:
  Com() : initialise_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~Com() {
    if (initialise_) CoUninitialize();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;

 private:
  bool initialise_;
};

// Steps from the command line to the end of the event loop.
void Demarrer(HINSTANCE instance, int commande, BoiteMessageWin32& boite) {
  const std::vector<std::string> arguments = ArgumentsUtf8();
  if (arguments.size() != 2) {
    boite.ShowMessage(kMessageParametres);
    return;
  }

  const Com com;
  INITCOMMONCONTROLSEX controles{sizeof(controles), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controles);

  NavigateurShell navigateur;
  platform::SystemClock horloge;
  // Outlives the window: continuations posted after it are dropped.
  PlanificateurWin32 planificateur;
  window::Ports ports;
  // The network steps run beside the window, which stays responsive and
  // "Annuler" answers at once.
  ports.planificateur = &planificateur;
  ports.messages = &boite;
  ports.browser = &navigateur;
  ports.clock = &horloge;
  // An EndpointError reaches the guard: its message, then exit code 0.
  ports.endpoints = platform::LoadEndpoints();
  // Empty when the executable's folder cannot be found: the retrieval then
  // says so. The downloader ends the folder with its own separator.
  const std::string dossier = platform::ExecutableFolder();
  // When that folder cannot be written (under Program Files), the user's own.
  // Ending with the separator, so that picture paths are Windows paths
  // throughout.
  const std::string utilisateur = platform::UserPicturesFolder();
  ports.pictures_folders = {dossier.empty() ? std::string() : dossier + "\\images\\",
                            utilisateur.empty() ? std::string() : utilisateur + "\\"};
  ports.date_separator = platform::SystemDateSeparator();

  TFicheConfigurateurRecupDevis fiche(instance, std::move(ports), &boite);
  planificateur.Attacher(fiche.hwnd());
  fiche.logique().setFichierTemp(arguments[0]);
  fiche.logique().setFichierConfig(arguments[1]);
  fiche.Montrer(commande);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (fiche.MessageDeFenetre(message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  planificateur.Attacher(nullptr);
}

// Shows what escaped start-up; a message that cannot be shown still reaches
// standard error.
void MontrerErreur(BoiteMessageWin32& boite, const std::string& texte) {
  try {
    boite.ShowMessage(texte);
  } catch (...) {
    platform::WriteMessageToStderr(texte);
  }
}

// The run's first line in the support journal.
void NoterDebut() {
  std::vector<std::string> arguments;
  try {
    arguments = ArgumentsUtf8();
  } catch (...) {
    // Start-up reports an unreadable command line itself.
  }
  std::string evenement = std::string("début : Module_Lumivane ") + LUMIVANE_VERSION_TEXTE +
                          " (Windows, g++ " + __VERSION__ + "), dossier " + platform::ExecutableFolder() +
                          ", " + std::to_string(arguments.size()) + " arguments";
  if (arguments.size() == 2) evenement += ", échange " + arguments[0] + ", configuration " + arguments[1];
  platform::journal::Note(evenement);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int commande) {
  const auto debut = std::chrono::steady_clock::now();
  platform::journal::Open(platform::journal::DefaultPath());
  NoterDebut();
  BoiteMessageWin32 boite;
  try {
    Demarrer(instance, commande, boite);
  } catch (const std::exception& erreur) {
    MontrerErreur(boite, erreur.what());
  } catch (...) {
    MontrerErreur(boite, "");
  }
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - debut);
  platform::journal::Note("fin : code 0, " + std::to_string(ms.count()) + " ms");
  return 0;
}
