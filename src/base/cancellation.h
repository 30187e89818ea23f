#pragma once

#include <atomic>
#include <stdexcept>

namespace lumivane::base {

// Set by the window's thread ("Annuler", the close box), read by the work
// under way, which stops at its next check: transfers check it at least every
// 100 ms.
class CancellationToken {
 public:
  void Cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  bool IsCancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

 private:
  std::atomic<bool> cancelled_{false};
};

// The user stopped the operation: nothing to report, the window closes.
class OperationCancelled : public std::runtime_error {
 public:
  OperationCancelled() : std::runtime_error("Opération annulée par l'utilisateur.") {}
};

}  // namespace lumivane::base
