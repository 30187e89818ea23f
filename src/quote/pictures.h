#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/cancellation.h"
#include "base/limits.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/http_transport.h"
#include "report/messages.h"

namespace lumivane::quote {

inline constexpr const char* kPictureErrorMessage =
    "Une erreur est survenue lors du téléchargement de l'image";
using base::kMaxPictureBytes;
using base::kMaxPictureNameBytes;
using base::kPicturesPerHost;

// The line pictures of one retrieval. Precharger() downloads every picture of
// the quote into temporary files of the pictures folder; then, line by line
// and in line order, TelechargerImage() gives each its name (so names are
// those a download one after the other would give) or shows the failure
// message. Synchroniser() makes them durable together, before the exchange
// file is written. Pictures not claimed are removed with the downloader.
//
// Several modules may share the folder: a name is claimed, never replaced
// (one taken gets the next "-n"), and a module removes only the files it
// made. Until Remettre() (the exchange file is in place), a record held by
// this run names its pictures: when the run dies before, the next retrieval
// finds the record no longer held and removes what it names.
class PictureDownloader {
 public:
  using Progression = std::function<void(std::size_t done, std::size_t total)>;

  // `folders`: where the pictures may go, in order of preference (beside the
  // executable, then the user's own folder); the first that can be created
  // and written serves the whole retrieval.
  PictureDownloader(std::vector<std::string> folders, platform::Clock& clock,
                    std::string date_separator, report::MessagePort& messages,
                    http::HttpSettings settings = {});
  PictureDownloader(std::string folder, platform::Clock& clock, std::string date_separator,
                    report::MessagePort& messages, http::HttpSettings settings = {});
  ~PictureDownloader();
  PictureDownloader(PictureDownloader&&) = default;
  PictureDownloader(const PictureDownloader&) = delete;
  PictureDownloader& operator=(const PictureDownloader&) = delete;

  void SetCancellation(const base::CancellationToken* token) { cancel_ = token; }
  // The exchange file this retrieval writes, named in the run's record.
  void SetFichierEchange(std::string path) { fichier_echange_ = std::move(path); }
  void SetProgression(Progression progression) { progression_ = std::move(progression); }

  // Downloads every URL not downloaded yet (each distinct URL once). A folder
  // that cannot be used throws FileError; the token, OperationAnnulee.
  void Precharger(const std::vector<std::string>& urls);

  // The picture of one line, stored as <stamp>_<numero>.jpeg: its path; or,
  // after the message, nothing when its download failed. Downloads it first
  // when Precharger() did not. A file that cannot be written throws FileError.
  std::optional<std::string> TelechargerImage(const std::string& url, const std::string& numero);

  // The message for the failed pictures past the first few shown one by
  // one, when there were more; once all lines are named.
  void SignalerEchecsRestants();

  // The pictures stored so far reach the disk, all in one go.
  void Synchroniser();

  // The exchange file naming the pictures is in place: they are the host's
  // now, and the run's record of them goes.
  void Remettre();

  // Removes the pictures this downloader stored (a retrieval that failed).
  void SupprimerImagesEnregistrees();

  // The folder chosen, ending with '/'; empty before the first download.
  const std::string& folder() const { return folder_; }

 private:
  struct Telechargee {
    std::string temporary;  // the body as downloaded, until claimed
    std::string stored;     // the first line's file, once claimed
    http::FileDownloadResult result;
  };

  void ChoisirDossier();
  void SupprimerTemporaires();
  std::string Reclamer(const std::string& temporary, const std::string& stamp,
                       const std::string& numero);

  std::vector<std::string> folders_;
  std::string folder_;  // ends with '/'
  bool folder_made_ = false;
  platform::Clock& clock_;
  std::string date_separator_;
  report::MessagePort& messages_;
  http::HttpSettings settings_;
  const base::CancellationToken* cancel_ = nullptr;
  Progression progression_;
  std::map<std::string, Telechargee> downloads_;
  std::set<std::string> used_names_;
  std::vector<std::string> stored_;
  std::string fichier_echange_;
  std::unique_ptr<platform::HeldFile> record_;  // while pictures are not the host's
  std::size_t echecs_ = 0;                      // failed pictures of this retrieval
};

// Removes what runs that died left in `folder`: temporary files of the
// module's naming older than a day, and the pictures named by a record no
// run holds any more, unless its exchange file was written after them.
void SupprimerRestes(const std::string& folder);

// "Une erreur est survenue lors du téléchargement de <n> autres images…"
std::string MessageEchecsRestants(std::size_t autres);

// <stamp><rang>_<number>.jpeg, the number made safe for a file name and
// shortened (its start kept) so that the name holds at most
// kMaxPictureNameBytes bytes.
std::string NomImage(const std::string& stamp, const std::string& rang, const std::string& numero);

// "yyyy<sep>mm<sep>dd_hhmmss" with every "/" removed.
std::string Horodatage(const platform::LocalDateTime& t, const std::string& date_separator);

// The quote number made safe for a file name: \ / : * ? " < > | and control
// characters become "_".
std::string NumeroPourNomDeFichier(const std::string& numero);

}  // namespace lumivane::quote
