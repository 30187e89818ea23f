#pragma once

// The system's HTTP client: libcurl on Linux, WinHTTP on Windows. Each moves
// bytes and maps its own error codes to http::Failure; the rules (texts,
// retry, redirects, limits, the journal's line) are the HTTP layer's own
// (src/http/).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/cancellation.h"
#include "http/http.h"

namespace lumivane::http {

// Blocking HTTP client with its own cookie store: cookies received are sent
// back on this client's later requests only. Only http and https are
// allowed, for the URL and for redirects (followed as http/redirect.h says).
// A request under way stops within 100 ms once the cancellation token is set,
// throwing OperationCancelled. Failures throw http::HttpError.
class HttpClient {
 public:
  explicit HttpClient(http::HttpSettings settings = {});
  ~HttpClient();
  HttpClient(HttpClient&&) noexcept;
  HttpClient& operator=(HttpClient&&) noexcept;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // GET; the body's bytes as received (text or binary).
  std::string Get(const std::string& url);
  // POST of `body` with "Content-Type: <content_type>; charset=<charset>".
  std::string Post(const std::string& url, const std::string& body, const std::string& content_type,
                   const std::string& charset);
  // Status code of the last answer (0 before any answer).
  long ResponseCode() const;
  // Content-Type header of the last answer; empty when it had none.
  std::string ContentType() const;
  // Basic authentication with an empty user name and password on later requests.
  void SetBasicAuthentication(bool enabled);
  // The token later requests watch; nullptr for none. Not owned.
  void SetCancellation(const base::CancellationToken* token);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Thrown by DownloadFiles when the bodies received together pass its
// `max_total_bytes`: every transfer is abandoned.
struct DownloadsTooLarge {};

// Fetches every picture, at most `at_once` transfers (and so at most that
// many files open), connections kept alive and reused, HTTP/2 multiplexing
// where the server offers it. A download's file is created new, never over
// an existing file: with libcurl as its transfer starts, with WinHTTP when
// its first byte arrives (or at the end of an empty body). A transient failure
// (http::IsTransient) is tried once more after a short pause, into the same
// file emptied. `done` is called on this thread each time a download ends
// for good. An answer that holds no picture (http::PictureAnswerText) fails
// its download. The file of a failed download may remain: the caller removes
// it. Throws OperationCancelled when the token is set: transfers under way are
// abandoned; with WinHTTP the files they created are removed, with libcurl
// they are left to the caller.
std::vector<http::FileDownloadResult> DownloadFiles(
    const std::vector<http::FileDownload>& downloads, const http::HttpSettings& settings,
    std::size_t at_once, std::uint64_t max_total_bytes, const base::CancellationToken* cancel,
    const std::function<void(std::size_t)>& done);

}  // namespace lumivane::http
