#include "platform/error_text.h"

#include <cerrno>

namespace lumivane::platform {

std::string SystemErrorText(int code) {
  const char* text = "Erreur système";
  switch (code) {
    case ENOSPC:
    case EDQUOT:
      text = "Espace disque insuffisant";
      break;
    case EACCES:
    case EPERM:
      text = "Accès refusé";
      break;
    case EROFS:
      text = "Support en lecture seule";
      break;
    case ENAMETOOLONG:
      text = "Nom de fichier trop long";
      break;
    case ENOENT:
    case ENOTDIR:
      text = "Fichier ou dossier introuvable";
      break;
    case EEXIST:
      text = "Le fichier existe déjà";
      break;
    case EISDIR:
      text = "C'est un dossier";
      break;
    case EBUSY:
    case ETXTBSY:
      text = "Fichier utilisé par un autre programme";
      break;
    default:
      break;
  }
  return std::string(text) + " (code " + std::to_string(code) + ")";
}

}  // namespace lumivane::platform
