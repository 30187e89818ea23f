#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/http_client.h"
#include "platform/messages.h"

namespace lumivane::quote {

inline constexpr const char* kPictureErrorMessage =
    "Une erreur est survenue lors du téléchargement de l'image";
inline constexpr std::size_t kMaxPictureBytes = 50u * 1024u * 1024u;
// Longest picture file name, in bytes: within every file system the module
// runs on, with room for the folder in a path.
inline constexpr std::size_t kMaxPictureNameBytes = 150;

// Downloads line pictures into one folder during one retrieval.
class PictureDownloader {
 public:
  PictureDownloader(std::string folder, platform::Clock& clock, std::string date_separator,
                    platform::MessagePort& messages, platform::HttpSettings settings = {});

  // Downloads `url` and stores it as <stamp>_<numero>.jpeg in the folder.
  // Returns the picture path; nothing (after the message) when the download
  // failed. A folder or file that cannot be written throws FileError.
  std::optional<std::string> TelechargerImage(const std::string& url, const std::string& numero);

  const std::string& folder() const { return folder_; }

  // Removes the pictures this downloader stored (a retrieval that failed).
  void SupprimerImagesEnregistrees();

 private:
  std::string folder_;  // ends with '/'
  platform::Clock& clock_;
  std::string date_separator_;
  platform::MessagePort& messages_;
  platform::HttpSettings settings_;
  std::set<std::string> used_names_;
  std::vector<std::string> stored_;
};

// <stamp><rang>_<number>.jpeg, the number made safe for a file name and
// shortened (its start kept) so that the name holds at most
// kMaxPictureNameBytes bytes.
std::string NomImage(const std::string& stamp, const std::string& rang,
                     const std::string& numero);

// "yyyy<sep>mm<sep>dd_hhmmss" with every "/" removed.
std::string Horodatage(const platform::LocalDateTime& t, const std::string& date_separator);

// The quote number made safe for a file name: \ / : * ? " < > | and control
// characters become "_".
std::string NumeroPourNomDeFichier(const std::string& numero);

}  // namespace lumivane::quote
