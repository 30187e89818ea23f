#include "config/configuration.h"

#include <array>
#include <cstddef>
#include <utility>

#include "base/limits.h"
#include "platform/configuration_file.h"
#include "report/secrets.h"
#include "text/compare.h"
#include "text/encoding.h"
#include "text/user_texts.h"

namespace lumivane::config {

namespace {

// The blanks trimmed around names and values: the ASCII white space and
// Ctrl-Z, the old end-of-file mark, as the Windows INI reader does; other
// Unicode blanks (no-break space...) are part of the text.
constexpr std::string_view kBlanks = " \t\r\n\v\f\x1A";

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

// The file's bytes as UTF-8. UTF-16 is recognised by its byte-order mark (as
// Notepad writes "Unicode" files); UTF-8, with or without its mark, is taken
// as it is; anything else is read as Windows-1252, the code page the hosts
// write their INI files in.
std::string DecodedText(std::string_view bytes) {
  const text::ByteOrderMark mark = text::ByteOrderMarkOf(bytes);
  bytes.remove_prefix(text::ByteOrderMarkSize(mark));
  if (mark == text::ByteOrderMark::kUtf16LittleEndian) return text::Utf16ToUtf8(bytes, false);
  if (mark == text::ByteOrderMark::kUtf16BigEndian) return text::Utf16ToUtf8(bytes, true);
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

// A name or a value ends at a NUL, as a C string does: the Windows reader
// cuts there, after the blanks around it were trimmed.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// One pair of matching quotes around a value is taken off.
std::string_view WithoutQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

// The rules are those of the Windows INI reader (GetPrivateProfileString),
// which the hosts wrote their files for; tests/windows holds the module to it.
// A line is a comment when it starts with ";" or "#", so a value keeps any
// " ;" it holds (passwords do); an indented line is a line like any other;
// only "=" separates a key from its value, and a key line without "=" is
// that key without a value (its default). One pair of matching quotes around
// a value is removed; a name or a value ends at a NUL. The first of two
// identical keys wins, and only the first section of a name is read: the
// keys of a later section of the same name are not seen. A section name runs
// to the last "]" of its line; a line starting with "[" without "]" is a key
// line, so the keys after it stay in the section before. Section and key
// names are compared without regard to letter case.
Configuration LireConfiguration(std::string_view bytes) {
  Configuration fields{"0", "", "", "", ""};
  std::array<bool, kWanted.size()> found{};

  const std::string decoded = DecodedText(bytes);
  std::string_view rest = decoded;
  // Of the sections read, only the first of each name counts.
  constexpr std::array<std::string_view, 3> kSections = {"General", "Utilisateur", "Update"};
  std::array<bool, kSections.size()> section_seen{};
  std::string_view section;
  bool section_read = false;
  while (!rest.empty()) {
    const auto line = Trim(TakeLine(rest));
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      const auto close = line.rfind(']');
      if (close != std::string_view::npos) {
        section = UpToNul(Trim(line.substr(1, close - 1)));
        section_read = false;
        for (std::size_t i = 0; i < kSections.size(); ++i) {
          if (!text::EqualsIgnoringCase(section, kSections[i])) continue;
          section_read = !section_seen[i];
          section_seen[i] = true;
        }
        continue;
      }
    }
    if (!section_read) continue;
    const auto equals = line.find('=');
    const auto key = UpToNul(Trim(line.substr(0, equals)));
    for (std::size_t i = 0; i < kWanted.size(); ++i) {
      if (found[i] || !text::EqualsIgnoringCase(section, kWanted[i].section) ||
          !text::EqualsIgnoringCase(key, kWanted[i].key)) {
        continue;
      }
      if (equals != std::string_view::npos) {
        fields.*kWanted[i].field = WithoutQuotes(UpToNul(Trim(line.substr(equals + 1))));
      }
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
      messages.ShowMessage(text::UserMessage(text::UserText::kConfigurationMissing, {path}));
      return true;
    case platform::ConfigurationFile::State::kUnreadable:
      messages.ShowMessage(text::UserMessage(text::UserText::kConfigurationUnreadable, {path}));
      return true;
    case platform::ConfigurationFile::State::kRead:
      fields = LireConfiguration(file.bytes);
      report::AddSecret(fields.MotDePasse);
      report::AddSecret(fields.JetonPasserelle);
      return false;
  }
  return true;
}

}  // namespace lumivane::config
