#include "window/fiche_logique.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "gateway_fixture.h"
#include "temp_dir.h"
#include "window/declencheur_activation.h"
#include "window/disposition.h"

namespace lumivane::window {
namespace {

using lumivane::testing::ReadFile;

// What the behaviour asked of the screen.
class RecorderVue : public VueFiche {
 public:
  void DefinirTitre(const std::string& t) override { titre = t; }
  void MontrerImage() override { image = true; }
  void DefinirVersion(const std::string& texte) override { version = texte; }
  void DefinirOccupe(bool occupe) override { occupations.push_back(occupe); }
  void Fermer() override { ++fermetures; }

  std::string titre = "Configurateur Lumivane";
  bool image = false;
  std::string version;
  std::vector<bool> occupations;
  int fermetures = 0;
};

class FicheLogiqueTest : public lumivane::testing::GatewayFixture {
 protected:
  std::unique_ptr<FicheLogique> Make(Planificateur* planificateur = nullptr) {
    Ports ports = MakePorts();
    ports.planificateur = planificateur;
    auto fiche = std::make_unique<FicheLogique>(vue_, std::move(ports));
    fiche->setFichierTemp(exchange_);
    fiche->setFichierConfig(config_);
    return fiche;
  }

  RecorderVue vue_;
};

TEST_F(FicheLogiqueTest, CreatedWithItsVersionAndClosedByAnnuler) {
  auto fiche = Make();
  EXPECT_EQ(vue_.version, "Version 1 du 09/06/2020");
  EXPECT_TRUE(fiche->FErreurs.empty());
  EXPECT_TRUE(fiche->FVersion.empty());
  EXPECT_TRUE(fiche->FJeton.empty());
  EXPECT_EQ(fiche->FichierTemp(), exchange_);
  EXPECT_EQ(fiche->FichierConfig(), config_);

  fiche->ClicAnnuler();
  EXPECT_EQ(vue_.fermetures, 1);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(ReadFile(exchange_), "<avant/>\r\n");
  EXPECT_EQ(GatewayRequests(), 0);
}

TEST(DeclencheurActivationTest, RunsOnceAfterTheFirstPaint) {
  DeclencheurActivation declencheur;
  EXPECT_FALSE(declencheur.Planifier());  // a paint before the window was shown
  EXPECT_FALSE(declencheur.Lancer());
  EXPECT_TRUE(declencheur.Montree());
  EXPECT_FALSE(declencheur.Montree());    // shown again: no second fallback timer
  EXPECT_FALSE(declencheur.Lancer());     // nothing planned yet
  EXPECT_TRUE(declencheur.Planifier());   // first paint
  EXPECT_FALSE(declencheur.Planifier());  // later paints, or the fallback timer
  EXPECT_TRUE(declencheur.Lancer());
  EXPECT_FALSE(declencheur.Lancer());
  EXPECT_FALSE(declencheur.Planifier());
}

TEST(DispositionTest, PlacesAtEveryResolution) {
  namespace d = disposition;
  EXPECT_EQ(AEchelle(d::kClientLargeur, 96), 351);
  EXPECT_EQ(AEchelle(d::kClientLargeur, 144), 527);
  EXPECT_EQ(AEchelle(d::kClientHauteur, 144), 351);
  EXPECT_EQ(AEchelle(d::btnAnnulerRecuperation, 144), (Rect{303, 237, 188, 75}));

  // The 700 x 190 picture fills the box's width and is centred in its height.
  EXPECT_EQ(ImageAjustee(d::imgLumivane, 700, 190), (Rect{16, 24, 320, 87}));
  EXPECT_EQ(ImageAjustee(AEchelle(d::imgLumivane, 144), 700, 190), (Rect{24, 37, 480, 130}));
  // A tall one fills the height and is centred in the width; none is lost.
  EXPECT_EQ(ImageAjustee(d::imgLumivane, 100, 400), (Rect{161, 8, 30, 120}));
  EXPECT_EQ(ImageAjustee(d::imgLumivane, 0, 0).largeur, 1);

  // lblVersion keeps its right edge at 327 whatever its text; captions are
  // never cut.
  EXPECT_EQ(AncreADroite(d::lblVersion, 120), (Rect{207, 216, 120, 13}));
  EXPECT_EQ(AncreADroite(d::lblVersion, 20).droite(), 327);
  EXPECT_EQ(SansCoupure(d::lblOu, 10), d::lblOu);
  EXPECT_EQ(SansCoupure(d::lblOu, 20), (Rect{169, 175, 20, 13}));
}

TEST_F(FicheLogiqueTest, SessionOpensTheConfigurator) {
  auto fiche = Make();
  fiche->Activer();
  EXPECT_TRUE(messages_.shown.empty()) << messages_.shown.front();
  ASSERT_EQ(browser_.opened.size(), 1u);
  EXPECT_EQ(browser_.opened[0], server_.Url("/configurateur?jeton=T1"));
  EXPECT_EQ(vue_.titre, "Brevance - Configurateur lumivane");
  EXPECT_TRUE(vue_.image);
  EXPECT_EQ(fiche->FJeton, "T1");
  EXPECT_EQ(fiche->FUrlRecuperation, server_.Url("/recuperation"));
  EXPECT_EQ(vue_.occupations, (std::vector<bool>{true, false}));
  EXPECT_EQ(vue_.fermetures, 0);

  // The behaviour keeps no once-only flag: each activation asks again.
  fiche->Activer();
  EXPECT_EQ(GatewayRequests(), 2);
  EXPECT_EQ(browser_.opened.size(), 2u);
}

TEST_F(FicheLogiqueTest, MissingConfigurationClosesWithItsMessage) {
  config_ = (dir_.Path() / "absent.ini").string();
  auto fiche = Make();
  fiche->Activer();
  EXPECT_EQ(vue_.fermetures, 1);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], "Le configurateur Lumivane n'est pas configuré. Le fichier : " +
                                    config_ + " n'existe pas.");
  EXPECT_EQ(GatewayRequests(), 0);
  EXPECT_TRUE(browser_.opened.empty());
  EXPECT_TRUE(vue_.occupations.empty());
}

