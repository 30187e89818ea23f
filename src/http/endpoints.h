#pragma once

#include <stdexcept>
#include <string>

namespace lumivane::http {

inline constexpr const char* kGatewayTokenPath = "/index.php/Services/jeton";
inline constexpr const char* kQuoteServicePath = "/test/B2B/WSQuotes.svc/GetDataQuote";

struct Endpoints {
  std::string gateway_base;        // scheme://host[:port], no trailing slash
  std::string quote_service_base;  // scheme://host[:port], no trailing slash
};

class EndpointError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The base URLs fixed at build time, overridden by LUMIVANE_GATEWAY_URL and
// LUMIVANE_QUOTE_SERVICE_URL. A value that is not an http or https URL throws
// EndpointError with a message for the user.
Endpoints LoadEndpoints();

}  // namespace lumivane::http
