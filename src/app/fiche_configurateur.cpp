#include "fiche_configurateur.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QRect>
#include <QScreen>
#include <QShowEvent>
#include <QString>
#include <QTimer>
#include <utility>

#include "window/disposition.h"

// The picture lives in a static library: its resources are registered by
// hand (outside any namespace, as Qt requires).
static void EnregistrerRessources() { Q_INIT_RESOURCE(resources); }

namespace lumivane::app {

namespace {

namespace disposition = window::disposition;

QRect Q(const window::Rect& r) { return {r.gauche, r.haut, r.largeur, r.hauteur}; }

QLabel* Label(QWidget* parent, const char* text, const window::Rect& place) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(Q(place));
  label->setTextFormat(Qt::PlainText);
  return label;
}

// Captions are never cut: where the font that stands in for the described one
// is wider, the label grows to the right, as a self-sizing label does.
void NeverCut(QLabel* label, const window::Rect& place) {
  label->setGeometry(Q(window::SansCoupure(place, label->sizeHint().width())));
}

QPushButton* Button(QWidget* parent, const char* text, const window::Rect& place) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setGeometry(Q(place));
  // Enter presses the focused button; a plain widget has no default button.
  button->setAutoDefault(true);
  return button;
}

}  // namespace

TFicheConfigurateurRecupDevis::TFicheConfigurateurRecupDevis(window::Ports ports, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  EnregistrerRessources();

  setWindowTitle(QStringLiteral("Configurateur Lumivane"));
  setFixedSize(disposition::kClientLargeur, disposition::kClientHauteur);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);
  setFont(QFont(QStringLiteral("Tahoma"), disposition::kPointsPolice));

  lblChiffrage =
      Label(this, "Une fois votre chiffrage terminé veuillez : ", disposition::lblChiffrage);
  lblChiffrage->setFont(
      QFont(QStringLiteral("MS Sans Serif"), disposition::kPointsPolice, QFont::Bold));
  lblOu = Label(this, "ou ", disposition::lblOu);
  NeverCut(lblChiffrage, disposition::lblChiffrage);
  NeverCut(lblOu, disposition::lblOu);
  lblVersion = Label(this, "Version ", disposition::lblVersion);
  lblAvancement = Label(this, "", disposition::lblAvancement);
  lblAvancement->setVisible(false);
  lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  // Stretched proportionally to fit the box, centred in it.
  imgLumivane = new QLabel(this);
  imgLumivane->setGeometry(Q(disposition::imgLumivane));
  imgLumivane->setAlignment(Qt::AlignCenter);
  const QPixmap image(QStringLiteral(":/lumivane.jpg"));
  const window::Rect place =
      window::ImageAjustee(disposition::imgLumivane, image.width(), image.height());
  imgLumivane->setPixmap(
      image.scaled(place.largeur, place.hauteur, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
  imgLumivane->setVisible(false);

  btnDevisRecuperer = Button(this, "Récupérer le devis", disposition::btnDevisRecuperer);
  btnAnnulerRecuperation = Button(this, "Annuler", disposition::btnAnnulerRecuperation);
  setTabOrder(btnDevisRecuperer, btnAnnulerRecuperation);
  btnDevisRecuperer->setFocus();

  // Centred on the screen: the main window has no owner.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  // The controls exist: the behaviour sets lblVersion.
  logique_ = std::make_unique<window::FicheLogique>(*this, std::move(ports));
  connect(btnDevisRecuperer, &QPushButton::clicked, this, [this] { logique_->ClicRecuperer(); });
  connect(btnAnnulerRecuperation, &QPushButton::clicked, this, [this] { logique_->ClicAnnuler(); });
}

// The behaviour goes before the controls.
TFicheConfigurateurRecupDevis::~TFicheConfigurateurRecupDevis() { logique_.reset(); }

void TFicheConfigurateurRecupDevis::DefinirTitre(const std::string& titre) {
  setWindowTitle(QString::fromStdString(titre));
}

void TFicheConfigurateurRecupDevis::MontrerImage() { imgLumivane->setVisible(true); }

void TFicheConfigurateurRecupDevis::DefinirVersion(const std::string& texte) {
  lblVersion->setText(QString::fromStdString(texte));
  AncrerVersion();
}

void TFicheConfigurateurRecupDevis::DefinirOccupe(bool occupe) {
  if (occupe) {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void TFicheConfigurateurRecupDevis::Fermer() { close(); }

void TFicheConfigurateurRecupDevis::DefinirAvancement(const std::string& texte) {
  lblAvancement->setText(QString::fromStdString(texte));
  lblAvancement->setVisible(!texte.empty());
}

void TFicheConfigurateurRecupDevis::ActiverRecuperer(bool actif) {
  btnDevisRecuperer->setEnabled(actif);
}

void TFicheConfigurateurRecupDevis::closeEvent(QCloseEvent* event) {
  // The close box, like "Annuler", stops the network step under way.
  if (logique_) logique_->Annuler();
  QWidget::closeEvent(event);
}

void PlanificateurQt::SurFenetre(std::function<void()> suite) {
  QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(suite), Qt::QueuedConnection);
}

bool TFicheConfigurateurRecupDevis::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::LayoutRequest:  // a child's size hint changed: lblVersion's text
      AncrerVersion();
      break;
    case QEvent::Paint:
      if (activation_.Planifier()) PlanifierActivation();
      break;
    default:
      break;
  }
  return handled;
}

void TFicheConfigurateurRecupDevis::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  AncrerVersion();
  if (event->spontaneous() || !activation_.Montree()) return;
  QTimer::singleShot(window::DeclencheurActivation::kDelaiSecoursMs, this, [this] {
    if (activation_.Planifier()) PlanifierActivation();
  });
}

void TFicheConfigurateurRecupDevis::PlanifierActivation() {
  // After the paint has reached the screen.
  QTimer::singleShot(0, this, [this] {
    if (activation_.Lancer()) logique_->Activer();
  });
}

void TFicheConfigurateurRecupDevis::keyPressEvent(QKeyEvent* event) {
  // Escape has no meaning in this window.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TFicheConfigurateurRecupDevis::AncrerVersion() {
  // The label sizes itself to its text and grows to the left.
  lblVersion->setGeometry(
      Q(window::AncreADroite(disposition::lblVersion, lblVersion->sizeHint().width())));
}

}  // namespace lumivane::app
