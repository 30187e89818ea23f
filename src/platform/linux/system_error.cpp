#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

namespace lumivane::platform {

std::string SystemErrorText(int code) {
  const char* reason = nullptr;
  switch (code) {
    case ENOSPC:
      reason = "plus d'espace libre sur le disque";
      break;
    case EDQUOT:
      reason = "quota d'espace disque dépassé";
      break;
    case EACCES:
    case EPERM:
      reason = "accès refusé";
      break;
    case EROFS:
      reason = "le disque est en lecture seule";
      break;
    case ENAMETOOLONG:
      reason = "nom de fichier trop long";
      break;
    case ENOENT:
      reason = "fichier ou dossier introuvable";
      break;
    case EEXIST:
      reason = "le fichier existe déjà";
      break;
    case EISDIR:
      reason = "c'est un dossier";
      break;
    case ENOTDIR:
      reason = "un élément du chemin n'est pas un dossier";
      break;
    case EIO:
      reason = "erreur de lecture ou d'écriture sur le disque";
      break;
    case EBUSY:
    case ETXTBSY:
      reason = "fichier utilisé par un autre programme";
      break;
    case EMFILE:
    case ENFILE:
      reason = "trop de fichiers ouverts";
      break;
    case EFBIG:
      reason = "fichier trop volumineux";
      break;
    case ENOMEM:
      reason = "mémoire insuffisante";
      break;
    default:
      break;
  }
  if (reason != nullptr) return std::string(reason) + " (code " + std::to_string(code) + ")";
  // A rarer reason keeps the system's own words.
  return "erreur système " + std::to_string(code) + " (" + std::strerror(code) + ")";
}

}  // namespace lumivane::platform
