#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "process.h"

namespace lumivane::testing {

// The stand-in services (lumivane-sandbox) on a free port of 127.0.0.1,
// stopped with SIGTERM when the object goes. The helpers talk to its
// /_control endpoints and throw std::runtime_error when it refuses.
class Sandbox {
 public:
  Sandbox();
  Sandbox(Sandbox&&) noexcept = default;
  Sandbox& operator=(Sandbox&&) noexcept = default;
  ~Sandbox();

  // "http://127.0.0.1:<port>", without a trailing slash.
  const std::string& BaseUrl() const { return base_url_; }

  // Sets the fault of one endpoint ("gateway", "retrieval", "quote",
  // "picture", "configurator"): `fields` as in {"status":500} or {"kind":"drop"}.
  void SetFault(const std::string& endpoint, nlohmann::json fields);
  void ClearFault(const std::string& endpoint);
  // Quote XML served for every quote id; {BASE} stands for BaseUrl().
  void SetQuote(const std::string& xml);
  // Retrieval document served by /recuperation; {BASE} as above.
  void SetRetrieval(const std::string& xml);
  void Reset();
  // Body of a GET of `path` (e.g. "/images/porte.jpg"); throws unless 200.
  std::string Get(const std::string& path) const;
  // Every request received so far, oldest first.
  nlohmann::json Requests() const;
  // The requests whose path is `path`.
  nlohmann::json RequestsTo(const std::string& path) const;

 private:
  void Post(const std::string& path, const std::string& body, const std::string& type) const;

  Process server_;
  std::string base_url_;
  std::string host_;
  int port_ = 0;
};

// A URL of 127.0.0.1 on a port that nothing listens on.
std::string ClosedLocalUrl();

}  // namespace lumivane::testing
