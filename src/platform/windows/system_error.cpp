#include "platform/system_error.h"

#include <windows.h>

namespace lumivane::platform {
namespace {
// Missing from mingw-w64's winerror.h.
constexpr DWORD kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED
}  // namespace

std::string SystemErrorText(int code) {
  const char* text = "erreur système";
  switch (static_cast<DWORD>(code)) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      text = "plus d'espace libre sur le disque";
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      text = "accès refusé";
      break;
    case ERROR_WRITE_PROTECT:
    case ERROR_FILE_READ_ONLY:
      text = "le disque est en lecture seule";
      break;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      text = "nom de fichier trop long";
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE:
      text = "fichier ou dossier introuvable";
      break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      text = "le fichier existe déjà";
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      text = "fichier utilisé par un autre programme";
      break;
    case ERROR_INVALID_NAME:
    case ERROR_DIRECTORY:
      text = "nom de fichier non valable";
      break;
    default:
      break;
  }
  return std::string(text) + " (code " + std::to_string(code) + ")";
}

}  // namespace lumivane::platform
