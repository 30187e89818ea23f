// The products the configurator sells, and the quotes built from them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace lumivane::sandbox {

struct Product {
  std::string code;
  std::string designation;
  std::string description;
  std::string unit_price;  // as the quote carries it, e.g. "389.00"
  std::string picture;     // file name under /images/
};

// One line of a quote, every value as text, exactly as the quote XML carries it.
struct QuoteLine {
  std::string unit_price;
  std::string quantity;
  std::string picture_path;  // full URL, empty for a line without a picture
  std::string designation;
  std::string description;
};

struct Quote {
  std::string id;      // what the retrieval document gives as "Project"
  std::string number;  // "No" of the quote, e.g. "DV-2026-00042"
  std::vector<QuoteLine> lines;
};

const std::vector<Product>& catalogue();
const Product* find_product(std::string_view code);

// A line for `quantity` pieces of `product`, its picture served under `base`.
QuoteLine line_for(const Product& product, int quantity, const std::string& base);

// The quote saved when a session is retrieved before anything was chosen:
// two products with pictures and a fitting service without one.
std::vector<QuoteLine> sample_lines(const std::string& base);

// The quote number that goes with a numeric quote id: 42 -> "DV-2026-00042".
std::string quote_number(int id);

}  // namespace lumivane::sandbox
