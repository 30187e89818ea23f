#include "faults.hpp"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>
#include <vector>

namespace lumivane::sandbox {
namespace {

struct EndpointInfo {
  Endpoint endpoint;
  std::string_view name;
  std::vector<std::string_view> kinds;
};

const std::array<EndpointInfo, 5>& endpoints() {
  static const std::array<EndpointInfo, 5> table = {{
      {Endpoint::gateway,
       "gateway",
       {"null", "empty", "malformed", "drop", "missing", "attributes", "odd"}},
      {Endpoint::configurator, "configurator", {"null", "empty", "malformed", "drop"}},
      {Endpoint::retrieval,
       "retrieval",
       {"null", "empty", "malformed", "drop", "missing", "attributes", "odd"}},
      {Endpoint::quote,
       "quote",
       {"null", "empty", "malformed", "malformed-xml", "drop", "missing", "no-header", "no-lines",
        "attributes", "odd", "not-object", "not-string"}},
      {Endpoint::picture, "picture", {"null", "empty", "malformed", "drop", "png"}},
  }};
  return table;
}

const EndpointInfo& info(Endpoint endpoint) {
  for (const auto& entry : endpoints()) {
    if (entry.endpoint == endpoint) return entry;
  }
  throw std::logic_error("endpoint without description");
}

int non_negative_integer(const nlohmann::json& value, const std::string& field) {
  if (!value.is_number_integer() || value.get<long long>() < 0 ||
      value.get<long long>() > 3'600'000) {
    throw std::invalid_argument("Panne : « " + field + " » doit être un entier positif");
  }
  return value.get<int>();
}

std::string text(const nlohmann::json& value, const std::string& field) {
  if (!value.is_string()) {
    throw std::invalid_argument("Panne : « " + field + " » doit être un texte");
  }
  return value.get<std::string>();
}

}  // namespace

std::string_view endpoint_name(Endpoint endpoint) { return info(endpoint).name; }

FaultSetting parse_fault(const nlohmann::json& request) {
  if (!request.is_object() || !request.contains("endpoint") || !request["endpoint"].is_string()) {
    throw std::invalid_argument("Panne : objet JSON avec « endpoint » attendu");
  }
  const auto name = request["endpoint"].get<std::string>();
  const auto found = std::find_if(endpoints().begin(), endpoints().end(),
                                  [&](const auto& entry) { return entry.name == name; });
  if (found == endpoints().end()) {
    throw std::invalid_argument("Panne : endpoint inconnu « " + name + " »");
  }
  FaultSetting setting{found->endpoint, std::nullopt};
  if (request.size() == 1) return setting;  // the endpoint alone clears its fault

  Fault fault;
  for (const auto& [field, value] : request.items()) {
    if (field == "endpoint") continue;
    if (field == "status") {
      fault.status = non_negative_integer(value, field);
      if (*fault.status < 100 || *fault.status > 599) {
        throw std::invalid_argument("Panne : « status » doit être entre 100 et 599");
      }
    } else if (field == "delay_ms") {
      fault.delay_ms = non_negative_integer(value, field);
    } else if (field == "body") {
      fault.body = text(value, field);
    } else if (field == "content_type") {
      fault.content_type = text(value, field);
    } else if (field == "times") {
      fault.times = non_negative_integer(value, field);
    } else if (field == "kind") {
      fault.kind = text(value, field);
      const auto& kinds = found->kinds;
      if (std::find(kinds.begin(), kinds.end(), fault.kind) == kinds.end()) {
        throw std::invalid_argument("Panne : « " + fault.kind + " » ne s'applique pas à " + name);
      }
    } else {
      throw std::invalid_argument("Panne : champ inconnu « " + field + " »");
    }
  }
  if (fault.times == 0) return setting;  // nothing left to apply
  setting.fault = std::move(fault);
  return setting;
}

FaultSetting parse_fault_argument(std::string_view argument) {
  const auto colon = argument.find(':');
  if (colon == std::string_view::npos) {
    throw std::invalid_argument("--fault attend ENDPOINT:JSON, par exemple quote:{\"status\":500}");
  }
  const auto fields = nlohmann::json::parse(argument.substr(colon + 1), nullptr, false);
  if (fields.is_discarded() || !fields.is_object()) {
    throw std::invalid_argument("--fault : objet JSON illisible après « : »");
  }
  auto request = fields;
  request["endpoint"] = std::string(argument.substr(0, colon));
  return parse_fault(request);
}

}  // namespace lumivane::sandbox
