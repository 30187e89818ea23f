#include "quote/pictures.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/folders.h"

namespace lumivane::quote {

namespace {

std::string DeuxChiffres(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

void CreerDossierSiAbsent(const std::string& folder) {
  if (platform::FolderExists(folder)) {
    return;
  }
  // One level only, like the folder beside the executable it stands for.
  if (const auto reason = platform::CreateFolder(folder)) {
    throw platform::FileError("Impossible de créer le dossier des images " + folder + " : " + *reason);
  }
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
  if (folder_.empty() || folder_.back() != '/') {
    folder_ += '/';
  }
  if (settings_.max_body_bytes == 0) {
    settings_.max_body_bytes = kMaxPictureBytes;
  }
}

std::optional<std::string> PictureDownloader::TelechargerImage(const std::string& url,
                                                               const std::string& numero) {
  std::string image;
  try {
    platform::HttpClient client(settings_);
    image = client.Get(url);
  } catch (const platform::HttpError&) {
    messages_.ShowMessage(kPictureErrorMessage);
    return std::nullopt;
  }

  const std::string stamp = Horodatage(clock_.Now(), date_separator_);
  const std::string suffix = "_" + NumeroPourNomDeFichier(numero) + ".jpeg";
  // Two pictures stamped in the same second must not share a file.
  std::string name = stamp + suffix;
  for (int n = 2; used_names_.count(name) != 0; ++n) {
    name = stamp + "-" + std::to_string(n) + suffix;
  }

  CreerDossierSiAbsent(folder_);
  const std::string path = folder_ + name;
  platform::ReplaceFileContents(path, image);
  used_names_.insert(name);
  return path;
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
