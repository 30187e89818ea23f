#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "win32_message_box.h"
#include "window/declencheur_activation.h"
#include "window/disposition.h"
#include "window/fiche_logique.h"

namespace lumivane::app::win32 {

// Brings the network steps' continuations back to the window's thread: each
// is posted to the window as a message carrying it, and run by the window's
// procedure. A continuation that cannot reach the window (gone, or not yet
// attached) is dropped.
class PlanificateurWin32 : public window::Planificateur {
 public:
  // The window the continuations go to; nullptr once it is gone.
  void Attacher(HWND fenetre) { fenetre_ = fenetre; }
  void SurFenetre(std::function<void()> suite) override;

 private:
  std::atomic<HWND> fenetre_{nullptr};
};

// The module's window on Win32: it draws the controls at the monitor's
// resolution, forwards its events to the window's behaviour
// (window::FicheLogique) and carries out what that behaviour asks of the
// screen.
class TFicheConfigurateurRecupDevis : public window::VueFiche {
 public:
  // Creates the window, hidden, with its controls. The messages go to
  // ports.messages; `boite`, when given, shows them over the window while it
  // exists.
  TFicheConfigurateurRecupDevis(HINSTANCE instance, window::Ports ports,
                                Win32MessageBox* boite = nullptr);
  ~TFicheConfigurateurRecupDevis() override;
  TFicheConfigurateurRecupDevis(const TFicheConfigurateurRecupDevis&) = delete;
  TFicheConfigurateurRecupDevis& operator=(const TFicheConfigurateurRecupDevis&) = delete;

  window::FicheLogique& logique() { return *logique_; }
  // The window, until it is closed.
  HWND hwnd() const { return hwnd_; }
  bool ImageVisible() const { return imageVisible_; }

  // Shows the window with the start-up's show command; the activation
  // follows the first paint.
  void Montrer(int commande);

  // The keyboard of the window, for the event loop: Tab between the buttons,
  // Enter on the focused one, Escape ignored. True when `message` was used.
  bool MessageDeFenetre(MSG& message);

  // window::VueFiche
  void DefinirTitre(const std::string& titre) override;
  void MontrerImage() override;
  void DefinirVersion(const std::string& texte) override;
  void DefinirOccupe(bool occupe) override;
  void Fermer() override;
  void DefinirAvancement(const std::string& texte) override;
  void ActiverRecuperer(bool actif) override;

  HWND lblChiffrage = nullptr;
  HWND lblOu = nullptr;
  HWND lblVersion = nullptr;
  HWND lblAvancement = nullptr;
  HWND btnDevisRecuperer = nullptr;
  HWND btnAnnulerRecuperation = nullptr;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Traiter(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  // Runs one event of the behaviour, then closes the window if it asked to.
  template <typename Evenement>
  void Transmettre(Evenement evenement);

  void Construire(window::Ports ports);
  void Liberer();
  window::Rect Echelle(const window::Rect& rect) const;
  void Placer(HWND controle, const window::Rect& rect);
  void CreerPolices();
  void Disposer();
  void AncrerVersion();
  void PreparerImage();
  void Peindre();
  void BoutonParDefaut(HWND bouton);

  HINSTANCE instance_;
  report::MessagePort& messages_;
  Win32MessageBox* boite_;
  HWND hwnd_ = nullptr;
  HWND focus_ = nullptr;        // the button that has, or last had, the focus
  HFONT police_ = nullptr;      // Tahoma 8
  HFONT policeGras_ = nullptr;  // Microsoft Sans Serif 8, bold
  HBITMAP image_ = nullptr;     // the picture, scaled to the box
  SIZE tailleImage_{};          // the picture's own size
  window::Rect placeImage_;     // where it is drawn, at the window's resolution
  bool imageVisible_ = false;
  bool occupe_ = false;
  bool fermetureDemandee_ = false;
  UINT dpi_ = USER_DEFAULT_SCREEN_DPI;
  window::DeclencheurActivation activation_;
  std::unique_ptr<window::FicheLogique> logique_;
};

}  // namespace lumivane::app::win32
