#include "quote/pictures.h"
#include "http/http.h"
#include "text/display.h"

#include <cstdio>

#include "platform/files.h"
#include "report/messages.h"

namespace lumivane::quote {

namespace {

std::string DeuxChiffres(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

std::string AvecSeparateur(std::string folder) {
  // Windows paths may end with either separator.
  if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
  return folder;
}

// The first `limit` bytes of UTF-8 text, never cutting a character.
std::string Debut(const std::string& text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

PictureDownloader::PictureDownloader(std::vector<std::string> folders, platform::Clock& clock,
                                     std::string date_separator, report::MessagePort& messages,
                                     http::HttpSettings settings)
    : folders_(std::move(folders)),
      clock_(clock),
      date_separator_(std::move(date_separator)),
      messages_(messages),
      settings_(std::move(settings)) {
  if (settings_.max_body_bytes == 0) {
    settings_.max_body_bytes = kMaxPictureBytes;
  }
}

PictureDownloader::PictureDownloader(std::string folder, platform::Clock& clock,
                                     std::string date_separator, report::MessagePort& messages,
                                     http::HttpSettings settings)
    : PictureDownloader(std::vector<std::string>{std::move(folder)}, clock,
                        std::move(date_separator), messages, std::move(settings)) {}

PictureDownloader::~PictureDownloader() {
  SupprimerTemporaires();
  // A folder made for pictures that all failed is not left behind.
  if (folder_made_ && stored_.empty()) platform::RemoveEmptyFolder(folder_);
}

void PictureDownloader::ChoisirDossier() {
  if (!folder_.empty()) return;
  // The first folder (beside the executable) is made one level deep, like the
  // folder it stands for; the user's own folder with whatever it lacks.
  std::string reasons;
  bool first = true;
  for (const std::string& candidate : folders_) {
    if (candidate.empty()) continue;
    const std::string folder = AvecSeparateur(candidate);
    const bool existed = platform::FolderExists(folder);
    std::optional<std::string> reason = platform::CreateFolder(folder, !first);
    if (!reason) reason = platform::CheckWritableFolder(folder);
    first = false;
    if (!reason) {
      folder_ = folder;
      folder_made_ = !existed;
      return;
    }
    reasons +=
        (reasons.empty() ? "" : ", ni le dossier ") + text::PourMessage(folder) + " : " + *reason;
  }
  if (reasons.empty()) {
    throw platform::FileError(
        "Le dossier du module est introuvable : les images du devis ne peuvent pas être "
        "enregistrées dans son dossier images.");
  }
  throw platform::FileError("Impossible de créer le dossier des images " + reasons);
}

void PictureDownloader::Precharger(const std::vector<std::string>& urls) {
  std::vector<http::FileDownload> batch;
  std::set<std::string> seen;
  for (const std::string& url : urls) {
    if (url.empty() || downloads_.count(url) != 0 || !seen.insert(url).second) continue;
    batch.push_back({url, {}});
  }
  if (batch.empty()) return;
  ChoisirDossier();
  for (http::FileDownload& download : batch) {
    download.path = platform::TemporaryPathIn(folder_);
    downloads_[download.url].temporary = download.path;
  }
  const std::size_t total = batch.size();
  const auto done = [this, total](std::size_t finished) {
    if (progression_) progression_(finished, total);
  };
  const std::vector<http::FileDownloadResult> results =
      platform::DownloadFiles(batch, settings_, kPicturesPerHost, cancel_, done);
  for (std::size_t i = 0; i < batch.size(); ++i) {
    Telechargee& entry = downloads_[batch[i].url];
    entry.result = results[i];
    if (!entry.result.ok) {
      platform::RemoveFile(entry.temporary);
      entry.temporary.clear();
    }
  }
}

std::optional<std::string> PictureDownloader::TelechargerImage(const std::string& url,
                                                               const std::string& numero) {
  if (downloads_.count(url) == 0) Precharger({url});
  Telechargee& entry = downloads_.at(url);
  if (entry.result.file_error) throw platform::FileError(entry.result.error);
  if (!entry.result.ok) {
    messages_.ShowMessage(kPictureErrorMessage);
    return std::nullopt;
  }

  const std::string stamp = Horodatage(clock_.Now(), date_separator_);
  // Two pictures stamped in the same second must not share a file.
  std::string name = NomImage(stamp, "", numero);
  for (int n = 2; used_names_.count(name) != 0; ++n) {
    name = NomImage(stamp, "-" + std::to_string(n), numero);
  }
  const std::string path = folder_ + name;
  if (!entry.temporary.empty()) {
    platform::MoveFileOver(entry.temporary, path);
    entry.temporary.clear();
    entry.stored = path;
  } else {
    // The same picture for another line: a file of its own all the same.
    platform::CopyFileBytes(entry.stored, path);
  }
  used_names_.insert(name);
  stored_.push_back(path);
  return path;
}

void PictureDownloader::Synchroniser() { platform::SyncFiles(stored_, folder_); }

void PictureDownloader::SupprimerImagesEnregistrees() {
  // Pictures of a retrieval that failed are of no use to the host, and a retry
  // would add a second set of them.
  for (const std::string& path : stored_) platform::RemoveFile(path);
  stored_.clear();
  used_names_.clear();
  SupprimerTemporaires();
  downloads_.clear();
}

void PictureDownloader::SupprimerTemporaires() {
  for (auto& [url, entry] : downloads_) {
    if (!entry.temporary.empty()) platform::RemoveFile(entry.temporary);
    entry.temporary.clear();
  }
}

std::string NomImage(const std::string& stamp, const std::string& rang, const std::string& numero) {
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