TEST_F(FicheLogiqueTest, OtherVersionClosesWithItsMessage) {
  // A name that differs in letter case only: caption and picture unchanged.
  WriteConfig("2", "Lumivane");
  auto fiche = Make();
  fiche->Activer();
  EXPECT_EQ(vue_.fermetures, 1);
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            "Votre Configurateur Lumivane est en Version 1 et devrait être en Version 2.");
  EXPECT_EQ(vue_.titre, "Configurateur Lumivane");
  EXPECT_FALSE(vue_.image);
  EXPECT_EQ(GatewayRequests(), 0);
  EXPECT_TRUE(browser_.opened.empty());
}

TEST_F(FicheLogiqueTest, RefusedGatewayClosesWithItsReport) {
  gateway_refuses_ = true;
  auto fiche = Make();
  fiche->Activer();
  EXPECT_EQ(vue_.fermetures, 1);
  ASSERT_EQ(messages_.shown.size(), 1u);
  // The heading, then the gateway's lines.
  const std::string heading = "Configurateur lumivane : GetJetonEtUrlsErreurs \n";
  EXPECT_TRUE(messages_.shown[0].starts_with(heading)) << messages_.shown[0];
  EXPECT_GT(messages_.shown[0].size(), heading.size());
  EXPECT_FALSE(fiche->FErreurs.empty());
  EXPECT_TRUE(browser_.opened.empty());
}

TEST_F(FicheLogiqueTest, FailedGatewayIsShownAndTheWindowStays) {
  gateway_fails_ = true;
  auto fiche = Make();
  fiche->FJeton = "ancien";
  fiche->FUrlConnexion = "https://ancienne.example/";
  fiche->Activer();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_FALSE(messages_.shown[0].empty());
  EXPECT_TRUE(fiche->FUrlConnexion.empty());
  EXPECT_TRUE(fiche->FUrlRecuperation.empty());
  EXPECT_EQ(fiche->FJeton, "ancien");
  EXPECT_TRUE(browser_.opened.empty());
  EXPECT_EQ(vue_.occupations, (std::vector<bool>{true, false}));
  EXPECT_EQ(vue_.fermetures, 0);

  // "Récupérer le devis" without a retrieval URL fails the same way.
  fiche->ClicRecuperer();
  EXPECT_EQ(messages_.shown.size(), 2u);
  EXPECT_EQ(vue_.occupations.size(), 4u);
  EXPECT_FALSE(vue_.occupations.back());
  EXPECT_EQ(vue_.fermetures, 0);
  EXPECT_EQ(ReadFile(exchange_), "<avant/>\r\n");
}

TEST_F(FicheLogiqueTest, OnlyWebAddressesReachTheBrowser) {
  for (const std::string url : {"file:///etc/passwd", "javascript:alert(1)", "/usr/bin/xterm"}) {
    SCOPED_TRACE(url);
    SetConnexion(url);
    messages_.shown.clear();
    auto fiche = Make();
    fiche->Activer();
    EXPECT_TRUE(browser_.opened.empty());
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0],
              "L'adresse du configurateur a été refusée : seules les adresses http et https sont "
              "ouvertes.");
  }

  // A browser that cannot start: the address is given to the user.
  const auto connexion = server_.Url("/configurateur?jeton=T1");
  SetConnexion(connexion);
  messages_.shown.clear();
  browser_.starts = false;
  auto fiche = Make();
  fiche->Activer();
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            "Le navigateur n'a pas pu être lancé. Ouvrez cette adresse dans votre navigateur :\n" +
                connexion);
  EXPECT_EQ(vue_.fermetures, 0);
}

