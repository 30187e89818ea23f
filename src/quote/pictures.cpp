#include "quote/pictures.h"
#include "http/http.h"
#include "text/display.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "platform/files.h"
#include "report/journal.h"
#include "report/messages.h"
#include "text/encoding.h"
#include "text/user_texts.h"

namespace lumivane::quote {

namespace {

std::string TwoDigits(int value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

// A run's private folder holds this file, held while the run lives; once
// held, the run writes kHeldMark into it.
constexpr const char* kHeldName = "held";
constexpr std::string_view kHeldMark = "held\n";

using platform::FolderEntry;

bool Old(platform::FileTime modified) {
  return std::chrono::system_clock::now() - modified > std::chrono::hours(base::kLeftoverAgeHours);
}

// Whether the private folder `path` (ending with a separator) belongs to a
// run that is over. Its file is free and marked: the run that marked it
// held it first, and the system let go when that run ended. Where the
// system keeps no locks, or the run died before marking it, only age tells:
// nothing in it written for a day (a retrieval lasts minutes).
bool IsAbandonedPrivateFolder(const std::string& path, const FolderEntry& entry) {
  const platform::HeldFile::Probe probe = platform::HeldFile::Look(path + kHeldName);
  using State = platform::HeldFile::Probe::State;
  if (probe.state == State::kHeld) return false;
  if (probe.state == State::kFree && probe.contents == kHeldMark) return true;
  if (!Old(entry.modified)) return false;
  for (const FolderEntry& inside : platform::EntriesOf(path)) {
    if (!Old(inside.modified)) return false;
  }
  return true;
}

}  // namespace

void RemoveLeftovers(const std::string& folder, bool private_folders) {
  std::size_t removed = 0;
  for (const FolderEntry& entry : platform::EntriesOf(folder, platform::kTemporaryPrefix)) {
    if (!entry.own) continue;
    if (entry.kind == FolderEntry::Kind::kFile &&
        platform::IsModuleName(entry.name, platform::kTemporarySuffix) && Old(entry.modified)) {
      platform::RemoveFile(folder + entry.name);
      ++removed;
    } else if (private_folders && entry.kind == FolderEntry::Kind::kFolder &&
               platform::IsModuleName(entry.name, platform::kStagingSuffix)) {
      const std::string path = folder + entry.name;
      if (IsAbandonedPrivateFolder(platform::WithTrailingSeparator(path), entry) &&
          platform::RemoveOwnFolderOfFiles(path)) {
        ++removed;
      }
    }
  }
  if (removed != 0) {
    report::journal::Note("restes d'un lancement interrompu supprimés dans " + folder + " : " +
                          std::to_string(removed) + " élément(s)");
  }
}

std::string PicturesTooLargeMessage() {
  return text::UserMessage(text::UserText::kPicturesTooLarge,
                           {std::to_string(base::kMaxRetrievalPictureBytes / (1024 * 1024))});
}

std::string RemainingFailuresMessage(std::size_t autres) {
  return text::UserMessage(text::UserText::kMorePicturesFailed, {std::to_string(autres)});
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
  // Pictures named but never handed over are of no use to anyone.
  for (const std::string& path : stored_) platform::RemoveFile(path);
  CloseStagingFolder();
}

void PictureDownloader::ChooseFolder() {
  if (!folder_.empty()) return;
  // The first folder (beside the executable) is made one level deep, like the
  // folder it stands for; the user's own folder with whatever it lacks. A
  // folder made here stays: another module may have chosen it meanwhile.
  std::string message;  // why each folder could not be used
  bool first = true;
  for (const std::string& candidate : folders_) {
    if (candidate.empty()) continue;
    const std::string folder = platform::WithTrailingSeparator(candidate);
    std::optional<std::string> reason = platform::CreateFolder(folder, !first);
    if (!reason) reason = platform::CheckWritableFolder(folder);
    first = false;
    if (!reason) {
      folder_ = folder;
      RemoveLeftovers(folder_, true);
      return;
    }
    message = message.empty()
                  ? text::UserMessage(text::UserText::kCannotCreatePicturesFolder,
                                      {text::ValueForMessage(folder), *reason})
                  : text::UserMessage(text::UserText::kNorFolder,
                                      {message, text::ValueForMessage(folder), *reason});
  }
  if (message.empty()) {
    throw platform::FileError(text::UserMessage(text::UserText::kModuleFolderUnknown));
  }
  throw platform::FileError(message);
}

// A folder of this run's own, made new, that only the user may open.
void PictureDownloader::OpenStagingFolder() {
  if (!staging_.empty()) return;
  std::string path;
  do {
    path = platform::TemporaryPathIn(folder_, platform::kStagingSuffix);
  } while (!platform::CreatePrivateFolder(path));
  staging_ = platform::WithTrailingSeparator(path);
  try {
    if (held_.Create(staging_ + kHeldName)) held_.Append(kHeldMark);
  } catch (...) {
    CloseStagingFolder();
    throw;
  }
}

void PictureDownloader::CloseStagingFolder() noexcept {
  if (staging_.empty()) return;
  for (auto& [url, entry] : downloads_) {
    if (!entry.temporary.empty()) platform::RemoveFile(entry.temporary);
    entry.temporary.clear();
  }
  // Transfers abandoned on their own threads (Windows) may still hold files
  // here for a moment: the folder then stays with its held file, which
  // tells the next retrieval once this run has ended. Never waited for.
  const std::vector<FolderEntry> inside = platform::EntriesOf(staging_);
  if (inside.empty() || (inside.size() == 1 && inside[0].name == kHeldName)) {
    held_.Remove();
    platform::RemoveEmptyFolder(staging_);
  }
  staging_.clear();
}

void PictureDownloader::CheckTotal(std::uint64_t bytes) const {
  if (bytes > base::kMaxRetrievalPictureBytes) {
    throw std::runtime_error(PicturesTooLargeMessage());
  }
}

void PictureDownloader::Prefetch(const std::vector<std::string>& urls) {
  std::vector<http::FileDownload> batch;
  std::set<std::string> seen;
  for (const std::string& url : urls) {
    if (url.empty() || downloads_.count(url) != 0 || !seen.insert(url).second) continue;
    batch.push_back({url, {}});
  }
  if (batch.empty()) return;
  ChooseFolder();
  OpenStagingFolder();
  for (http::FileDownload& download : batch) {
    download.path = staging_ + "image-" + std::to_string(++staged_);
    downloads_[download.url].temporary = download.path;
  }
  const std::size_t total = batch.size();
  const auto done = [this, total](std::size_t finished) {
    if (progress_) progress_(finished, total);
  };
  std::vector<http::FileDownloadResult> results;
  try {
    results = http::DownloadFiles(batch, settings_, kPictureTransfersAtOnce,
                                  base::kMaxRetrievalPictureBytes, cancel_, done);
  } catch (const http::DownloadsTooLarge&) {
    throw std::runtime_error(PicturesTooLargeMessage());
  }
  for (std::size_t i = 0; i < batch.size(); ++i) {
    Download& entry = downloads_[batch[i].url];
    entry.result = results[i];
    if (entry.result.ok) entry.bytes = platform::FileSize(entry.temporary).value_or(0);
    if (!entry.result.ok) {
      platform::RemoveFile(entry.temporary);
      entry.temporary.clear();
    }
  }
  // Each line gets a file of its own: a picture counts as often as lines
  // name it, before any copy is made.
  std::uint64_t named = named_bytes_;
  for (const std::string& url : urls) {
    if (const auto found = downloads_.find(url); found != downloads_.end()) {
      named += found->second.bytes;
    }
  }
  CheckTotal(named);
}

std::optional<std::string> PictureDownloader::TelechargerImage(const std::string& url,
                                                               const std::string& numero) {
  if (cancel_ != nullptr && cancel_->IsCancelled()) throw base::OperationCancelled();
  if (downloads_.count(url) == 0) Prefetch({url});
  Download& entry = downloads_.at(url);
  if (entry.result.file_error) throw platform::FileError(entry.result.error);
  if (!entry.result.ok) {
    if (++failures_ <= base::kPictureFailureMessages) {
      messages_.ShowMessage(text::UserMessage(text::UserText::kPictureFailed));
    }
    return std::nullopt;
  }
  CheckTotal(named_bytes_ + entry.bytes);

  const std::string stamp = TimeStamp(clock_.Now(), date_separator_);
  // The same picture for another line: a file of its own all the same, made
  // by the system's copy in the private folder, then named like the others.
  const bool copy = entry.temporary.empty();
  std::string source = entry.temporary;
  if (copy) {
    source = staging_ + "copie-" + std::to_string(++staged_);
    platform::CopyToNewFile(entry.stored, source);
  }
  std::string path;
  try {
    path = Claim(source, stamp, numero);
  } catch (...) {
    if (copy) platform::RemoveFile(source);
    throw;
  }
  named_bytes_ += entry.bytes;
  if (!copy) {
    entry.temporary.clear();
    entry.stored = path;
  }
  return path;
}

// The first free name of the stamp: names given in this retrieval and files
// already there (another module's, an earlier run's) are never replaced.
std::string PictureDownloader::Claim(const std::string& temporary, const std::string& stamp,
                                     const std::string& numero) {
  for (int n = 1;; ++n) {
    const std::string name = PictureFileName(stamp, n == 1 ? "" : "-" + std::to_string(n), numero);
    if (!used_names_.insert(name).second) continue;
    if (!platform::MoveFileToFreeName(temporary, folder_ + name)) continue;
    stored_.push_back(folder_ + name);
    return folder_ + name;
  }
}

void PictureDownloader::ReportRemainingFailures() {
  if (failures_ > base::kPictureFailureMessages) {
    messages_.ShowMessage(RemainingFailuresMessage(failures_ - base::kPictureFailureMessages));
  }
}

void PictureDownloader::Sync() {
  if (!stored_.empty()) platform::SyncFolder(folder_);
}

void PictureDownloader::HandOver() {
  stored_.clear();
  CloseStagingFolder();
}

void PictureDownloader::RemoveStoredPictures() {
  // Pictures of a retrieval that failed are of no use to the host, and a retry
  // would add a second set of them.
  for (const std::string& path : stored_) platform::RemoveFile(path);
  stored_.clear();
  used_names_.clear();
  failures_ = 0;
  named_bytes_ = 0;
  CloseStagingFolder();
  downloads_.clear();
}

std::string PictureFileName(const std::string& stamp, const std::string& rang,
                            const std::string& numero) {
  const std::string safe = NumberForFileName(numero);
  const std::size_t fixed = stamp.size() + rang.size() + 1 + 5;  // "_" and ".jpeg"
  const std::size_t room = fixed < kMaxPictureNameBytes ? kMaxPictureNameBytes - fixed : 0;
  return stamp + rang + "_" + std::string(text::Utf8Prefix(safe, room)) + ".jpeg";
}

std::string TimeStamp(const platform::LocalDateTime& t, const std::string& date_separator) {
  char year[16];
  std::snprintf(year, sizeof year, "%04d", t.year);
  std::string stamp = year + date_separator + TwoDigits(t.month) + date_separator +
                      TwoDigits(t.day) + "_" + TwoDigits(t.hour) + TwoDigits(t.minute) +
                      TwoDigits(t.second);
  std::erase(stamp, '/');
  return stamp;
}

std::string NumberForFileName(const std::string& numero) {
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
