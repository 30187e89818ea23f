#include "config/configuration.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <stdexcept>
#include <utility>

#include "base/limits.h"
#include "platform/configuration_file.h"
#include "text/encoding.h"

namespace lumivane::config {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

struct Wanted {
  std::string_view section;
  std::string_view key;
  std::string Configuration::*field;
};

constexpr std::array<Wanted, 5> kWanted = {{
    {"General", "Version", &Configuration::Version},
    {"General", "Configurateur", &Configuration::Configurateur},
    {"Utilisateur", "Identifiant", &Configuration::Identifiant},
    {"Utilisateur", "MotDePasse", &Configuration::MotDePasse},
    {"Update", "DevisId", &Configuration::JetonPasserelle},
}};

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// Section and key names are compared without regard to letter case, as the
// INI readers of the host's platform do.
bool SameName(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; };
  return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

// The file's bytes as UTF-8. UTF-16 is recognised by its byte-order mark (as
// Notepad writes "Unicode" files); UTF-8, with or without its mark, is taken
// as it is; anything else is read as Windows-1252, the code page the hosts
// write their INI files in.
std::string DecodedText(std::string_view bytes) {
  if (bytes.starts_with(kUtf16LeBom)) return text::Utf16ToUtf8(bytes.substr(2), false);
  if (bytes.starts_with(kUtf16BeBom)) return text::Utf16ToUtf8(bytes.substr(2), true);
  if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  if (text::IsValidUtf8(bytes)) return std::string(bytes);
  return text::Windows1252ToUtf8(bytes);
}

// Takes the first line off `rest`; a line ends at LF, CR LF or a lone CR.
std::string_view TakeLine(std::string_view& rest) {
  const auto end = rest.find_first_of("\r\n");
  if (end == std::string_view::npos) return std::exchange(rest, {});
  const auto line = rest.substr(0, end);
  const bool crlf = rest[end] == '\r' && rest.substr(end + 1).starts_with('\n');
  rest.remove_prefix(end + (crlf ? 2 : 1));
  return line;
}

}  // namespace

// The rules keep to what the hosts' INI files expect rather than to the usual
// INI libraries: a line is a comment only when it starts with ";" or "#", so a
// value keeps any " ;" it holds (passwords do); an indented line is a line
// like any other, not the continuation of the one before; only "=" separates
// a key from its value; quotes are part of the value; the first of two
// identical keys wins, even across repeated sections. A section line without
// "]" is ignored and the keys after it stay in the section before.
Configuration LireConfiguration(std::string_view bytes) {
  Configuration fields{"0", "", "", "", ""};
  std::array<bool, kWanted.size()> found{};

  const std::string text = DecodedText(bytes);
  std::string_view rest = text;
  std::string_view section;
  while (!rest.empty()) {
    const auto line = Trim(TakeLine(rest));
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const auto close = line.find(']');
      if (close != std::string_view::npos) section = Trim(line.substr(1, close - 1));
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const auto key = Trim(line.substr(0, equals));
    for (std::size_t i = 0; i < kWanted.size(); ++i) {
      if (found[i] || !SameName(section, kWanted[i].section) || !SameName(key, kWanted[i].key)) {
        continue;
      }
      fields.*kWanted[i].field = Trim(line.substr(equals + 1));
      found[i] = true;
    }
  }
  return fields;
}

bool ChargerConfiguration(const std::string& path, Configuration& fields,
                          report::MessagePort& messages) {
  const auto file = platform::ReadConfigurationFile(path, base::kMaxConfigurationBytes);
  switch (file.state) {
    case platform::ConfigurationFile::State::kMissing:
      messages.ShowMessage("Le configurateur Lumivane n'est pas configuré. Le fichier : " + path +
                           " n'existe pas.");
      return true;
    case platform::ConfigurationFile::State::kUnreadable:
      break;
    case platform::ConfigurationFile::State::kRead:
      fields = LireConfiguration(file.bytes);
      return false;
  }
  throw std::runtime_error("Le fichier de configuration " + path + " n'a pas pu être lu.");
}

}  // namespace lumivane::config
