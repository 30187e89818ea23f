// Faults that tests inject per endpoint: a status, a delay, a body of their
// own or a damaged document.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace lumivane::sandbox {

enum class Endpoint { gateway, configurator, retrieval, quote, picture };

std::string_view endpoint_name(Endpoint endpoint);

struct Fault {
  std::optional<int> status;
  int delay_ms = 0;
  std::optional<std::string> body;
  std::optional<std::string> content_type;
  std::string kind;          // empty: the normal document
  std::optional<int> times;  // requests left before the fault clears itself; none: until cleared
};

// What one control request or one --fault argument asks: set a fault on an
// endpoint, or clear it (no fault).
struct FaultSetting {
  Endpoint endpoint;
  std::optional<Fault> fault;
};

// {"endpoint":"quote", "status":500, ...}. Throws std::invalid_argument with
// a short French text for anything it does not understand.
FaultSetting parse_fault(const nlohmann::json& request);

// "quote:{"status":500}", the form of the command line.
FaultSetting parse_fault_argument(std::string_view argument);

}  // namespace lumivane::sandbox
