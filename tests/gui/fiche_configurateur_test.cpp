#include "fiche_configurateur.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gateway_fixture.h"
#include "process.h"
#include "temp_dir.h"

namespace lumivane::app {
namespace {

// One QApplication for the whole run, offscreen.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    application_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[32] = "fiche_configurateur_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Processes events until `done` holds or the harness's wait is over.
bool ProcessUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > lumivane::testing::kWait.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

void ProcessFor(int milliseconds) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < milliseconds) QApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Key(QWidget* target, int key, QEvent::Type type = QEvent::KeyPress) {
  QKeyEvent event(type, key, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

class FicheTest : public lumivane::testing::GatewayFixture {
 protected:
  std::unique_ptr<TFicheConfigurateurRecupDevis> Make() {
    auto fiche = std::make_unique<TFicheConfigurateurRecupDevis>(MakePorts());
    fiche->setFichierTemp(exchange_);
    fiche->setFichierConfig(config_);
    return fiche;
  }

  // Shows the window and waits until its activation has said or done something.
  void ShowAndActivate(TFicheConfigurateurRecupDevis& fiche) {
    fiche.show();
    ASSERT_TRUE(ProcessUntil([&] {
      return !messages_.shown.empty() || !browser_.opened.empty() || !fiche.isVisible();
    }));
  }
};

TEST_F(FicheTest, WindowAsBuilt) {
  auto fiche = Make();
  EXPECT_EQ(fiche->windowTitle().toStdString(), "Configurateur Lumivane");
  EXPECT_EQ(fiche->size(), QSize(351, 234));
  EXPECT_EQ(fiche->minimumSize(), fiche->maximumSize());
  const auto flags = fiche->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

  EXPECT_EQ(fiche->lblChiffrage->text().toStdString(),
            "Une fois votre chiffrage terminé veuillez : ");
  EXPECT_TRUE(fiche->lblChiffrage->font().bold());
  EXPECT_GE(fiche->lblChiffrage->width(), fiche->lblChiffrage->sizeHint().width());
  EXPECT_EQ(fiche->lblChiffrage->pos(), QPoint(22, 136));
  EXPECT_EQ(fiche->lblOu->text().toStdString(), "ou ");
  EXPECT_EQ(fiche->lblOu->pos(), QPoint(169, 175));
  EXPECT_EQ(fiche->btnDevisRecuperer->text().toStdString(), "Récupérer le devis");
  EXPECT_EQ(fiche->btnDevisRecuperer->geometry(), QRect(22, 158, 125, 50));
  EXPECT_EQ(fiche->btnAnnulerRecuperation->text().toStdString(), "Annuler");
  EXPECT_EQ(fiche->btnAnnulerRecuperation->geometry(), QRect(202, 158, 125, 50));

  EXPECT_EQ(fiche->imgLumivane->geometry(), QRect(16, 8, 320, 120));
  EXPECT_TRUE(fiche->imgLumivane->isHidden());
  // The 700 x 190 picture, scaled into the box without distortion.
  EXPECT_EQ(fiche->imgLumivane->pixmap().width(), 320);
  EXPECT_NEAR(fiche->imgLumivane->pixmap().height(), 320 * 190 / 700, 1);

  EXPECT_EQ(fiche->lblVersion->text().toStdString(), "Version 1 du 09/06/2020");
  EXPECT_EQ(fiche->lblVersion->x() + fiche->lblVersion->width(), 327);
  EXPECT_EQ(fiche->lblVersion->y(), 216);

  EXPECT_TRUE(fiche->logique().FErreurs.empty());
  EXPECT_EQ(fiche->FichierTemp(), exchange_);
  EXPECT_EQ(fiche->FichierConfig(), config_);
  EXPECT_TRUE(fiche->logique().FVersion.empty());
  EXPECT_TRUE(fiche->logique().FUrlConnexion.empty());

  // Focus on "Récupérer le devis", then Tab goes to "Annuler" and back.
  EXPECT_EQ(fiche->focusWidget(), fiche->btnDevisRecuperer);
  Key(fiche->btnDevisRecuperer, Qt::Key_Tab);
  EXPECT_EQ(fiche->focusWidget(), fiche->btnAnnulerRecuperation);
  Key(fiche->btnAnnulerRecuperation, Qt::Key_Tab);
  EXPECT_EQ(fiche->focusWidget(), fiche->btnDevisRecuperer);

  // A longer text grows to the left, the right edge stays.
  fiche->show();
  const int shortLeft = fiche->lblVersion->x();
  fiche->lblVersion->setText(QStringLiteral("Version 12 du 31/12/2099 (essai)"));
  QApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
  EXPECT_EQ(fiche->lblVersion->x() + fiche->lblVersion->width(), 327);
  EXPECT_LT(fiche->lblVersion->x(), shortLeft);
}

TEST_F(FicheTest, ActivationOpensTheConfiguratorOnceOnly) {
  auto fiche = Make();
  ShowAndActivate(*fiche);
  EXPECT_TRUE(messages_.shown.empty()) << messages_.shown.front();
  ASSERT_EQ(browser_.opened.size(), 1u);
  EXPECT_EQ(browser_.opened[0], server_.Url("/configurateur?jeton=T1"));
  EXPECT_EQ(fiche->windowTitle().toStdString(), "Brevance - Configurateur lumivane");
  EXPECT_TRUE(fiche->imgLumivane->isVisible());
  EXPECT_EQ(fiche->logique().FJeton, "T1");
  EXPECT_EQ(fiche->logique().FUrlRecuperation, server_.Url("/recuperation"));
  EXPECT_EQ(GatewayRequests(), 1);
  EXPECT_TRUE(fiche->isVisible());

  // Coming back from the browser activates the window again: nothing runs.
  QEvent activate(QEvent::WindowActivate);
  QApplication::sendEvent(fiche.get(), &activate);
  fiche->activateWindow();
  fiche->hide();
  fiche->show();
  ProcessFor(300);
  EXPECT_EQ(browser_.opened.size(), 1u);
  EXPECT_EQ(GatewayRequests(), 1);
  EXPECT_TRUE(messages_.shown.empty());
}

TEST_F(FicheTest, KeyboardAndAnnulerLeaveTheExchangeFileAlone) {
  auto fiche = Make();
  ShowAndActivate(*fiche);
  ASSERT_TRUE(fiche->isVisible());

  Key(fiche->btnDevisRecuperer, Qt::Key_Escape);
  Key(fiche.get(), Qt::Key_Escape);
  ProcessFor(50);
  EXPECT_TRUE(fiche->isVisible());

  Key(fiche->btnDevisRecuperer, Qt::Key_Tab);
  ASSERT_EQ(fiche->focusWidget(), fiche->btnAnnulerRecuperation);
  Key(fiche->btnAnnulerRecuperation, Qt::Key_Return);
  EXPECT_FALSE(fiche->isVisible());
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(lumivane::testing::ReadFile(exchange_), "<avant/>\r\n");

  // Space presses the focused button as well; the close box closes at once.
  auto second = Make();
  ShowAndActivate(*second);
  Key(second->btnAnnulerRecuperation, Qt::Key_Space);
  Key(second->btnAnnulerRecuperation, Qt::Key_Space, QEvent::KeyRelease);
  EXPECT_FALSE(second->isVisible());
  auto third = Make();
  ShowAndActivate(*third);
  EXPECT_TRUE(third->close());
  EXPECT_FALSE(third->isVisible());
  EXPECT_EQ(lumivane::testing::ReadFile(exchange_), "<avant/>\r\n");
}

TEST_F(FicheTest, QuoteServiceAnsweringNullClosesWithoutWriting) {
  auto fiche = Make();
  ShowAndActivate(*fiche);
  ASSERT_EQ(browser_.opened.size(), 1u);
  fiche->btnDevisRecuperer->click();
  EXPECT_FALSE(fiche->isVisible());
  EXPECT_EQ(fiche->logique().FDevisId, "Q7");
  // The retrieval's closing message, if it gives one, comes once.
  EXPECT_LE(messages_.shown.size(), 1u);
  // The busy cursor is gone once the network steps are over.
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(lumivane::testing::ReadFile(exchange_), "<avant/>\r\n");
}

}  // namespace
}  // namespace lumivane::app
