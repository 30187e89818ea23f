#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway/gateway.h"
#include "platform/browser.h"
#include "platform/clock.h"
#include "platform/endpoints.h"
#include "platform/http_client.h"
#include "platform/messages.h"
#include "result/retrieval.h"

namespace lumivane::window {

// The module's version, shown in lblVersion and compared with the
// configuration file's General/Version.
inline constexpr const char* VersionModule = "1";

// Everything the window reaches outside itself; tests swap each part.
struct Ports {
  platform::MessagePort* messages = nullptr;
  platform::BrowserPort* browser = nullptr;
  platform::Clock* clock = nullptr;
  platform::Endpoints endpoints;
  // Where pictures go, in order of preference: "<folder of the executable>/images/",
  // then the user's own pictures folder.
  std::vector<std::string> pictures_folders;
  std::string date_separator = "/";
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
};

// What the gateway step brings back from the network.
struct ReponsePasserelle {
  int resultat = 0;
  gateway::GatewayFields champs;
  std::exception_ptr erreur;  // set when the request or its answer failed
};

// What one retrieval brings back from the network and the disk.
struct ReponseRecuperation {
  result::RetrievalOutcome issue;
  std::string devis_id;  // known as soon as the retrieval document was read
  std::exception_ptr erreur;
};

// The window's fields, handlers and activation sequence, free of any toolkit.
//
// Each handler is cut into steps: the steps that read and write the fields and
// talk to the user run where the handlers run; the network steps
// (InterrogerPasserelle, Recuperer) touch only their arguments and the HTTP
// clients, so that they can run elsewhere while the window stays responsive.
class FicheLogique {
 public:
  // Sets lblVersion's text and runs FormCreate. `vue` must outlive the object.
  FicheLogique(VueFiche& vue, Ports ports);
  ~FicheLogique();
  FicheLogique(const FicheLogique&) = delete;
  FicheLogique& operator=(const FicheLogique&) = delete;

  std::string FichierTemp() const { return FFichierTemp; }
  void setFichierTemp(const std::string& value) { FFichierTemp = value; }
  std::string FichierConfig() const { return FFichierConfig; }
  void setFichierConfig(const std::string& value) { FFichierConfig = value; }

  // The window's events, each run under Executer.
  void Activer() { Executer([this] { FormActivate(); }); }
  void ClicRecuperer() { Executer([this] { btnDevisRecupererClick(); }); }
  void ClicAnnuler() { Executer([this] { btnAnnulerRecuperationClick(); }); }

  // Handlers.
  void FormCreate();
  void FormDestroy();
  void FormActivate();
  void btnDevisRecupererClick();
  void btnAnnulerRecuperationClick();

  bool ChargerConfiguration(const std::string& path);
  int GetJetonEtUrls();
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
  // Opens the configurator in the browser, or reports a refused gateway and
  // closes.
  void OuvrirConfigurateur(int resultat);

  // Steps of btnDevisRecupererClick.
  result::RetrievalInputs DemanderRecuperation() const;
  ReponseRecuperation Recuperer(const result::RetrievalInputs& entrees);
  // Keeps the quote id, rethrows the retrieval's error, or shows the closing
  // message if any and closes.
  void TerminerRecuperation(const ReponseRecuperation& reponse);

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
  std::unique_ptr<std::vector<std::string>> FErreurs;

  platform::HttpClient IdHTTP1;
  platform::HttpClient IdHTTP2;

 private:
  VueFiche& vue_;
  Ports ports_;
};

}  // namespace lumivane::window
