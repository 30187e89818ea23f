#pragma once

#include <QWidget>
#include <memory>
#include <string>

#include "window/declencheur_activation.h"
#include "window/fiche_logique.h"

class QLabel;
class QPushButton;

namespace lumivane::app {

// The module's window on Qt: it draws the controls, forwards its events to
// the window's behaviour (window::FicheLogique) and carries out what that
// behaviour asks of the screen.
class TFicheConfigurateurRecupDevis : public QWidget, public window::VueFiche {
  Q_OBJECT

 public:
  explicit TFicheConfigurateurRecupDevis(window::Ports ports, QWidget* parent = nullptr);
  ~TFicheConfigurateurRecupDevis() override;

  window::FicheLogique& logique() { return *logique_; }

  std::string FichierTemp() const { return logique_->FichierTemp(); }
  void setFichierTemp(const std::string& value) { logique_->setFichierTemp(value); }
  std::string FichierConfig() const { return logique_->FichierConfig(); }
  void setFichierConfig(const std::string& value) { logique_->setFichierConfig(value); }

  // window::VueFiche
  void DefinirTitre(const std::string& titre) override;
  void MontrerImage() override;
  void DefinirVersion(const std::string& texte) override;
  void DefinirOccupe(bool occupe) override;
  void Fermer() override;
  void DefinirAvancement(const std::string& texte) override;
  void ActiverRecuperer(bool actif) override;

  QLabel* lblChiffrage = nullptr;
  QLabel* lblOu = nullptr;
  QLabel* lblVersion = nullptr;
  QLabel* lblAvancement = nullptr;
  QLabel* imgLumivane = nullptr;
  QPushButton* btnDevisRecuperer = nullptr;
  QPushButton* btnAnnulerRecuperation = nullptr;

 protected:
  bool event(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void PlanifierActivation();
  void AncrerVersion();

  window::DeclencheurActivation activation_;
  std::unique_ptr<window::FicheLogique> logique_;
};

// Brings the network steps' results back to the Qt event loop of the
// application (the window's thread).
class PlanificateurQt : public window::Planificateur {
 public:
  void SurFenetre(std::function<void()> suite) override;
};

}  // namespace lumivane::app
