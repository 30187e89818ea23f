#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

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
  // (tests only); empty in the module. Linux only: WinHTTP trusts the
  // Windows store and nothing else.
  std::string extra_ca_file;
};

// The settings of the window's two clients.
HttpSettings WindowClientSettings();

// Blocking HTTP client with its own cookie store: cookies received are sent
// back on this client's later requests only. Only http and https are
// allowed, for the URL and for redirects. Linux: one libcurl easy handle;
// Windows: one WinHTTP session, redirects followed by the client itself.
class HttpClient {
 public:
  explicit HttpClient(HttpSettings settings = {});
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
  // The Content-Type header of the last answer (empty when it had none).
  std::string ContentType() const;
  // Basic authentication with an empty user name and password on later requests.
  void SetBasicAuthentication(bool enabled);

  const HttpSettings& settings() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The URL without its query string and fragment, for error texts.
std::string UrlForDisplay(const std::string& url);

// True when the URL starts with "http://" or "https://" (letter case ignored)
// and names a host.
bool IsHttpUrl(const std::string& url);

}  // namespace lumivane::platform
