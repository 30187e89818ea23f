#pragma once

namespace lumivane::window {

// When the window's activation runs: once, after the window's first paint has
// reached the screen, so that the user sees the window while the configuration
// is read and the gateway asked. A window that is never painted (minimised at
// start) is activated all the same once the fallback delay has passed.
//
// The shell calls these from its own events and acts on the answers.
class DeclencheurActivation {
 public:
  static constexpr int kDelaiSecoursMs = 1000;

  // The window is shown by the program (not by the window manager). True the
  // first time only: the shell then arms a timer of kDelaiSecoursMs that calls
  // Planifier().
  bool Montree() {
    if (etat_ != Etat::NonMontree) return false;
    etat_ = Etat::AttentePeinture;
    return true;
  }

  // A paint, or the fallback timer. True when the shell must now post the
  // activation to run after the events already queued.
  bool Planifier() {
    if (etat_ != Etat::AttentePeinture) return false;
    etat_ = Etat::Planifiee;
    return true;
  }

  // The posted activation is about to run. True once only.
  bool Lancer() {
    if (etat_ != Etat::Planifiee) return false;
    etat_ = Etat::Faite;
    return true;
  }

 private:
  enum class Etat { NonMontree, AttentePeinture, Planifiee, Faite };
  Etat etat_ = Etat::NonMontree;
};

}  // namespace lumivane::window
