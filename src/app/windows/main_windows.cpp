// Start-up of the module on Windows: the command line, the window and its
// event loop. The exit code is 0 in every case.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <chrono>
#include <exception>
#include <string>
#include <vector>

#include "win32_message_box.h"
#include "fenetre_win32.h"
#include "platform/clock.h"
#include "report/journal.h"
#include "report/messages.h"
#include "platform/process.h"
#include "platform/browser.h"
#include "text/user_texts.h"
#include "window/demarrage.h"
#include "version_module.h"

namespace {

using namespace lumivane;
using namespace lumivane::app::win32;

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
void Demarrer(HINSTANCE instance, int commande, Win32MessageBox& boite,
              const std::vector<std::string>& arguments) {
  if (arguments.size() != 2) {
    boite.ShowMessage(text::UserMessage(text::UserText::kWrongArguments));
    return;
  }
  const Com com;
  INITCOMMONCONTROLSEX controles{sizeof(controles), ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controles);

  platform::ShellBrowser navigateur;
  platform::SystemClock horloge;
  // Outlives the window: continuations posted after it are dropped. The
  // network steps run beside the window, which stays responsive and
  // "Annuler" answers at once.
  PlanificateurWin32 planificateur;
  // An EndpointError reaches the guard: its message, then exit code 0.
  TFicheConfigurateurRecupDevis fiche(
      instance, window::PortsDuSysteme(boite, navigateur, horloge, planificateur), &boite);
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
void MontrerErreur(Win32MessageBox& boite, const std::string& texte) {
  try {
    boite.ShowMessage(texte);
  } catch (...) {
    report::CopyMessageToJournalAndStderr(texte);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int commande) {
  const auto debut = std::chrono::steady_clock::now();
  report::journal::Open(report::journal::DefaultPath());
  Win32MessageBox boite;
  try {
    // Split again from the UTF-16 command line, whatever the code page; an
    // unreadable one is reported by the guard below, after the first line.
    std::vector<std::string> arguments;
    std::exception_ptr illisible;
    try {
      arguments = platform::CommandLineArguments(0, nullptr);
    } catch (...) {
      illisible = std::current_exception();
    }
    window::NoterDebut(LUMIVANE_VERSION_TEXTE, arguments);
    if (illisible) std::rethrow_exception(illisible);
    Demarrer(instance, commande, boite, arguments);
  } catch (const std::exception& erreur) {
    MontrerErreur(boite, erreur.what());
  } catch (...) {
    MontrerErreur(boite, text::UserMessage(text::UserText::kUnexpectedError));
  }
  window::NoterFin(debut);
  return 0;
}
