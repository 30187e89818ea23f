#pragma once

#include <QWidget>
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
  std::string pictures_folder;  // "<folder of the executable>/images/"
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
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Ports ports_;
  bool first_show_done_ = false;
};

}  // namespace lumivane::app
