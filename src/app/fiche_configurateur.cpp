#include "fiche_configurateur.h"

#include <QApplication>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <exception>
#include <utility>

#include "config/configuration.h"
#include "gateway/gateway.h"
#include "override_cursor.h"
#include "quote/pictures.h"
#include "result/retrieval.h"

// The picture lives in a static library: its resources are registered by
// hand (outside any namespace, as Qt requires).
static void EnregistrerRessources() { Q_INIT_RESOURCE(resources); }

namespace lumivane::app {

TFicheConfigurateurRecupDevis* FicheConfigurateurRecupDevis = nullptr;

namespace {

constexpr int kVersionRight = 327;  // right edge of lblVersion, whatever its text
constexpr int kFallbackActivationMs = 1000;

const char* const kConfigurateurServi = "lumivane";
const char* const kNavigateurRefuse =
    "L'adresse du configurateur a été refusée : seules les adresses http et https sont ouvertes.";
const char* const kNavigateurEnEchec =
    "Le navigateur n'a pas pu être lancé. Ouvrez cette adresse dans votre navigateur :\n";

QString Q(const std::string& text) { return QString::fromStdString(text); }

QLabel* Label(QWidget* parent, const char* text, int left, int top, int width, int height) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(left, top, width, height);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// Captions are never cut: where the font that stands in for the described one
// is wider, the label grows to the right, as a self-sizing label does.
void NeverCut(QLabel* label) {
  label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
}

QPushButton* Button(QWidget* parent, const char* text, int left, int top, int width, int height) {
  auto* button = new QPushButton(QString::fromUtf8(text), parent);
  button->setGeometry(left, top, width, height);
  // Enter presses the focused button; a plain widget has no default button.
  button->setAutoDefault(true);
  return button;
}

}  // namespace

TFicheConfigurateurRecupDevis::TFicheConfigurateurRecupDevis(Ports ports, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      IdHTTP1(platform::WindowClientSettings()),
      IdHTTP2(platform::WindowClientSettings()),
      ports_(std::move(ports)) {
  EnregistrerRessources();

  setWindowTitle(QStringLiteral("Configurateur Lumivane"));
  setFixedSize(351, 234);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  setAutoFillBackground(true);
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  lblChiffrage = Label(this, "Une fois votre chiffrage terminé veuillez : ", 22, 136, 239, 13);
  lblChiffrage->setFont(QFont(QStringLiteral("MS Sans Serif"), 8, QFont::Bold));
  lblOu = Label(this, "ou ", 169, 175, 15, 13);
  NeverCut(lblChiffrage);
  NeverCut(lblOu);
  lblVersion = Label(this, "Version ", 289, 216, 38, 13);
  lblVersion->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  imgLumivane = new QLabel(this);
  imgLumivane->setGeometry(16, 8, 320, 120);
  imgLumivane->setAlignment(Qt::AlignCenter);
  imgLumivane->setPixmap(
      QPixmap(QStringLiteral(":/lumivane.jpg"))
          .scaled(imgLumivane->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
  imgLumivane->setVisible(false);

  btnDevisRecuperer = Button(this, "Récupérer le devis", 22, 158, 125, 50);
  btnAnnulerRecuperation = Button(this, "Annuler", 202, 158, 125, 50);
  setTabOrder(btnDevisRecuperer, btnAnnulerRecuperation);
  btnDevisRecuperer->setFocus();
  connect(btnDevisRecuperer, &QPushButton::clicked, this,
          [this] { Executer([this] { btnDevisRecupererClick(); }); });
  connect(btnAnnulerRecuperation, &QPushButton::clicked, this,
          [this] { Executer([this] { btnAnnulerRecuperationClick(); }); });

  // Centred on the screen: the main window has no owner.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }

  lblVersion->setText(QStringLiteral("Version ") + QString::fromUtf8(VersionModule) +
                      QStringLiteral(" du 09/06/2020"));
  AncrerVersion();

  FormCreate();
}

TFicheConfigurateurRecupDevis::~TFicheConfigurateurRecupDevis() { FormDestroy(); }

void TFicheConfigurateurRecupDevis::FormCreate() {
  FErreurs = std::make_unique<std::vector<std::string>>();
}

void TFicheConfigurateurRecupDevis::FormDestroy() { FErreurs.reset(); }

void TFicheConfigurateurRecupDevis::FormActivate() {
  if (ChargerConfiguration(FichierConfig())) {
    Fermer();
    return;
  }

  if (FConfigurateur == kConfigurateurServi) {
    setWindowTitle(Q("Brevance - Configurateur " + FConfigurateur));
    imgLumivane->setVisible(true);
  }

  if (FVersion != VersionModule) {
    ports_.messages->ShowMessage("Votre Configurateur " + FConfigurateur + " est en Version " +
                                 VersionModule + " et devrait être en Version " + FVersion + ".");
    Fermer();
    return;
  }

  if (GetJetonEtUrls() <= 0) {
    ports_.messages->ShowMessage(GetJetonEtUrlsErreurs());
    Fermer();
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

void TFicheConfigurateurRecupDevis::btnDevisRecupererClick() {
  quote::PictureDownloader pictures(ports_.pictures_folders, *ports_.clock, ports_.date_separator,
                                    *ports_.messages);
  const result::RetrievalInputs inputs{FUrlRecuperation, ports_.endpoints.quote_service_base,
                                       FJeton, FichierTemp()};
  result::RetrievalOutcome outcome;
  {
    const OverrideCursor busy(Qt::WaitCursor);
    outcome = result::RecupererDevis(inputs, IdHTTP1, IdHTTP2, pictures, FDevisId);
  }
  if (outcome.kind == result::RetrievalOutcome::Kind::ClosedWithMessage) {
    ports_.messages->ShowMessage(outcome.message);
  }
  Fermer();
}

void TFicheConfigurateurRecupDevis::btnAnnulerRecuperationClick() { Fermer(); }

bool TFicheConfigurateurRecupDevis::ChargerConfiguration(const std::string& path) {
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

int TFicheConfigurateurRecupDevis::GetJetonEtUrls() {
  const gateway::TokenRequest request{FIdentifiant, FMotDePasse, FConfigurateur, FJetonPasserelle};
  gateway::GatewayFields fields;
  fields.Jeton = FJeton;
  FUrlConnexion.clear();
  FUrlRecuperation.clear();
  const auto keep = [this, &fields] {
    FJeton = fields.Jeton;
    FUrlConnexion = fields.UrlConnexion;
    FUrlRecuperation = fields.UrlRecuperation;
    if (!FErreurs) FErreurs = std::make_unique<std::vector<std::string>>();
    *FErreurs = fields.Erreurs;
  };

  const OverrideCursor busy(Qt::WaitCursor);
  int result = 0;
  try {
    result = gateway::GetJetonEtUrls(IdHTTP1, ports_.endpoints.gateway_base, request, fields);
  } catch (...) {
    // A failed request leaves no URL behind.
    fields.UrlConnexion.clear();
    fields.UrlRecuperation.clear();
    keep();
    throw;
  }
  keep();
  return result;
}

std::string TFicheConfigurateurRecupDevis::GetJetonEtUrlsErreurs() const {
  return gateway::GetJetonEtUrlsErreurs(FConfigurateur,
                                        FErreurs ? *FErreurs : std::vector<std::string>{});
}

void TFicheConfigurateurRecupDevis::Executer(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ports_.messages->ShowMessage(error.what());
  } catch (...) {
    ports_.messages->ShowMessage("");
  }
}

bool TFicheConfigurateurRecupDevis::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::LayoutRequest:  // a child's size hint changed: lblVersion's text
      AncrerVersion();
      break;
    case QEvent::Paint:
      if (activation_ == Activation::AwaitingPaint) PlanifierActivation();
      break;
    default:
      break;
  }
  return handled;
}

void TFicheConfigurateurRecupDevis::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  AncrerVersion();
  if (activation_ != Activation::NotShown || event->spontaneous()) return;
  activation_ = Activation::AwaitingPaint;
  // Should the window never be painted (minimised at start), the activation
  // still comes.
  QTimer::singleShot(kFallbackActivationMs, this, [this] {
    if (activation_ == Activation::AwaitingPaint) PlanifierActivation();
  });
}

void TFicheConfigurateurRecupDevis::PlanifierActivation() {
  activation_ = Activation::Scheduled;
  // After the paint has reached the screen, so that the window is seen while
  // the configuration is read and the gateway asked.
  QTimer::singleShot(0, this, [this] {
    activation_ = Activation::Done;
    Executer([this] { FormActivate(); });
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
  const int width = lblVersion->sizeHint().width();
  lblVersion->setGeometry(kVersionRight - width, lblVersion->y(), width, lblVersion->height());
}

void TFicheConfigurateurRecupDevis::Fermer() { close(); }

}  // namespace lumivane::app
