#pragma once

namespace lumivane::window {

// A control's place in the window's client area, in pixels.
struct Rect {
  int gauche = 0;
  int haut = 0;
  int largeur = 0;
  int hauteur = 0;
  int droite() const { return gauche + largeur; }
  bool operator==(const Rect&) const = default;
};

// The window's description, at 96 dpi, as both shells draw it.
namespace disposition {
inline constexpr int kDpiDescription = 96;
inline constexpr int kClientLargeur = 351;
inline constexpr int kClientHauteur = 234;
inline constexpr Rect lblChiffrage{22, 136, 239, 13};
inline constexpr Rect lblOu{169, 175, 15, 13};
inline constexpr Rect lblVersion{289, 216, 38, 13};  // its right edge, 327, stays
inline constexpr Rect imgLumivane{16, 8, 320, 120};
inline constexpr Rect btnDevisRecuperer{22, 158, 125, 50};
inline constexpr Rect btnAnnulerRecuperation{202, 158, 125, 50};
// The progress of a retrieval, left of the version, hidden otherwise.
inline constexpr Rect lblAvancement{22, 216, 250, 13};
inline constexpr int kPointsPolice = 8;
}  // namespace disposition

// Pixels of the description at `dpi`, rounded to the nearest.
int AEchelle(int pixels, int dpi);
Rect AEchelle(const Rect& rect, int dpi);

// A self-sizing label whose text is `largeur_texte` wide: its right edge
// stays, it grows or shrinks to the left.
Rect AncreADroite(const Rect& rect, int largeur_texte);

// A label whose text is never cut: as described, or wider to the right when
// the text needs it.
Rect SansCoupure(const Rect& rect, int largeur_texte);

// A picture of `largeur` x `hauteur` stretched proportionally to fit `boite`
// and centred in it. Never less than 1 x 1.
Rect ImageAjustee(const Rect& boite, int largeur, int hauteur);

}  // namespace lumivane::window
