#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gateway/gateway.h"
#include "platform/browser.h"
#include "platform/clock.h"
#include "http/endpoints.h"
#include "http/transport.h"
#include "report/messages.h"
#include "quote/pictures.h"
#include "result/retrieval.h"

namespace lumivane::window {

// The module's version, shown in lblVersion and compared with the
// configuration file's General/Version.
inline constexpr const char* VersionModule = "1";

// Brings work back to the window's thread. Each shell posts to its own event
// loop; a continuation posted once the window is gone is dropped.
class Planificateur {
 public:
  virtual ~Planificateur() = default;
  // Runs `suite` later on the window's thread; callable from any thread.
  virtual void SurFenetre(std::function<void()> suite) = 0;
};

// Everything the window reaches outside itself; tests swap each part.
struct Ports {
  report::MessagePort* messages = nullptr;
  platform::BrowserPort* browser = nullptr;
  platform::Clock* clock = nullptr;
  http::Endpoints endpoints;
  // Where pictures go, in order of preference: "<folder of the executable>/images/",
  // then the user's own pictures folder.
  std::vector<std::string> pictures_folders;
  std::string date_separator = "/";
  // Where the network steps run: on a worker thread whose results come back
  // through it; without one (tests), in the handler itself.
  Planificateur* planificateur = nullptr;
};

// What the window's behaviour asks of the window on screen. Messages go
// through Ports::messages.
class VueFiche {
 public:
  virtual ~VueFiche() = default;
  virtual void DefinirTitre(const std::string& titre) = 0;
  // Makes imgLumivane visible.
  virtual void MontrerImage() = 0;
  // The text of lblVersion, which keeps its right edge.
  virtual void DefinirVersion(const std::string& texte) = 0;
  // Busy cursor over the application while a network step runs.
  virtual void DefinirOccupe(bool occupe) = 0;
  // Asks the window to close; it closes once the running handler has
  // returned, and with it the module.
  virtual void Fermer() = 0;
  // The progress of a retrieval under way ("Images : 12 / 50"); an empty
  // text hides it.
  virtual void DefinirAvancement(const std::string& /*texte*/) {}
  // "Récupérer le devis" pressable or not: one retrieval at a time.
  virtual void ActiverRecuperer(bool /*actif*/) {}
};

// What the gateway step brings back from the network.
struct ReponsePasserelle {
  int resultat = 0;
  gateway::GatewayFields champs;
  std::exception_ptr erreur;  // set when the request or its answer failed
  // The browser, started beside the window once the gateway has answered:
  // nothing when it was not tried (no answer, or an address refused).
  std::optional<bool> navigateur_lance;
  std::string sortie_navigateur;  // what the system's opener wrote
};

// What one retrieval brings back from beside the window, where all of it
// runs, the disk's part too: its outcome and the messages its pictures gave
// on the way (shown in order on the window's thread).
struct ReponseRecuperation {
  result::RetrievalOutcome issue;
  std::vector<std::string> messages;
};

// The window's fields, handlers and activation sequence, free of any toolkit.
//
// Each handler is cut into steps: the steps that read and write the fields and
// talk to the user run where the handlers run; the network steps
// (InterrogerPasserelle, Recuperer) touch only their arguments and the HTTP
// clients, so that they can run elsewhere while the window stays responsive.
class FicheLogique {
 public:
  // Sets lblVersion's text. `vue` must outlive the object.
  FicheLogique(VueFiche& vue, Ports ports);
  ~FicheLogique();
  FicheLogique(const FicheLogique&) = delete;
  FicheLogique& operator=(const FicheLogique&) = delete;

  std::string FichierTemp() const { return FFichierTemp; }
  void setFichierTemp(const std::string& value) { FFichierTemp = value; }
  std::string FichierConfig() const { return FFichierConfig; }
  void setFichierConfig(const std::string& value) { FFichierConfig = value; }

