#pragma once

// Why a system call failed, in the user's words: each system maps its own
// codes to these reasons (platform/system_error.h); the texts are here, once.

#include <string>
#include <string_view>

namespace lumivane::text {

enum class SystemReason {
  kDiskFull,
  kQuotaExceeded,
  kAccessDenied,
  kReadOnly,
  kNameTooLong,
  kNotFound,
  kExists,
  kIsFolder,
  kNotAFolder,
  kIoError,
  kInUse,
  kTooManyOpenFiles,
  kFileTooLarge,
  kOutOfMemory,
  kInvalidName,
  kOther,
};

// "plus d'espace libre sur le disque (code 28)": the reason with the system's
// own code kept for whoever supports the user; a rarer one is "erreur système
// N (<the system's own words>)", or "erreur système (code N)" when the system
// gives no words.
std::string SystemReasonText(SystemReason reason, int code, std::string_view system_words);

// A path that should be a folder and is a file, or no longer a folder.
inline constexpr std::string_view kNotAFolderReason = "ce n'est pas un dossier";

}  // namespace lumivane::text
