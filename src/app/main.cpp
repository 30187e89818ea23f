#include <sys/utsname.h>
#include <unistd.h>

#include <chrono>

#include <QApplication>
#include <QCoreApplication>
#include <QString>
#include <csignal>
#include <exception>
#include <string>
#include <vector>

#include "fiche_configurateur.h"
#include "platform/browser.h"
#include "platform/clock.h"
#include "platform/endpoints.h"
#include "platform/messages.h"
#include "platform/journal.h"
#include "platform/process.h"
#include "qt_message_box.h"

namespace {

using namespace lumivane;

constexpr const char* kMessageParametres =
    "Configurateur Tessivo - Verifiez vos paramètres !\n1. Fichier temp.\n2. Fichier config.";

QtMessageHandler handler_qt_precedent = nullptr;

// Qt ends a process that cannot start its GUI (no display) with a fatal
// message and abort(); the host expects exit code 0 in every case.
void GestionnaireQt(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    platform::WriteMessageToStderr(message.toStdString());
    platform::journal::Note("fin : code 0, l'interface n'a pas pu démarrer");
    ::_exit(0);
  }
  if (handler_qt_precedent != nullptr) handler_qt_precedent(type, context, message);
}

// Steps from the command line to the end of the event loop.
void Demarrer(const std::vector<std::string>& arguments, platform::MessagePort& messages) {
  if (arguments.size() != 2) {
    messages.ShowMessage(kMessageParametres);
    return;
  }

  platform::XdgOpenBrowser browser;
  platform::SystemClock clock;
  window::Ports ports;
  ports.messages = &messages;
  ports.browser = &browser;
  ports.clock = &clock;
  // An EndpointError reaches the guard below: its message, then exit code 0.
  ports.endpoints = platform::LoadEndpoints();
  // As the system names it, bytes unchanged; empty when it cannot be found,
  // and the retrieval then says so.
  const std::string folder = platform::ExecutableFolder();
  // When that folder cannot be written (an installed module), the user's own.
  ports.pictures_folders = {folder.empty() ? std::string() : folder + "/images/",
                            platform::UserPicturesFolder()};
  ports.date_separator = platform::SystemDateSeparator();
  // The network steps on a worker thread: the window keeps painting and
  // "Annuler" answers at once.
  app::PlanificateurQt planificateur;
  ports.planificateur = &planificateur;

  app::TFicheConfigurateurRecupDevis fiche(std::move(ports));
  app::FicheConfigurateurRecupDevis = &fiche;
  fiche.setFichierTemp(arguments[0]);
  fiche.setFichierConfig(arguments[1]);
  fiche.show();
  QApplication::exec();
  app::FicheConfigurateurRecupDevis = nullptr;
}

// Shows what escaped start-up; a message that cannot be shown still reaches
// standard error.
void MontrerErreur(platform::MessagePort* messages, const std::string& text) {
  try {
    if (messages != nullptr) {
      messages->ShowMessage(text);
      return;
    }
  } catch (...) {
  }
  platform::WriteMessageToStderr(text);
}

}  // namespace

#ifndef LUMIVANE_VERSION
#define LUMIVANE_VERSION "dev"
#endif

// The run's first line in the support journal.
void NoterDebut(const std::vector<std::string>& arguments) {
  utsname system{};
  std::string systeme = "Linux";
  if (::uname(&system) == 0) {
    systeme = std::string(system.sysname) + " " + system.release + " " + system.machine;
  }
  std::string event = std::string("début : Module_Lumivane ") + LUMIVANE_VERSION +
                      " (Linux, g++ " + __VERSION__ + "), " + systeme + ", dossier " +
                      platform::ExecutableFolder() + ", " + std::to_string(arguments.size()) +
                      " arguments";
  if (arguments.size() == 2) {
    event += ", échange " + arguments[0] + ", configuration " + arguments[1];
  }
  platform::journal::Note(event);
}

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  // A host that closes its end of our standard error must not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  handler_qt_precedent = qInstallMessageHandler(GestionnaireQt);

  // The paths as the host gave them, bytes unchanged. Qt sees only the
  // program name, so that no path is ever taken for one of its options.
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  platform::journal::Open(platform::journal::DefaultPath());
  NoterDebut(arguments);

  try {
    QCoreApplication::setApplicationName(QStringLiteral("Module_Lumivane"));
    // The build's version (project() in CMakeLists.txt), not VersionModule.
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMIVANE_VERSION));
    QApplication application(qt_argc, qt_argv);
    app::QtMessageBox box;
    try {
      Demarrer(arguments, box);
    } catch (const std::exception& error) {
      MontrerErreur(&box, error.what());
    } catch (...) {
      MontrerErreur(&box, "");
    }
  } catch (const std::exception& error) {
    MontrerErreur(nullptr, error.what());
  } catch (...) {
    MontrerErreur(nullptr, "");
  }
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  platform::journal::Note("fin : code 0, " + std::to_string(ms.count()) + " ms");
  return 0;
}