TEST_F(FicheLogiqueTest, RetrievalEndsByClosingUnlessItFails) {
  // The quote service answers "null": closed, nothing written.
  auto fiche = Make();
  fiche->Activer();
  ASSERT_EQ(browser_.opened.size(), 1u);
  fiche->ClicRecuperer();
  EXPECT_EQ(vue_.fermetures, 1);
  EXPECT_EQ(fiche->FDevisId, "Q7");
  EXPECT_LE(messages_.shown.size(), 1u);  // the closing message, if it gives one, comes once
  EXPECT_EQ(vue_.occupations, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(ReadFile(exchange_), "<avant/>\r\n");

  // The closing step alone: a closing failure shows the pictures' messages,
  // then its own once, and closes...
  using Kind = lumivane::result::RetrievalOutcome::Kind;
  messages_.shown.clear();
  ReponseRecuperation fermee;
  fermee.issue = {Kind::Failed, "Erreur lumivane : rien", true, "Q8"};
  fermee.messages = {"Une erreur est survenue lors du téléchargement de l'image"};
  fiche->TerminerRecuperation(fermee);
  EXPECT_EQ(vue_.fermetures, 2);
  EXPECT_EQ(messages_.shown,
            (std::vector<std::string>{"Une erreur est survenue lors du téléchargement de l'image",
                                      "Erreur lumivane : rien"}));
  EXPECT_EQ(fiche->FDevisId, "Q8");
  messages_.shown.clear();

  // ...a failure that leaves the window open keeps the quote id already
  // read and shows its message...
  ReponseRecuperation echouee;
  echouee.issue = {Kind::Failed, "Fichier illisible", false, "Q9"};
  fiche->TerminerRecuperation(echouee);
  EXPECT_EQ(fiche->FDevisId, "Q9");
  EXPECT_EQ(messages_.shown, (std::vector<std::string>{"Fichier illisible"}));
  EXPECT_EQ(vue_.fermetures, 2);
  messages_.shown.clear();

  // ...a written one closes without a word of its own...
  ReponseRecuperation ecrite;
  ecrite.issue = {Kind::Written, "", false, "Q10"};
  fiche->TerminerRecuperation(ecrite);
  EXPECT_EQ(fiche->FDevisId, "Q10");
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(vue_.fermetures, 3);

  // ...and a cancelled one shows nothing, not even the pictures' messages.
  ReponseRecuperation annulee;
  annulee.issue = {Kind::Cancelled, "", false, "Q11"};
  annulee.messages = {"Une erreur est survenue lors du téléchargement de l'image"};
  fiche->TerminerRecuperation(annulee);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(vue_.fermetures, 4);
}

// Continuations kept until the test runs them, as an event loop does.
class QueuedPlanificateur : public Planificateur {
 public:
  void SurFenetre(std::function<void()> suite) override {
    std::lock_guard lock(mutex_);
    suites_.push_back(std::move(suite));
  }
  // Runs the next continuation once one is there; false after 10 s without.
  bool RunNext() {
    for (int i = 0; i < 1000; ++i) {
      std::function<void()> suite;
      {
        std::lock_guard lock(mutex_);
        if (!suites_.empty()) {
          suite = std::move(suites_.front());
          suites_.erase(suites_.begin());
        }
      }
      if (suite) {
        suite();
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  std::mutex mutex_;
  std::vector<std::function<void()>> suites_;
};

// The browser shows the configurator before the module has the gateway's
// answer in its fields: "Récupérer le devis" pressed then is served once the
// answer is there, never refused for want of an address.
TEST_F(FicheLogiqueTest, APressWhileTheGatewayAnswersIsServedAfterIt) {
  QueuedPlanificateur planificateur;
  const auto made = Make(&planificateur);
  FicheLogique& fiche = *made;
  fiche.Activer();
  fiche.ClicRecuperer();
  ASSERT_TRUE(planificateur.RunNext());  // the gateway's answer, then the press
  EXPECT_EQ(fiche.FUrlRecuperation, server_.Url("/recuperation"));
  while (vue_.fermetures == 0 && planificateur.RunNext()) {
  }  // the retrieval's progress, then its outcome
  EXPECT_EQ(fiche.FDevisId, "Q7");
  EXPECT_EQ(messages_.shown.size(), 1u);  // the quote service's "null", not a missing address
  EXPECT_EQ(vue_.fermetures, 1);
}

}  // namespace
}  // namespace lumivane::window
