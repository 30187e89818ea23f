#include "systeme_win32.h"

#include <shellapi.h>

#include <memory>
#include <stdexcept>

namespace lumivane::app::win32 {

std::wstring Utf16(const std::string& texte) {
  if (texte.empty()) return {};
  const int taille = MultiByteToWideChar(CP_UTF8, 0, texte.data(),
                                         static_cast<int>(texte.size()), nullptr, 0);
  if (taille <= 0) throw std::runtime_error("Texte illisible (UTF-8 attendu).");
  std::wstring resultat(static_cast<std::size_t>(taille), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, texte.data(), static_cast<int>(texte.size()), resultat.data(),
                      taille);
  return resultat;
}

std::string Utf8(const std::wstring& texte) {
  if (texte.empty()) return {};
  const int taille = WideCharToMultiByte(CP_UTF8, 0, texte.data(), static_cast<int>(texte.size()),
                                         nullptr, 0, nullptr, nullptr);
  if (taille <= 0) throw std::runtime_error("Texte illisible (UTF-16 attendu).");
  std::string resultat(static_cast<std::size_t>(taille), '\0');
  WideCharToMultiByte(CP_UTF8, 0, texte.data(), static_cast<int>(texte.size()), resultat.data(),
                      taille, nullptr, nullptr);
  return resultat;
}

std::vector<std::string> ArgumentsUtf8() {
  int nombre = 0;
  const std::unique_ptr<LPWSTR, decltype(&LocalFree)> liste(
      CommandLineToArgvW(GetCommandLineW(), &nombre), &LocalFree);
  if (!liste) throw std::runtime_error("La ligne de commande n'a pas pu être lue.");
  std::vector<std::string> arguments;
  for (int i = 1; i < nombre; ++i) arguments.push_back(Utf8(liste.get()[i]));
  return arguments;
}

bool NavigateurShell::Open(const std::string& url) {
  const auto reponse = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", Utf16(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return reponse > 32;
}

}  // namespace lumivane::app::win32
