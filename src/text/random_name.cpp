#include "text/random_name.h"

#include <random>

namespace lumivane::text {

std::string RandomName(std::string_view prefix, std::string_view suffix) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<unsigned> digit(0, 35);
  std::string name(prefix);
  for (int i = 0; i < 12; ++i) name += "0123456789abcdefghijklmnopqrstuvwxyz"[digit(random)];
  return name + std::string(suffix);
}

}  // namespace lumivane::text
