#include "window/disposition.h"

#include <algorithm>
#include <cmath>

namespace lumivane::window {

int AEchelle(int pixels, int dpi) {
  return static_cast<int>(
      std::lround(static_cast<double>(pixels) * dpi / disposition::kDpiDescription));
}

Rect AEchelle(const Rect& rect, int dpi) {
  return {AEchelle(rect.gauche, dpi), AEchelle(rect.haut, dpi), AEchelle(rect.largeur, dpi),
          AEchelle(rect.hauteur, dpi)};
}

Rect AncreADroite(const Rect& rect, int largeur_texte) {
  return {rect.droite() - largeur_texte, rect.haut, largeur_texte, rect.hauteur};
}

Rect SansCoupure(const Rect& rect, int largeur_texte) {
  return {rect.gauche, rect.haut, std::max(rect.largeur, largeur_texte), rect.hauteur};
}

Rect ImageAjustee(const Rect& boite, int largeur, int hauteur) {
  if (largeur <= 0 || hauteur <= 0) return {boite.gauche, boite.haut, 1, 1};
  const double facteur = std::min(static_cast<double>(boite.largeur) / largeur,
                                  static_cast<double>(boite.hauteur) / hauteur);
  const int l = std::max(1, static_cast<int>(std::lround(largeur * facteur)));
  const int h = std::max(1, static_cast<int>(std::lround(hauteur * facteur)));
  return {boite.gauche + (boite.largeur - l) / 2, boite.haut + (boite.hauteur - h) / 2, l, h};
}

}  // namespace lumivane::window
