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
#include "report/messages.h"
#include "report/journal.h"
#include "report/standard_error.h"
#include "platform/process.h"
#include "qt_message_box.h"
#include "text/user_texts.h"
#include "window/demarrage.h"

namespace {

using namespace lumivane;

// Qt ends a process that cannot start its GUI (no display) with a fatal
// message and abort(); the host expects exit code 0 in every case. Its other
// warnings go to standard error the module's way, never waiting for the host.
void GestionnaireQt(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    report::CopyMessageToJournalAndStderr(message.toStdString());
    window::NoterFin(std::chrono::steady_clock::now(), "l'interface n'a pas pu démarrer");
    ::_exit(0);
  }
  report::QueueForStandardError(qFormatLogMessage(type, context, message).toStdString());
}

// Steps from the command line to the end of the event loop.
void Demarrer(const std::vector<std::string>& arguments, report::MessagePort& messages) {
  if (arguments.size() != 2) {
    messages.ShowMessage(text::UserMessage(text::UserText::kWrongArguments));
    return;
  }
  platform::XdgOpenBrowser browser;
  platform::SystemClock clock;
  // The network steps on a worker thread: the window keeps painting and
  // "Annuler" answers at once.
  app::PlanificateurQt planificateur;
  // An EndpointError reaches the guard below: its message, then exit code 0.
  app::TFicheConfigurateurRecupDevis fiche(
      window::PortsDuSysteme(messages, browser, clock, planificateur));
  fiche.setFichierTemp(arguments[0]);
  fiche.setFichierConfig(arguments[1]);
  fiche.show();
  QApplication::exec();
}

// Shows what escaped start-up; a message that cannot be shown still reaches
// standard error.
void MontrerErreur(report::MessagePort* messages, const std::string& text) {
  try {
    if (messages != nullptr) {
      messages->ShowMessage(text);
      return;
    }
  } catch (...) {
  }
  report::CopyMessageToJournalAndStderr(text);
}

}  // namespace

#ifndef LUMIVANE_VERSION
#define LUMIVANE_VERSION "dev"
#endif

int main(int argc, char** argv) {
  const auto start = std::chrono::steady_clock::now();
  // A host that closes its end of our standard error must not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  qInstallMessageHandler(GestionnaireQt);

  // The paths as the host gave them, bytes unchanged. Qt sees only the
  // program name, so that no path is ever taken for one of its options.
  const std::vector<std::string> arguments = platform::CommandLineArguments(argc, argv);
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  report::journal::Open(report::journal::DefaultPath());
  window::NoterDebut(LUMIVANE_VERSION, arguments);

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
      MontrerErreur(&box, text::UserMessage(text::UserText::kUnexpectedError));
    }
  } catch (const std::exception& error) {
    MontrerErreur(nullptr, error.what());
  } catch (...) {
    MontrerErreur(nullptr, text::UserMessage(text::UserText::kUnexpectedError));
  }
  window::NoterFin(start);
  return 0;
}
