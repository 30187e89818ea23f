#include "window/fiche_logique.h"

#include <exception>
#include <utility>

#include "config/configuration.h"
#include "quote/pictures.h"

namespace lumivane::window {

namespace {

const char* const kConfigurateurServi = "lumivane";
const char* const kNavigateurRefuse =
    "L'adresse du configurateur a été refusée : seules les adresses http et https sont ouvertes.";
const char* const kNavigateurEnEchec =
    "Le navigateur n'a pas pu être lancé. Ouvrez cette adresse dans votre navigateur :\n";

// The busy cursor for the length of a network step, whatever way it ends.
class Occupe {
 public:
  explicit Occupe(VueFiche& vue) : vue_(vue) { vue_.DefinirOccupe(true); }
  ~Occupe() { vue_.DefinirOccupe(false); }
  Occupe(const Occupe&) = delete;
  Occupe& operator=(const Occupe&) = delete;

 private:
  VueFiche& vue_;
};

}  // namespace

FicheLogique::FicheLogique(VueFiche& vue, Ports ports)
    : IdHTTP1(platform::WindowClientSettings()),
      IdHTTP2(platform::WindowClientSettings()),
      vue_(vue),
      ports_(std::move(ports)) {
  vue_.DefinirVersion(std::string("Version ") + VersionModule + " du 09/06/2020");
  FormCreate();
}

FicheLogique::~FicheLogique() { FormDestroy(); }

void FicheLogique::FormCreate() { FErreurs = std::make_unique<std::vector<std::string>>(); }

void FicheLogique::FormDestroy() { FErreurs.reset(); }

void FicheLogique::FormActivate() {
  if (!PreparerSession()) return;
  OuvrirConfigurateur(GetJetonEtUrls());
}

bool FicheLogique::PreparerSession() {
  if (ChargerConfiguration(FichierConfig())) {
    vue_.Fermer();
    return false;
  }

  if (FConfigurateur == kConfigurateurServi) {
    vue_.DefinirTitre("Brevance - Configurateur " + FConfigurateur);
    vue_.MontrerImage();
  }

  if (FVersion != VersionModule) {
    ports_.messages->ShowMessage("Votre Configurateur " + FConfigurateur + " est en Version " +
                                 VersionModule + " et devrait être en Version " + FVersion + ".");
    vue_.Fermer();
    return false;
  }
  return true;
}

void FicheLogique::OuvrirConfigurateur(int resultat) {
  if (resultat <= 0) {
    ports_.messages->ShowMessage(GetJetonEtUrlsErreurs());
    vue_.Fermer();
    return;
  }
  // Only a web address goes to the browser: the gateway's answer must not
  // make the module open a local file or run a program.
  if (!platform::IsHttpUrl(FUrlConnexion)) {
    ports_.messages->ShowMessage(kNavigateurRefuse);
  } else if (!ports_.browser->Open(FUrlConnexion)) {
    ports_.messages->ShowMessage(kNavigateurEnEchec + FUrlConnexion);
  }
}

void FicheLogique::btnDevisRecupererClick() {
  const result::RetrievalInputs entrees = DemanderRecuperation();
  ReponseRecuperation reponse;
  {
    const Occupe occupe(vue_);
    reponse = Recuperer(entrees);
  }
  TerminerRecuperation(reponse);
}

result::RetrievalInputs FicheLogique::DemanderRecuperation() const {
  return {FUrlRecuperation, ports_.endpoints.quote_service_base, FJeton, FichierTemp()};
}

ReponseRecuperation FicheLogique::Recuperer(const result::RetrievalInputs& entrees) {
  ReponseRecuperation reponse;
  try {
    quote::PictureDownloader pictures(ports_.pictures_folders, *ports_.clock,
                                      ports_.date_separator, *ports_.messages);
    reponse.issue = result::RecupererDevis(entrees, IdHTTP1, IdHTTP2, pictures, reponse.devis_id);
  } catch (...) {
    reponse.erreur = std::current_exception();
  }
  return reponse;
}

void FicheLogique::TerminerRecuperation(const ReponseRecuperation& reponse) {
  FDevisId = reponse.devis_id;
  if (reponse.erreur) std::rethrow_exception(reponse.erreur);
  if (reponse.issue.kind == result::RetrievalOutcome::Kind::ClosedWithMessage) {
    ports_.messages->ShowMessage(reponse.issue.message);
  }
  vue_.Fermer();
}

void FicheLogique::btnAnnulerRecuperationClick() { vue_.Fermer(); }

bool FicheLogique::ChargerConfiguration(const std::string& path) {
  config::Configuration fields{FVersion, FConfigurateur, FIdentifiant, FMotDePasse,
                               FJetonPasserelle};
  if (config::ChargerConfiguration(path, fields, *ports_.messages)) return true;
  FVersion = std::move(fields.Version);
  FConfigurateur = std::move(fields.Configurateur);
  FIdentifiant = std::move(fields.Identifiant);
  FMotDePasse = std::move(fields.MotDePasse);
  FJetonPasserelle = std::move(fields.JetonPasserelle);
  return false;
}

int FicheLogique::GetJetonEtUrls() {
  const gateway::TokenRequest requete = DemanderJeton();
  gateway::GatewayFields champs;
  champs.Jeton = FJeton;
  ReponsePasserelle reponse;
  {
    const Occupe occupe(vue_);
    reponse = InterrogerPasserelle(requete, std::move(champs));
  }
  return RetenirPasserelle(reponse);
}

gateway::TokenRequest FicheLogique::DemanderJeton() {
  FUrlConnexion.clear();
  FUrlRecuperation.clear();
  return {FIdentifiant, FMotDePasse, FConfigurateur, FJetonPasserelle};
}

ReponsePasserelle FicheLogique::InterrogerPasserelle(const gateway::TokenRequest& requete,
                                                     gateway::GatewayFields champs) {
  ReponsePasserelle reponse;
  reponse.champs = std::move(champs);
  try {
    reponse.resultat =
        gateway::GetJetonEtUrls(IdHTTP1, ports_.endpoints.gateway_base, requete, reponse.champs);
  } catch (...) {
    // A failed request leaves no URL behind.
    reponse.champs.UrlConnexion.clear();
    reponse.champs.UrlRecuperation.clear();
    reponse.erreur = std::current_exception();
  }
  return reponse;
}

int FicheLogique::RetenirPasserelle(const ReponsePasserelle& reponse) {
  FJeton = reponse.champs.Jeton;
  FUrlConnexion = reponse.champs.UrlConnexion;
  FUrlRecuperation = reponse.champs.UrlRecuperation;
  if (!FErreurs) FErreurs = std::make_unique<std::vector<std::string>>();
  *FErreurs = reponse.champs.Erreurs;
  if (reponse.erreur) std::rethrow_exception(reponse.erreur);
  return reponse.resultat;
}

std::string FicheLogique::GetJetonEtUrlsErreurs() const {
  return gateway::GetJetonEtUrlsErreurs(FConfigurateur,
                                        FErreurs ? *FErreurs : std::vector<std::string>{});
}

void FicheLogique::Executer(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ports_.messages->ShowMessage(error.what());
  } catch (...) {
    ports_.messages->ShowMessage("");
  }
}

}  // namespace lumivane::window
