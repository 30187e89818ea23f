#pragma once

// The HTTP layer's words, the same on every system: what a request is given,
// what a failure is, what a download gives back.

#include <cstddef>
#include <stdexcept>
#include <string>

#include "base/limits.h"

namespace lumivane::http {

// Why a request failed. Each system's transport maps its own error codes to
// these; the texts the user reads are made from them in one place
// (failure.h).
enum class Failure {
  kNone,
  kStatus,                 // an answer with a status of 400 or more
  kSchemeRefused,          // the URL is not http or https
  kRedirectSchemeRefused,  // a redirect to anything but http or https
  kRedirectDowngrade,      // a redirect from https to http
  kTooManyRedirects,
  kMalformedUrl,
  kHostNotFound,
  kProxyNotFound,
  kProxyAuthentication,  // the proxy asks for an identification (407)
  kProxyRefused,         // the proxy would not open the way to the server
  kProxyUnreachable,     // no connection to the proxy could be made
  kLocalResource,        // this machine refused (open-file limit, no buffers)
  kUnreachable,          // no connection could be made
  kConnectTimeout,       // the connection was not made in time
  kStalled,              // connected, but the server stopped sending
  kCertificateRefused,
  kSecureChannel,        // the TLS handshake failed
  kInterrupted,          // the server closed or reset the connection
  kNotHttp,              // the answer was not HTTP
  kHeadersTooLarge,      // the answer's headers passed what is accepted
  kBodyTooLarge,         // the answer's body passed max_body_bytes
  kRequestBodyTooLarge,  // the request's body is larger than the system sends
  kOutOfMemory,
  kClientSetup,  // the system's HTTP client could not be made
  kOther,        // any other code of the system's client
};

// A failed HTTP request. The text is short, in French, says what failed, and
// never holds a URL's query string.
class HttpError : public std::runtime_error {
 public:
  explicit HttpError(const std::string& what, long status = 0, Failure kind = Failure::kOther)
      : std::runtime_error(what), status_(status), kind_(status >= 400 ? Failure::kStatus : kind) {}
  // The HTTP status when the answer itself was an error (>= 400), else 0.
  long status() const { return status_; }
  Failure kind() const { return kind_; }

 private:
  long status_;
  Failure kind_;
};

struct HttpSettings {
  // Headers sent on every request; an empty text sends no such header
  // (the system client's default then applies).
  std::string accept;
  std::string user_agent;
  long connect_timeout_seconds = base::kConnectTimeoutSeconds;
  // A transfer that moves fewer bytes than seconds over this period is
  // abandoned.
  long stall_timeout_seconds = base::kStallTimeoutSeconds;
  // Largest body accepted; 0 means no limit. Checked while the body arrives.
  std::size_t max_body_bytes = 0;
  long max_redirects = base::kMaxRedirects;
  // Extra certificate authority file trusted besides the system store
  // (tests only, Linux); empty in the module.
  std::string extra_ca_file;
};

// The settings of the window's two clients.
HttpSettings WindowClientSettings();

// One body to fetch into a new file at `path`, written as it arrives
// (http::DownloadFiles says when the file is created).
struct FileDownload {
  std::string url;
  std::string path;
};

struct FileDownloadResult {
  bool ok = false;
  std::string error;  // French, without query string, when not ok
  long status = 0;    // HTTP status of the last answer, 0 without one
  int attempts = 0;
  bool file_error = false;  // the file could not be written (not the network)
};

}  // namespace lumivane::http
