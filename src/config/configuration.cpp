#include "config/configuration.h"

#include <ini.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/encoding.h"

namespace lumivane::config {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\v\f";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

// Section and key names are compared without regard to letter case, as the
// INI readers of the host's platform do.
std::string Folded(std::string_view name) {
  std::string folded(Trim(name));
  std::transform(folded.begin(), folded.end(), folded.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  });
  return folded;
}

// The file's bytes as UTF-8: UTF-8 (with or without byte-order mark) is taken
// as it is, anything else is read as Windows-1252, the code page the hosts
// write their INI files in.
std::string DecodedText(std::string bytes) {
  std::string_view view = bytes;
  if (view.starts_with(kUtf8Bom)) view.remove_prefix(kUtf8Bom.size());
  if (platform::IsValidUtf8(view)) return std::string(view);
  return platform::Windows1252ToUtf8(view);
}

[[noreturn]] void ThrowUnreadable(const std::string& path) {
  throw std::runtime_error("Le fichier de configuration " + path + " n'a pas pu être lu.");
}

std::string ReadWholeFile(const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                             &std::fclose);
  if (!file) ThrowUnreadable(path);
  std::string bytes;
  char buffer[8192];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) bytes.append(buffer, got);
  if (std::ferror(file.get())) ThrowUnreadable(path);
  return bytes;
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) return false;
  if (error) ThrowUnreadable(path);
  return status.type() != std::filesystem::file_type::directory;
}

// inih gives the file's structure (sections, comments, key lines), but the
// library as packaged here cuts values at an inline " ;", limits lines to 200
// bytes and takes indented lines as continuations of the previous value. The
// hosts' own readers do none of that, and a password holding " ;" must reach
// the gateway whole. So inih is fed one line at a time by `NextLine` (without
// its leading blanks and shortened if needed), and the handler takes the key
// and value from the full copy of the current line instead of from inih.
class IniReader {
 public:
  explicit IniReader(std::string text) : text_(std::move(text)) {}

  // First value of each (section, key), both names folded.
  std::map<std::pair<std::string, std::string>, std::string> Read() {
    ini_parse_stream(&IniReader::NextLine, this, &IniReader::OnKey, this);
    return std::move(values_);
  }

 private:
  static char* NextLine(char* buffer, int size, void* self) {
    auto& reader = *static_cast<IniReader*>(self);
    if (reader.position_ >= reader.text_.size() || size < 3) return nullptr;
    auto end = reader.text_.find('\n', reader.position_);
    if (end == std::string::npos) end = reader.text_.size();
    reader.line_ = std::string_view(reader.text_).substr(reader.position_, end - reader.position_);
    reader.position_ = end + 1;

    // What inih sees: no leading blank (so no continuation line), at most
    // size - 2 bytes, then a line feed.
    auto shown =
        reader.line_.substr(std::min(reader.line_.find_first_not_of(kBlanks), reader.line_.size()));
    shown = shown.substr(0, static_cast<std::size_t>(size) - 2);
    std::memcpy(buffer, shown.data(), shown.size());
    buffer[shown.size()] = '\n';
    buffer[shown.size() + 1] = '\0';
    return buffer;
  }

  static int OnKey(void* self, const char* section, const char* /*name*/, const char* /*value*/) {
    auto& reader = *static_cast<IniReader*>(self);
    const auto equals = reader.line_.find('=');
    // Lines without "=" (inih also accepts "name: value") carry no key here.
    if (equals == std::string_view::npos) return 1;
    auto key = Folded(reader.line_.substr(0, equals));
    if (key.empty()) return 1;
    reader.values_.emplace(std::pair{Folded(section), std::move(key)},
                           std::string(Trim(reader.line_.substr(equals + 1))));
    return 1;
  }

  std::string text_;
  std::size_t position_ = 0;
  std::string_view line_;
  std::map<std::pair<std::string, std::string>, std::string> values_;
};

}  // namespace

bool ChargerConfiguration(const std::string& path, Configuration& fields,
                          platform::MessagePort& messages) {
  if (!FileExists(path)) {
    messages.ShowMessage("Le configurateur Lumivane n'est pas configuré. Le fichier : " + path +
                         " n'existe pas.");
    return true;
  }

  const auto values = IniReader(DecodedText(ReadWholeFile(path))).Read();
  const auto value = [&values](std::string_view section, std::string_view key,
                               const char* fallback) {
    const auto found = values.find({Folded(section), Folded(key)});
    return found == values.end() ? std::string(fallback) : found->second;
  };
  fields.Version = value("General", "Version", "0");
  fields.Configurateur = value("General", "Configurateur", "");
  fields.Identifiant = value("Utilisateur", "Identifiant", "");
  fields.MotDePasse = value("Utilisateur", "MotDePasse", "");
  fields.JetonPasserelle = value("Update", "DevisId", "");
  return false;
}

}  // namespace lumivane::config
