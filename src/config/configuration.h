#pragma once

#include <string>

#include "platform/messages.h"

namespace lumivane::config {

// The five values read from the configuration file, as the window keeps them.
struct Configuration {
  std::string Version;          // General/Version, default "0"
  std::string Configurateur;    // General/Configurateur
  std::string Identifiant;      // Utilisateur/Identifiant
  std::string MotDePasse;       // Utilisateur/MotDePasse
  std::string JetonPasserelle;  // Update/DevisId
};

// Reads the configuration file at `path` into `fields`. Returns true when no
// file exists there: the message has then been shown and no field changed.
// Returns false after a read, every field set (absent keys give defaults).
bool ChargerConfiguration(const std::string& path, Configuration& fields,
                          platform::MessagePort& messages);

}  // namespace lumivane::config
