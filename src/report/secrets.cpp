#include "report/secrets.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "text/encoding.h"

namespace lumivane::report {
namespace {

// Shared by the window's thread and the transfers' threads.
struct Registry {
  std::mutex mutex;
  std::vector<std::string> secrets;
  std::string kept;
};

// Never destroyed: a transfer ending on its own thread at exit still writes
// its journal line through it.
Registry& Secrets() {
  static Registry* const registry = new Registry;
  return *registry;
}

}  // namespace

void AddSecret(std::string_view secret) {
  Registry& registry = Secrets();
  const std::lock_guard lock(registry.mutex);
  if (secret.empty() || std::find(registry.secrets.begin(), registry.secrets.end(), secret) !=
                            registry.secrets.end()) {
    return;
  }
  registry.secrets.emplace_back(secret);
}

std::string Masked(std::string_view text) {
  Registry& registry = Secrets();
  const std::lock_guard lock(registry.mutex);
  return text::MaskSecrets(text, registry.secrets);
}

void KeepInMessageBox(std::string_view address) {
  Registry& registry = Secrets();
  const std::lock_guard lock(registry.mutex);
  registry.kept = address;
}

std::string MaskedForMessageBox(std::string_view text) {
  Registry& registry = Secrets();
  const std::lock_guard lock(registry.mutex);
  if (registry.kept.empty()) return text::MaskSecrets(text, registry.secrets);
  std::string shown;
  for (std::size_t at = text.find(registry.kept); at != std::string_view::npos;
       at = text.find(registry.kept)) {
    shown += text::MaskSecrets(text.substr(0, at), registry.secrets) + registry.kept;
    text.remove_prefix(at + registry.kept.size());
  }
  return shown + text::MaskSecrets(text, registry.secrets);
}

}  // namespace lumivane::report
