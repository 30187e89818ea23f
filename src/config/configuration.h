#pragma once

#include <string>
#include <string_view>

#include "report/messages.h"

namespace lumivane::config {

// The five values read from the configuration file, as the window keeps them.
struct Configuration {
  std::string Version;          // General/Version, default "0"
  std::string Configurateur;    // General/Configurateur
  std::string Identifiant;      // Utilisateur/Identifiant
  std::string MotDePasse;       // Utilisateur/MotDePasse
  std::string JetonPasserelle;  // Update/DevisId
};

// The five values held by the bytes of a configuration file; a key that is
// absent gives its default ("0" for Version, empty text for the others).
// Accepts any bytes: UTF-8 (with or without byte-order mark), UTF-16 with its
// byte-order mark, anything else as Windows-1252.
Configuration LireConfiguration(std::string_view bytes);

// Reads the configuration file at `path` into `fields`. The answer says
// whether the module must close (true means failure, as the host's own
// function answers): true when no file exists there, or when something is
// there but it cannot be read, is not a regular file or is larger than 1 MiB:
// the message naming the path has then been shown, no field changed. False
// after a read, every field set (absent keys give defaults).
bool ChargerConfiguration(const std::string& path, Configuration& fields,
                          report::MessagePort& messages);

}  // namespace lumivane::config
