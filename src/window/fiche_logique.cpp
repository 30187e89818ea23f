#include "window/fiche_logique.h"

#include "text/display.h"
#include "text/encoding.h"
#include "text/user_texts.h"
#include "report/secrets.h"
#include "http/url.h"

#include <exception>
#include <utility>

#include "config/configuration.h"
#include "http/transport.h"
#include "report/journal.h"
#include "quote/pictures.h"

namespace lumivane::window {

namespace {

const char* const kConfigurateurServi = "lumivane";

}  // namespace

// Each client has its own connections and cookies.
FicheLogique::FicheLogique(VueFiche& vue, Ports ports)
    : IdHTTP1(http::WindowClientSettings()),
      IdHTTP2(http::WindowClientSettings()),
      vue_(vue),
      ports_(std::move(ports)) {
  IdHTTP1.SetCancellation(&annulation_);
  IdHTTP2.SetCancellation(&annulation_);
  vue_.DefinirVersion(std::string("Version ") + VersionModule + " du 09/06/2020");
}

FicheLogique::~FicheLogique() {
  // The network step still running stops at once; the clients it uses go
  // with this object.
  annulation_.Cancel();
  *vivante_ = false;
  if (travail_.joinable()) travail_.join();
}

void FicheLogique::Lancer(std::function<void()> travail, std::function<void()> suite) {
  // A continuation that arrives once the window is gone, or cancelled, does
  // nothing.
  const auto reprendre = [this, vivante = vivante_, suite = std::move(suite)] {
    if (*vivante && !annulation_.IsCancelled()) suite();
  };
  if (ports_.planificateur == nullptr) {
    travail();
    reprendre();
    return;
  }
  if (travail_.joinable()) travail_.join();  // the previous one has ended
  travail_ = std::thread([this, travail = std::move(travail), reprendre]() mutable {
    travail();
    ports_.planificateur->SurFenetre(std::move(reprendre));
  });
}

void FicheLogique::SurFenetre(std::function<void()> suite) {
  if (ports_.planificateur == nullptr) {
    suite();
  } else {
    ports_.planificateur->SurFenetre([this, vivante = vivante_, suite = std::move(suite)] {
      if (*vivante && !annulation_.IsCancelled()) suite();
    });
  }
}

void FicheLogique::FormActivate() {
  if (!PreparerSession()) return;
  // The window stays painted and "Annuler" answers while the gateway does.
  const gateway::TokenRequest requete = DemanderJeton();
  gateway::GatewayFields champs;
  champs.Jeton = FJeton;
  auto reponse = std::make_shared<ReponsePasserelle>();
  vue_.DefinirOccupe(true);
  passerelle_en_cours_ = true;
  Lancer(
      [this, requete, champs, reponse] {
        *reponse = InterrogerPasserelle(requete, champs);
        LancerNavigateur(*reponse);
      },
      [this, reponse] {
        vue_.DefinirOccupe(false);
        passerelle_en_cours_ = false;
        Executer([&] { OuvrirConfigurateur(RetenirPasserelle(*reponse), *reponse); });
        // A press kept meanwhile is served, unless the gateway refused (its
        // message shown, the window closing) or failed (its error shown).
        const bool servir = recuperation_en_attente_ && !reponse->erreur && reponse->resultat > 0;
        recuperation_en_attente_ = false;
        if (servir) ClicRecuperer();
      });
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
    ports_.messages->ShowMessage(text::UserMessage(text::UserText::kWrongVersion,
                                                   {FConfigurateur, VersionModule, FVersion}));
    vue_.Fermer();
    return false;
  }
  return true;
}

void FicheLogique::LancerNavigateur(ReponsePasserelle& reponse) {
  // Only a web address goes to the browser, whole: the gateway's answer must
  // not make the module open a local file or run a program.
  const std::string adresse = text::AddressForBrowser(reponse.champs.UrlConnexion);
  if (reponse.erreur || reponse.resultat <= 0 || !http::IsHttpUrl(adresse)) return;
  reponse.navigateur_lance = ports_.browser->Open(adresse);
  reponse.sortie_navigateur = ports_.browser->TakeOutput();
}

void FicheLogique::OuvrirConfigurateur(int resultat, const ReponsePasserelle& reponse) {
  if (resultat <= 0) {
    ports_.messages->ShowMessage(GetJetonEtUrlsErreurs());
    vue_.Fermer();
    return;
  }
  const std::string adresse = http::UrlForDisplay(FUrlConnexion);
  if (!reponse.sortie_navigateur.empty()) {
    // The opener's own words, for whoever supports the user: addresses in
    // it lose their query and credentials, control characters are escaped.
    report::journal::Note("navigateur : sortie « " +
                          text::WithoutQueryStrings(reponse.sortie_navigateur) + " »");
  }
  if (!reponse.navigateur_lance) {
    report::journal::Note("navigateur : adresse refusée " + adresse);
    ports_.messages->ShowMessage(text::UserMessage(text::UserText::kBrowserAddressRefused));
  } else if (!*reponse.navigateur_lance) {
    report::journal::Note("navigateur : " + adresse + " non lancé");
    const std::string a_ouvrir = text::AddressForBrowser(FUrlConnexion);
    report::KeepInMessageBox(a_ouvrir);
    ports_.messages->ShowMessage(text::UserMessage(text::UserText::kBrowserNotStarted, {a_ouvrir}));
  } else {
    report::journal::Note("navigateur : " + adresse + " lancé");
  }
}