  // The window's events, each run under Executer.
  void Activer() {
    Executer([this] { FormActivate(); });
  }
  void ClicRecuperer() {
    Executer([this] { btnDevisRecupererClick(); });
  }
  void ClicAnnuler() {
    Executer([this] { btnAnnulerRecuperationClick(); });
  }

  // Handlers.
  void FormActivate();
  void btnDevisRecupererClick();
  void btnAnnulerRecuperationClick();

  bool ChargerConfiguration(const std::string& path);
  std::string GetJetonEtUrlsErreurs() const;

  // Runs a handler the way the event loop does: an exception that escapes it
  // is shown with its text, and the window stays open.
  void Executer(const std::function<void()>& handler);

  // Steps of FormActivate.
  // Configuration, caption and picture, version. False when the sequence
  // ends here (message shown, window closing).
  bool PreparerSession();
  // Empties both URLs and gives the gateway request of the current fields.
  gateway::TokenRequest DemanderJeton();
  // The gateway request; `champs` starts from the token held so far.
  ReponsePasserelle InterrogerPasserelle(const gateway::TokenRequest& requete,
                                         gateway::GatewayFields champs);
  // Keeps the answer in the fields; rethrows the request's error.
  int RetenirPasserelle(const ReponsePasserelle& reponse);
  // Beside the window, after the gateway: opens the browser on the
  // connection address when the gateway answered with one and it is a web
  // address, and keeps in `reponse` whether it opened and what it said.
  void LancerNavigateur(ReponsePasserelle& reponse);
  // On the window's thread: reports a refused gateway and closes, or tells
  // the user when the browser was refused or did not start.
  void OuvrirConfigurateur(int resultat, const ReponsePasserelle& reponse);

  // Steps of btnDevisRecupererClick.
  result::RetrievalInputs DemanderRecuperation() const;
  // The whole retrieval, up to the exchange file in place; `avancement` is
  // called from where it runs.
  ReponseRecuperation Recuperer(const result::RetrievalInputs& entrees,
                                const result::Avancement& avancement = {});
  // Shows the outcome: keeps the quote id, shows the pictures' messages, then
  // the failure's message if any; closes unless the failure leaves the
  // window open. A cancelled retrieval shows nothing and closes.
  void TerminerRecuperation(const ReponseRecuperation& reponse);

  // "Annuler" and the close box, whatever is on screen: the step under way
  // stops (within half a second), leaving the exchange file and the pictures
  // folder as they were, unless the exchange file is already in place.
  void Annuler() { annulation_.Cancel(); }
  bool Annulee() const { return annulation_.IsCancelled(); }

  // Fields, in the order of the window's description.
  std::string FFichierConfig;
  std::string FFichierTemp;
  std::string FVersion;
  std::string FConfigurateur;
  std::string FIdentifiant;
  std::string FMotDePasse;
  std::string FJetonPasserelle;
  std::string FDevisId;
  std::string FJeton;
  std::string FUrlConnexion;
  std::string FUrlRecuperation;
  std::vector<std::string> FErreurs;

  http::HttpClient IdHTTP1;
  http::HttpClient IdHTTP2;

 private:
  // Runs `travail` where network steps run, then `suite` on the window's
  // thread (unless the window was cancelled meanwhile).
  void Lancer(std::function<void()> travail, std::function<void()> suite);
  // Runs `suite` on the window's thread, from the worker.
  void SurFenetre(std::function<void()> suite);

  VueFiche& vue_;
  Ports ports_;
  base::CancellationToken annulation_;
  bool recuperation_en_cours_ = false;
  // "Récupérer le devis" pressed while the gateway still answers (the browser
  // may show the configurator before the module has the answer): the press
  // is kept, and served once the answer is in the fields.
  bool passerelle_en_cours_ = false;
  bool recuperation_en_attente_ = false;
  // Read and written on the window's thread only.
  std::shared_ptr<bool> vivante_ = std::make_shared<bool>(true);
  // Declared last: joined first when the window goes.
  std::thread travail_;
};

}  // namespace lumivane::window
