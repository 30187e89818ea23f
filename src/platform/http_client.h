#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/cancellation.h"

namespace lumivane::platform {

// A failed HTTP request: transport failure, refused certificate, time-out,
// oversized body or an answer with a status of 400 or more. The text is short,
// in French, says what failed, and never holds a URL's query string.
class HttpError : public std::runtime_error {
 public:
  explicit HttpError(const std::string& what, long status = 0)
      : std::runtime_error(what), status_(status) {}
  // The HTTP status when the answer itself was an error (>= 400), else 0.
  long status() const { return status_; }

 private:
  long status_;
};

struct HttpSettings {
  // Headers sent on every request; an empty text sends no such header
  // (libcurl's default then applies).
  std::string accept;
  std::string user_agent;
  long connect_timeout_seconds = 30;
  // A transfer that moves no byte for this long is abandoned.
  long stall_timeout_seconds = 60;
  // Largest body accepted; 0 means no limit. Checked while the body arrives.
  std::size_t max_body_bytes = 0;
  long max_redirects = 10;
  // Extra certificate authority file trusted besides the system store
  // (tests only); empty in the module.
  std::string extra_ca_file;
};

// Largest answer the window's clients accept: the gateway's answer, the
// retrieval document and the quote service's answer (a quote of 100,000
// lines is about 39 MB).
inline constexpr std::size_t kMaxDocumentBytes = 64u * 1024u * 1024u;

// The settings of the window's two clients.
HttpSettings WindowClientSettings();

// Connections kept alive between clients that take turns (never two at once):
// the window's two clients, so that the retrieval document's GET and the
// quote's POST share one connection when they go to the same server. Cookies
// stay each client's own.
class SharedConnections;
std::shared_ptr<SharedConnections> MakeSharedConnections();

// Blocking HTTP client over one libcurl easy handle, with its own cookie
// store: cookies received are sent back on this client's later requests only.
// Only http and https are allowed, for the URL and for redirects. A request
// under way stops within 100 ms once the cancellation token is set, throwing
// OperationAnnulee.
class HttpClient {
 public:
  explicit HttpClient(HttpSettings settings = {},
                      std::shared_ptr<SharedConnections> connections = nullptr);
  ~HttpClient();
  HttpClient(HttpClient&&) noexcept;
  HttpClient& operator=(HttpClient&&) noexcept;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // GET; the body's bytes as received (text or binary).
  std::string Get(const std::string& url);
  // POST of `body` with "Content-Type: <content_type>; charset=<charset>".
  std::string Post(const std::string& url, const std::string& body,
                   const std::string& content_type, const std::string& charset);
  // Status code of the last answer (0 before any answer).
  long ResponseCode() const;
  // Content-Type header of the last answer; empty when it had none.
  std::string ContentType() const;
  // Basic authentication with an empty user name and password on later requests.
  void SetBasicAuthentication(bool enabled);
  // The token later requests watch; nullptr for none. Not owned.
  void SetCancellation(const CancellationToken* token);

  const HttpSettings& settings() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// One body to fetch into a file (created or truncated, written as it
// arrives).
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

// Fetches every download at once, at most `per_host` transfers to one host,
// connections kept alive and reused, HTTP/2 multiplexing where the server
// offers it; TLS state and certificates are loaded once for the batch. A
// transient failure (connection reset, time-out, status 502, 503 or 504) is
// tried once more after a short pause. `done` is called on this thread each
// time a download ends for good. Throws OperationAnnulee when the token is
// set: transfers under way are abandoned.
std::vector<FileDownloadResult> DownloadFiles(const std::vector<FileDownload>& downloads,
                                              const HttpSettings& settings, std::size_t per_host,
                                              const CancellationToken* cancel,
                                              const std::function<void(std::size_t)>& done);

// The URL without its query string and fragment, for error texts.
std::string UrlForDisplay(const std::string& url);

// True when the URL starts with "http://" or "https://" (letter case ignored)
// and names a host.
bool IsHttpUrl(const std::string& url);

}  // namespace lumivane::platform
