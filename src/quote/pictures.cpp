#include "quote/pictures.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/system_error.h"

namespace lumivane::quote {

namespace {

std::string DeuxChiffres(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

void CreerDossierSiAbsent(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return;
  }
  // One level only, like the folder beside the executable it stands for.
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    throw platform::FileError("Impossible de créer le dossier des images " +
                              platform::PourMessage(folder) + " : " +
                              platform::SystemErrorText(errno));
  }
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw platform::FileError("Impossible de créer le dossier des images " +
                              platform::PourMessage(folder) + " : ce n'est pas un dossier");
  }
}

// The first `limit` bytes of UTF-8 text, never cutting a character.
std::string Debut(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

PictureDownloader::PictureDownloader(std::string folder, platform::Clock& clock,
                                     std::string date_separator, platform::MessagePort& messages,
                                     platform::HttpSettings settings)
    : folder_(std::move(folder)),
      clock_(clock),
      date_separator_(std::move(date_separator)),
      messages_(messages),
      settings_(std::move(settings)) {
  // No folder at all: the executable's own folder could not be found, and
  // the first picture says so.
  if (!folder_.empty() && folder_.back() != '/') {
    folder_ += '/';
  }
  if (settings_.max_body_bytes == 0) {
    settings_.max_body_bytes = kMaxPictureBytes;
  }
}

std::optional<std::string> PictureDownloader::TelechargerImage(const std::string& url,
                                                               const std::string& numero) {
  if (folder_.empty()) {
    throw platform::FileError(
        "Le dossier du module est introuvable : les images du devis ne peuvent pas être "
        "enregistrées dans son dossier images.");
  }
  std::string image;
  try {
    platform::HttpClient client(settings_);
    image = client.Get(url);
  } catch (const platform::HttpError&) {
    messages_.ShowMessage(kPictureErrorMessage);
    return std::nullopt;
  }

  const std::string stamp = Horodatage(clock_.Now(), date_separator_);
  // Two pictures stamped in the same second must not share a file.
  std::string name = NomImage(stamp, "", numero);
  for (int n = 2; used_names_.count(name) != 0; ++n) {
    name = NomImage(stamp, "-" + std::to_string(n), numero);
  }

  CreerDossierSiAbsent(folder_);
  const std::string path = folder_ + name;
  platform::ReplaceFileContents(path, image);
  used_names_.insert(name);
  stored_.push_back(path);
  return path;
}

void PictureDownloader::SupprimerImagesEnregistrees() {
  // Pictures of a retrieval that failed are of no use to the host, and a retry
  // would add a second set of them.
  for (const std::string& path : stored_) ::unlink(path.c_str());
  stored_.clear();
  used_names_.clear();
}

std::string NomImage(const std::string& stamp, const std::string& rang,
                     const std::string& numero) {
  const std::string safe = NumeroPourNomDeFichier(numero);
  const std::size_t fixed = stamp.size() + rang.size() + 1 + 5;  // "_" and ".jpeg"
  const std::size_t room = fixed < kMaxPictureNameBytes ? kMaxPictureNameBytes - fixed : 0;
  return stamp + rang + "_" + Debut(safe, room) + ".jpeg";
}

std::string Horodatage(const platform::LocalDateTime& t, const std::string& date_separator) {
  char year[16];
  std::snprintf(year, sizeof year, "%04d", t.year);
  std::string stamp = year + date_separator + DeuxChiffres(t.month) + date_separator +
                      DeuxChiffres(t.day) + "_" + DeuxChiffres(t.hour) + DeuxChiffres(t.minute) +
                      DeuxChiffres(t.second);
  std::erase(stamp, '/');
  return stamp;
}

std::string NumeroPourNomDeFichier(const std::string& numero) {
  std::string safe = numero;
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F ||
        std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
      c = '_';
    }
  }
  return safe;
}

}  // namespace lumivane::quote
