#include "state.hpp"

#include <utility>

namespace lumivane::sandbox {

State::State(std::string base) : base_(std::move(base)), random_(std::random_device{}()) {}

std::string State::random_hex(size_t digits) {
  static constexpr char hex[] = "0123456789abcdef";
  std::lock_guard lock(mutex_);
  std::string text;
  while (text.size() < digits) {
    auto bits = random_();
    for (int i = 0; i < 16 && text.size() < digits; ++i, bits >>= 4) text += hex[bits & 0xF];
  }
  return text;
}

void State::set_fault(FaultSetting setting) {
  std::lock_guard lock(mutex_);
  if (setting.fault) {
    faults_[setting.endpoint] = std::move(*setting.fault);
  } else {
    faults_.erase(setting.endpoint);
  }
}

std::optional<Fault> State::take_fault(Endpoint endpoint) {
  std::lock_guard lock(mutex_);
  const auto found = faults_.find(endpoint);
  if (found == faults_.end()) return std::nullopt;
  auto fault = found->second;
  if (found->second.times && --*found->second.times <= 0) faults_.erase(found);
  return fault;
}

Quote State::save_locked(const std::string& token, std::vector<QuoteLine> lines) {
  const int number = next_quote_id_++;
  Quote quote{std::to_string(number), quote_number(number), std::move(lines)};
  quotes_[quote.id] = quote;
  session_quotes_[token] = quote.id;
  return quote;
}

Quote State::save_quote(const std::string& token, std::vector<QuoteLine> lines) {
  std::lock_guard lock(mutex_);
  return save_locked(token, std::move(lines));
}

std::string State::quote_for_retrieval(const std::string& token) {
  std::lock_guard lock(mutex_);
  const auto found = session_quotes_.find(token);
  if (found != session_quotes_.end()) return found->second;
  return save_locked(token, sample_lines(base_)).id;
}

std::optional<Quote> State::find_quote(const std::string& id) const {
  std::lock_guard lock(mutex_);
  const auto found = quotes_.find(id);
  if (found == quotes_.end()) return std::nullopt;
  return found->second;
}

void State::add_alias(const std::string& alias, const std::string& id) {
  std::lock_guard lock(mutex_);
  const auto found = quotes_.find(id);
  if (found != quotes_.end()) quotes_[alias] = found->second;
}

void State::set_quote_override(std::optional<std::string> xml) {
  std::lock_guard lock(mutex_);
  quote_override_ = std::move(xml);
}

std::optional<std::string> State::quote_override() const {
  std::lock_guard lock(mutex_);
  return quote_override_;
}

void State::set_retrieval_override(std::optional<std::string> document) {
  std::lock_guard lock(mutex_);
  retrieval_override_ = std::move(document);
}

std::optional<std::string> State::retrieval_override() const {
  std::lock_guard lock(mutex_);
  return retrieval_override_;
}

void State::record(nlohmann::json request) {
  std::lock_guard lock(mutex_);
  requests_.push_back(std::move(request));
}

nlohmann::json State::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void State::reset() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  quotes_.clear();
  session_quotes_.clear();
  next_quote_id_ = 42;
  quote_override_.reset();
  retrieval_override_.reset();
  requests_ = nlohmann::json::array();
}

std::string with_base(std::string text, const std::string& base) {
  static constexpr std::string_view marker = "{BASE}";
  for (auto at = text.find(marker); at != std::string::npos;
       at = text.find(marker, at + base.size())) {
    text.replace(at, marker.size(), base);
  }
  return text;
}

}  // namespace lumivane::sandbox
