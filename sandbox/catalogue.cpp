#include "catalogue.hpp"

#include <cstdio>

namespace lumivane::sandbox {

const std::vector<Product>& catalogue() {
  static const std::vector<Product> products = {
      {"FEN-001", "Fenêtre PVC 2 vantaux",
       "Fenêtre PVC blanc, 2 vantaux oscillo-battants, 1250 x 1150 mm, double vitrage 4/16/4",
       "389.00", "fenetre.jpg"},
      {"POR-001", "Porte d'entrée aluminium",
       "Porte d'entrée aluminium gris anthracite, 900 x 2150 mm, serrure 5 points", "1890.00",
       "porte.jpg"},
      {"VOL-001", "Volet roulant électrique",
       "Volet roulant aluminium, moteur radio, coffre rénovation, 1250 x 1350 mm", "465.00",
       "volet.jpg"},
      {"BAI-001", "Baie coulissante 2 vantaux",
       "Baie coulissante aluminium, 2400 x 2150 mm, seuil encastré", "2150.00", "baie.jpg"},
      {"VEL-001", "Fenêtre de toit",
       "Fenêtre de toit à rotation, 780 x 980 mm, raccord pour tuiles", "529.00", "velux.jpg"},
      {"PTL-001", "Portail battant aluminium",
       "Portail 2 vantaux, 3500 x 1600 mm, motorisation en option", "1290.50", "portail.jpg"},
  };
  return products;
}

const Product* find_product(std::string_view code) {
  for (const auto& product : catalogue()) {
    if (product.code == code) return &product;
  }
  return nullptr;
}

QuoteLine line_for(const Product& product, int quantity, const std::string& base) {
  return {product.unit_price, std::to_string(quantity), base + "/images/" + product.picture,
          product.designation, product.description};
}

std::vector<QuoteLine> sample_lines(const std::string& base) {
  return {
      line_for(*find_product("FEN-001"), 2, base),
      line_for(*find_product("VOL-001"), 2, base),
      {"320.00", "1", "", "Pose et mise en service",
       "Pose en rénovation, dépose des anciennes menuiseries et évacuation"},
  };
}

std::string quote_number(int id) {
  char text[32];
  std::snprintf(text, sizeof text, "DV-2026-%05d", id);
  return text;
}

}  // namespace lumivane::sandbox
