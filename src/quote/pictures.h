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
#include "http/transport.h"
#include "report/messages.h"

namespace lumivane::quote {

using base::kMaxPictureBytes;
using base::kMaxPictureNameBytes;
using base::kPictureTransfersAtOnce;

// The line pictures of one retrieval. Prefetch() downloads every picture of
// the quote into a private folder of this run inside the pictures folder,
// each file on the disk as soon as it has arrived; then, line by line and in
// line order, TelechargerImage() moves each into the pictures folder under
// its name (so names are those a download one after the other would give) or
// shows the failure message. Sync() makes the names durable, before
// the exchange file is written.
//
// Several modules may share the folder: a name is claimed, never replaced
// (one taken gets the next "-n"). A picture that reached the folder is never
// removed by another run: only this one removes its own, when its retrieval
// fails. The private folder is held while the run lives; a later run removes
// it only once it is provably dead (see RemoveLeftovers).
class PictureDownloader {
 public:
  using Progress = std::function<void(std::size_t done, std::size_t total)>;

  // `folders`: where the pictures may go, in order of preference (beside the
  // executable, then the user's own folder); the first that can be created
  // and written serves the whole retrieval.
  PictureDownloader(std::vector<std::string> folders, platform::Clock& clock,
                    std::string date_separator, report::MessagePort& messages,
                    http::HttpSettings settings = {});
  PictureDownloader(std::string folder, platform::Clock& clock, std::string date_separator,
                    report::MessagePort& messages, http::HttpSettings settings = {});
  ~PictureDownloader();
  PictureDownloader(const PictureDownloader&) = delete;
  PictureDownloader& operator=(const PictureDownloader&) = delete;

  void SetCancellation(const base::CancellationToken* token) { cancel_ = token; }
  void SetProgress(Progress progression) { progress_ = std::move(progression); }

  // Downloads every URL not downloaded yet (each distinct URL once). A folder
  // that cannot be used throws FileError; the token, OperationCancelled;
  // pictures past kMaxRetrievalPictureBytes together, counting a picture as
  // often as its lines name it, std::runtime_error.
  void Prefetch(const std::vector<std::string>& urls);

  // The picture of one line, stored as <stamp>_<numero>.jpeg: its path; or,
  // after the message, nothing when its download failed. Downloads it first
  // when Prefetch() did not. A file that cannot be written throws FileError.
  std::optional<std::string> TelechargerImage(const std::string& url, const std::string& numero);

  // The message for the failed pictures past the first few shown one by
  // one, when there were more; once all lines are named.
  void ReportRemainingFailures();

  // The names given so far reach the disk.
  void Sync();

  // The exchange file naming the pictures is in place: they are the host's
  // now, and this run's private folder goes.
  void HandOver();

  // Removes the pictures this downloader stored (a retrieval that failed).
  void RemoveStoredPictures();

  // The folder chosen, ending with a separator; empty before the first download.
  const std::string& folder() const { return folder_; }

 private:
  struct Download {
    std::string temporary;  // the body as downloaded, until claimed
    std::string stored;     // the first line's file, once claimed
    std::uint64_t bytes = 0;
    http::FileDownloadResult result;
  };

  void ChooseFolder();
  void OpenStagingFolder();
  void CloseStagingFolder() noexcept;
  void CheckTotal(std::uint64_t bytes) const;
  std::string Claim(const std::string& temporary, const std::string& stamp,
                    const std::string& numero);

  std::vector<std::string> folders_;
  std::string folder_;   // ends with a separator
  std::string staging_;  // this run's private folder, ends with a separator
  platform::HeldFile held_;
  std::size_t staged_ = 0;  // files made in the private folder
  platform::Clock& clock_;
  std::string date_separator_;
  report::MessagePort& messages_;
  http::HttpSettings settings_;
  const base::CancellationToken* cancel_ = nullptr;
  Progress progress_;
  std::map<std::string, Download> downloads_;
  std::set<std::string> used_names_;
  std::vector<std::string> stored_;  // named in the folder, not the host's yet
  std::uint64_t named_bytes_ = 0;    // of the pictures named, copies included
  std::size_t failures_ = 0;         // failed pictures of this retrieval
};

// Removes what runs that died left in `folder` (which ends with a
// separator), and only what is provably theirs: files of the module's exact
// temporary name form, regular, the user's own and older than a day; with
// `private_folders`, the private folders of runs that are provably dead
// (see the .cpp). Nothing else, never through a link.
void RemoveLeftovers(const std::string& folder, bool private_folders);

// "Les images du devis dépassent … Mo au total : …"
std::string PicturesTooLargeMessage();

// "Une erreur est survenue lors du téléchargement de <n> autres images…"
std::string RemainingFailuresMessage(std::size_t autres);

// <stamp><rang>_<number>.jpeg, the number made safe for a file name and
// shortened (its start kept) so that the name holds at most
// kMaxPictureNameBytes bytes.
std::string PictureFileName(const std::string& stamp, const std::string& rang,
                            const std::string& numero);

// "yyyy<sep>mm<sep>dd_hhmmss" with every "/" removed.
std::string TimeStamp(const platform::LocalDateTime& t, const std::string& date_separator);

// The quote number made safe for a file name: \ / : * ? " < > | and control
// characters become "_".
std::string NumberForFileName(const std::string& numero);

}  // namespace lumivane::quote
