#include "quote/pictures.h"
#include "http/http.h"
#include "text/display.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "platform/files.h"
#include "report/journal.h"
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

// A name a record may hold: a picture of this folder, nothing else.
bool NomImageDuDossier(const std::string& name) {
  return name.size() > 5 && name.ends_with(".jpeg") &&
         name.find_first_of("/\\") == std::string::npos &&
         !name.starts_with(platform::kTemporaryPrefix);
}

// A record no run holds any more: its run died before its exchange file was
// written, or after. Its pictures go unless that exchange file was written
// after the last of them (the host may read them). An empty record is a
// run's just made, unless it is old. The number of files removed.
std::size_t SupprimerImagesAbandonnees(const std::string& folder,
                                       const platform::FolderEntry& entry, bool old) {
  const std::optional<std::string> record = platform::HeldFile::ReadAbandoned(folder + entry.name);
  if (!record || (record->empty() && !old)) return 0;
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < record->size();) {
    const std::size_t end = std::min(record->find('\n', start), record->size());
    lines.push_back(record->substr(start, end - start));
    start = end + 1;
  }
  std::size_t removed = 0;
  const auto exchange = lines.empty() ? std::nullopt : platform::LastWritten(lines.front());
  if (!exchange || *exchange < entry.modified) {
    for (std::size_t i = 1; i < lines.size(); ++i) {
      if (!NomImageDuDossier(lines[i]) || !platform::FileExists(folder + lines[i])) continue;
      platform::RemoveFile(folder + lines[i]);
      ++removed;
    }
  }
  platform::RemoveFile(folder + entry.name);
  return removed + 1;
}

}  // namespace

void SupprimerRestes(const std::string& folder) {
  const auto now = std::chrono::system_clock::now();
  const auto age = std::chrono::hours(base::kLeftoverAgeHours);
  std::size_t removed = 0;
  for (const platform::FolderEntry& entry : platform::RegularFilesIn(folder)) {
    if (!entry.name.starts_with(platform::kTemporaryPrefix)) continue;
    const bool old = now - entry.modified > age;
    if (entry.name.ends_with(platform::kTemporarySuffix) && old) {
      platform::RemoveFile(folder + entry.name);
      ++removed;
    } else if (entry.name.ends_with(platform::kRecordSuffix)) {
      removed += SupprimerImagesAbandonnees(folder, entry, old);
    }
  }
  if (removed != 0) {
    report::journal::Note("restes d'un lancement interrompu supprimés dans " + folder + " : " +
                          std::to_string(removed) + " fichier(s)");
  }
}

std::string MessageEchecsRestants(std::size_t autres) {
  return "Une erreur est survenue lors du téléchargement de " + std::to_string(autres) +
         " autres images : leurs lignes sont écrites sans image.";
}

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
  // Pictures neither handed over nor removed stay named by the record,
  // which the next retrieval finds abandoned.
  if (record_ && stored_.empty()) record_->Remove();
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
      SupprimerRestes(folder_);
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
  std::vector<http::FileDownloadResult> results;
  try {
    results = platform::DownloadFiles(batch, settings_, kPicturesPerHost,
                                      base::kMaxRetrievalPictureBytes, cancel_, done);
  } catch (const platform::DownloadsTooLarge&) {
    throw std::runtime_error(
        "Les images du devis dépassent " +
        std::to_string(base::kMaxRetrievalPictureBytes / (1024 * 1024)) +
        " Mo au total : la récupération est arrêtée, rien n'a été écrit dans le fichier "
        "d'échange.");
  }
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
    if (++echecs_ <= base::kPictureFailureMessages) messages_.ShowMessage(kPictureErrorMessage);
    return std::nullopt;
  }

  const std::string stamp = Horodatage(clock_.Now(), date_separator_);
  // The same picture for another line: a file of its own all the same.
  const bool copy = entry.temporary.empty();
  const std::string source =
      copy ? platform::CopyToTemporary(entry.stored, folder_) : entry.temporary;
  std::string path;
  try {
    path = Reclamer(source, stamp, numero);
  } catch (...) {
    if (copy) platform::RemoveFile(source);
    throw;
  }
  if (!copy) {
    entry.temporary.clear();
    entry.stored = path;
  }
  return path;
}

// The first free name of the stamp: names given in this retrieval and files
// already there (another module's, an earlier run's) are never replaced.
std::string PictureDownloader::Reclamer(const std::string& temporary, const std::string& stamp,
                                        const std::string& numero) {
  if (!record_) {
    auto record = std::make_unique<platform::HeldFile>();
    record->Create(platform::TemporaryPathIn(folder_, platform::kRecordSuffix));
    try {
      record->Append(fichier_echange_ + "\n");
    } catch (...) {
      record->Remove();
      throw;
    }
    record_ = std::move(record);
  }
  for (int n = 1;; ++n) {
    const std::string name = NomImage(stamp, n == 1 ? "" : "-" + std::to_string(n), numero);
    if (!used_names_.insert(name).second) continue;
    if (!platform::MoveFileToFreeName(temporary, folder_ + name)) continue;
    stored_.push_back(folder_ + name);
    record_->Append(name + "\n");
    return folder_ + name;
  }
}

void PictureDownloader::SignalerEchecsRestants() {
  if (echecs_ > base::kPictureFailureMessages) {
    messages_.ShowMessage(MessageEchecsRestants(echecs_ - base::kPictureFailureMessages));
  }
}

// The record first: once the pictures are on the disk, it names them there
// too, whatever cuts the power before the exchange file is written.
void PictureDownloader::Synchroniser() {
  if (record_) record_->Flush();
  platform::SyncFiles(stored_, folder_);
}

void PictureDownloader::Remettre() {
  if (record_) record_->Remove();
  record_.reset();
}

void PictureDownloader::SupprimerImagesEnregistrees() {
  // Pictures of a retrieval that failed are of no use to the host, and a retry
  // would add a second set of them.
  for (const std::string& path : stored_) platform::RemoveFile(path);
  stored_.clear();
  used_names_.clear();
  echecs_ = 0;
  Remettre();
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
