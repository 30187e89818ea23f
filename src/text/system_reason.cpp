#include "text/system_reason.h"

namespace lumivane::text {
namespace {

const char* Words(SystemReason reason) {
  switch (reason) {
    case SystemReason::kDiskFull:
      return "plus d'espace libre sur le disque";
    case SystemReason::kQuotaExceeded:
      return "quota d'espace disque dépassé";
    case SystemReason::kAccessDenied:
      return "accès refusé";
    case SystemReason::kReadOnly:
      return "le disque est en lecture seule";
    case SystemReason::kNameTooLong:
      return "nom de fichier trop long";
    case SystemReason::kNotFound:
      return "fichier ou dossier introuvable";
    case SystemReason::kExists:
      return "le fichier existe déjà";
    case SystemReason::kIsFolder:
      return "c'est un dossier";
    case SystemReason::kNotAFolder:
      return "un élément du chemin n'est pas un dossier";
    case SystemReason::kIoError:
      return "erreur de lecture ou d'écriture sur le disque";
    case SystemReason::kInUse:
      return "fichier utilisé par un autre programme";
    case SystemReason::kTooManyOpenFiles:
      return "trop de fichiers ouverts";
    case SystemReason::kFileTooLarge:
      return "fichier trop volumineux";
    case SystemReason::kOutOfMemory:
      return "mémoire insuffisante";
    case SystemReason::kInvalidName:
      return "nom de fichier non valable";
    case SystemReason::kOther:
      break;
  }
  return nullptr;
}

}  // namespace

std::string SystemReasonText(SystemReason reason, int code, std::string_view system_words) {
  if (const char* words = Words(reason)) {
    return std::string(words) + " (code " + std::to_string(code) + ")";
  }
  if (system_words.empty()) return "erreur système (code " + std::to_string(code) + ")";
  return "erreur système " + std::to_string(code) + " (" + std::string(system_words) + ")";
}

}  // namespace lumivane::text
