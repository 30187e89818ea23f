// lumivane-sandbox: every remote party of the module on 127.0.0.1, for the
// tests and the demo. See README.md for the endpoints and the control API.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "faults.hpp"
#include "server.hpp"

namespace {

constexpr std::string_view usage =
    "Usage : lumivane-sandbox [--port N] [--fault ENDPOINT:JSON]... [--quiet]\n"
    "\n"
    "Joue sur 127.0.0.1 le service de jetons, le configurateur, la récupération,\n"
    "le service de devis et le serveur d'images du module Lumivane.\n"
    "\n"
    "  --port N        port d'écoute (0, par défaut : un port libre)\n"
    "  --fault E:JSON  panne au démarrage, ex. quote:{\"status\":500}\n"
    "                  (E : gateway, configurator, retrieval, quote, picture)\n"
    "  --quiet         pas de journal des requêtes sur la sortie d'erreur\n"
    "  --help          cette aide\n"
    "\n"
    "Une fois prêt, écrit son adresse de base (http://127.0.0.1:PORT) seule sur\n"
    "une ligne de la sortie standard. SIGINT ou SIGTERM l'arrêtent proprement.\n";

struct Options {
  int port = 0;
  bool quiet = false;
  bool help = false;
  std::vector<lumivane::sandbox::FaultSetting> faults;
};

// Throws std::invalid_argument with a French text for a bad command line.
Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const auto value = [&]() -> std::string_view {
      if (i + 1 >= argc) throw std::invalid_argument(std::string(argument) + " attend une valeur");
      return argv[++i];
    };
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--quiet") {
      options.quiet = true;
    } else if (argument == "--port") {
      const auto text = value();
      int port = -1;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
      if (error != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535) {
        throw std::invalid_argument("--port attend un nombre de 0 à 65535");
      }
      options.port = port;
    } else if (argument == "--fault") {
      options.faults.push_back(lumivane::sandbox::parse_fault_argument(value()));
    } else {
      throw std::invalid_argument("argument inconnu : " + std::string(argument));
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    options = parse(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "lumivane-sandbox : " << error.what() << "\n\n" << usage;
    return 2;
  }
  if (options.help) {
    std::cout << usage << std::flush;
    return std::cout ? 0 : 1;
  }

  // SIGINT and SIGTERM are blocked in every thread and taken by sigwait in
  // the watcher below, which may then stop the server outside a signal handler.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  lumivane::sandbox::Sandbox sandbox(options.quiet);
  std::string base;
  try {
    base = sandbox.bind(options.port);
    for (auto& fault : options.faults) sandbox.set_fault(std::move(fault));
  } catch (const std::exception& error) {
    std::cerr << "lumivane-sandbox : " << error.what() << '\n';
    return 1;
  }

  std::atomic<bool> finished = false;
  std::thread watcher([&] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    // A signal may come before the server runs, when stop() does nothing yet.
    while (!finished) {
      sandbox.stop();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });

  std::cout << base << '\n' << std::flush;
  bool served = false;
  if (std::cout) {
    served = sandbox.listen();
  } else {
    std::cerr << "lumivane-sandbox : impossible d'écrire l'adresse sur la sortie standard\n";
  }
  finished = true;
  // Ends the watcher's wait when the server stopped on its own.
  pthread_kill(watcher.native_handle(), SIGTERM);
  watcher.join();
  if (!served) std::cerr << "lumivane-sandbox : le serveur s'est arrêté sur une erreur\n";
  return served ? 0 : 1;
}
