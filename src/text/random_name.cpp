#include "text/random_name.h"

#include <random>

namespace lumivane::text {

namespace {
constexpr std::string_view kRandomCharacters = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr std::size_t kRandomLength = 12;
}  // namespace

std::string RandomName(std::string_view prefix, std::string_view suffix) {
  static thread_local std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<unsigned> digit(0, 35);
  std::string name(prefix);
  for (std::size_t i = 0; i < kRandomLength; ++i) name += kRandomCharacters[digit(random)];
  return name + std::string(suffix);
}

bool IsRandomName(std::string_view name, std::string_view prefix, std::string_view suffix) {
  if (name.size() != prefix.size() + kRandomLength + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix)) {
    return false;
  }
  return name.substr(prefix.size(), kRandomLength).find_first_not_of(kRandomCharacters) ==
         std::string_view::npos;
}

}  // namespace lumivane::text