void FicheLogique::btnDevisRecupererClick() {
  if (passerelle_en_cours_) {
    recuperation_en_attente_ = true;
    return;
  }
  if (recuperation_en_cours_) return;  // one retrieval at a time
  recuperation_en_cours_ = true;
  const result::RetrievalInputs entrees = DemanderRecuperation();
  auto reponse = std::make_shared<ReponseRecuperation>();
  vue_.ActiverRecuperer(false);
  vue_.DefinirOccupe(true);
  vue_.DefinirAvancement("Récupération du devis\u2026");
  const result::Avancement avancement = [this](const std::string& texte) {
    SurFenetre([this, texte] { vue_.DefinirAvancement(texte); });
  };
  Lancer([this, entrees, reponse, avancement] { *reponse = Recuperer(entrees, avancement); },
         [this, reponse] {
           recuperation_en_cours_ = false;
           vue_.DefinirOccupe(false);
           vue_.DefinirAvancement("");
           vue_.ActiverRecuperer(true);
           Executer([&] { TerminerRecuperation(*reponse); });
         });
}

result::RetrievalInputs FicheLogique::DemanderRecuperation() const {
  return {FUrlRecuperation, ports_.endpoints.quote_service_base, FJeton, FichierTemp(),
          &annulation_};
}

namespace {

// The pictures' messages, kept for the window's thread.
struct MessagesRetenus : report::MessagePort {
  std::vector<std::string> textes;
  void ShowMessage(const std::string& text) override { textes.push_back(text); }
};

}  // namespace

ReponseRecuperation FicheLogique::Recuperer(const result::RetrievalInputs& entrees,
                                            const result::Avancement& avancement) {
  ReponseRecuperation reponse;
  MessagesRetenus messages;
  try {
    quote::PictureDownloader pictures(ports_.pictures_folders, *ports_.clock, ports_.date_separator,
                                      messages);
    pictures.SetCancellation(&annulation_);
    reponse.issue = result::RecupererDevis(entrees, IdHTTP1, IdHTTP2, pictures, avancement);
  } catch (const std::exception& error) {
    // The downloader could not even be made: the retrieval fails rather
    // than end the worker.
    reponse.issue.kind = result::RetrievalOutcome::Kind::Failed;
    reponse.issue.message = error.what();
  } catch (...) {
    reponse.issue.kind = result::RetrievalOutcome::Kind::Failed;
    reponse.issue.message = text::UserMessage(text::UserText::kUnexpectedError);
  }
  reponse.messages = std::move(messages.textes);
  return reponse;
}

void FicheLogique::TerminerRecuperation(const ReponseRecuperation& reponse) {
  const result::RetrievalOutcome& issue = reponse.issue;
  FDevisId = issue.devis_id;
  if (issue.kind != result::RetrievalOutcome::Kind::Cancelled) {
    for (const std::string& message : reponse.messages) ports_.messages->ShowMessage(message);
  }
  if (issue.kind == result::RetrievalOutcome::Kind::Failed) {
    ports_.messages->ShowMessage(issue.message);
    if (!issue.closes_window) return;
  }
  vue_.Fermer();
}

void FicheLogique::btnAnnulerRecuperationClick() {
  report::journal::Note("\"Annuler\" : fin sans rien écrire");
  Annuler();
  vue_.Fermer();
}

bool FicheLogique::ChargerConfiguration(const std::string& path) {
  config::Configuration fields{FVersion, FConfigurateur, FIdentifiant, FMotDePasse,
                               FJetonPasserelle};
  if (config::ChargerConfiguration(path, fields, *ports_.messages)) return true;
  // Never the password; the host's quote id only as present or not, since it
  // travels to the gateway as a token would.
  report::journal::Note("configuration : Version=" + fields.Version + ", Configurateur=" +
                        fields.Configurateur + ", Identifiant=" + fields.Identifiant +
                        ", DevisId " + (fields.JetonPasserelle.empty() ? "absent" : "présent"));
  FVersion = std::move(fields.Version);
  FConfigurateur = std::move(fields.Configurateur);
  FIdentifiant = std::move(fields.Identifiant);
  FMotDePasse = std::move(fields.MotDePasse);
  FJetonPasserelle = std::move(fields.JetonPasserelle);
  return false;
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
  FErreurs = reponse.champs.Erreurs;
  if (reponse.erreur) std::rethrow_exception(reponse.erreur);
  return reponse.resultat;
}

std::string FicheLogique::GetJetonEtUrlsErreurs() const {
  return gateway::GetJetonEtUrlsErreurs(FConfigurateur, FErreurs);
}

void FicheLogique::Executer(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ports_.messages->ShowMessage(error.what());
  } catch (...) {
    ports_.messages->ShowMessage(text::UserMessage(text::UserText::kUnexpectedError));
  }
}

}  // namespace lumivane::window
