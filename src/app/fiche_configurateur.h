#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/browser.h"
#include "platform/clock.h"
#include "platform/endpoints.h"
#include "platform/http_client.h"
#include "platform/messages.h"

class QLabel;
class QPushButton;

namespace lumivane::app {

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

class TFicheConfigurateurRecupDevis : public QWidget {
  Q_OBJECT

 public:
  explicit TFicheConfigurateurRecupDevis(Ports ports, QWidget* parent = nullptr);
  ~TFicheConfigurateurRecupDevis() override;

  std::string FichierTemp() const { return FFichierTemp; }
  void setFichierTemp(const std::string& value) { FFichierTemp = value; }
  std::string FichierConfig() const { return FFichierConfig; }
  void setFichierConfig(const std::string& value) { FFichierConfig = value; }

  // Handlers, public so that tests can run them directly.
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

  QLabel* lblChiffrage = nullptr;
  QLabel* lblOu = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* imgLumivane = nullptr;
  QPushButton* btnDevisRecuperer = nullptr;
  QPushButton* btnAnnulerRecuperation = nullptr;
  platform::HttpClient IdHTTP1;
  platform::HttpClient IdHTTP2;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // FormActivate runs once, after the window's first paint.
  enum class Activation { NotShown, AwaitingPaint, Scheduled, Done };

  void PlanifierActivation();
  void AncrerVersion();
  void Fermer();

  Ports ports_;
  Activation activation_ = Activation::NotShown;
};

// The one window of the module, while start-up runs it.
extern TFicheConfigurateurRecupDevis* FicheConfigurateurRecupDevis;

}  // namespace lumivane::app
