// Everything the sandbox remembers between requests, shared by the server's
// worker threads behind one mutex.
#pragma once

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "catalogue.hpp"
#include "faults.hpp"

namespace lumivane::sandbox {

class State {
 public:
  explicit State(std::string base);
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  const std::string& base() const { return base_; }

  // A random hexadecimal text, for tokens and session cookies.
  std::string random_hex(size_t digits);

  void set_fault(FaultSetting setting);
  // The fault of `endpoint`, counting this request against its "times".
  std::optional<Fault> take_fault(Endpoint endpoint);

  // Saves a quote for the session of `token` and answers its id.
  Quote save_quote(const std::string& token, std::vector<QuoteLine> lines);
  // The id of the session's latest quote; the sample quote is saved first
  // when the session has none.
  std::string quote_for_retrieval(const std::string& token);
  std::optional<Quote> find_quote(const std::string& id) const;
  // Lets `alias` find the quote of `id` too (the odd retrieval document).
  void add_alias(const std::string& alias, const std::string& id);

  void set_quote_override(std::optional<std::string> xml);
  std::optional<std::string> quote_override() const;
  void set_retrieval_override(std::optional<std::string> document);
  std::optional<std::string> retrieval_override() const;

  void record(nlohmann::json request);
  nlohmann::json requests() const;

  void reset();

 private:
  Quote save_locked(const std::string& token, std::vector<QuoteLine> lines);

  const std::string base_;
  mutable std::mutex mutex_;
  std::mt19937_64 random_;
  std::map<Endpoint, Fault> faults_;
  std::map<std::string, Quote> quotes_;                // by id (and alias)
  std::map<std::string, std::string> session_quotes_;  // token -> latest quote id
  int next_quote_id_ = 42;
  std::optional<std::string> quote_override_;
  std::optional<std::string> retrieval_override_;
  nlohmann::json requests_ = nlohmann::json::array();
};

// Replaces every "{BASE}" with the base URL.
std::string with_base(std::string text, const std::string& base);

}  // namespace lumivane::sandbox
