#pragma once

// Each failure's text (from the table of the user's texts) and the one retry
// rule, for every system's transport.

#include <string>
#include <string_view>
#include <utility>

#include "http/http.h"

namespace lumivane::http {

// What a transport knows of a failure besides its kind.
struct FailureDetail {
  FailureDetail(Failure failure_kind, long system_code = 0, std::string redirect_target = {})
      : kind(failure_kind), code(system_code), target(std::move(redirect_target)) {}

  Failure kind;
  // The system client's own code, shown for kOther ("erreur libcurl 43");
  // the proxy's status for kProxyRefused; the system's error code for
  // kLocalResource.
  long code;
  // The address a refused redirect led to; the proxy ("host:port") for the
  // proxy's failures.
  std::string target;
};

// The user's text for a failed request to `url`.
std::string FailureText(const FailureDetail& failure, const HttpSettings& settings,
                        const std::string& url);

// An answer with an error status: "Le serveur a répondu 503 Service
// Unavailable : <address>" (the reason phrase as text::ServerWords shows
// it). A 407 is the proxy's, named by `proxy` ("host:port", the peer the
// request went to).
std::string StatusText(long status, std::string_view reason, const std::string& url,
                       const std::string& proxy = {});

// The error for an answer with an error status (StatusText as its text).
HttpError StatusError(long status, std::string_view reason, const std::string& url,
                      const std::string& proxy = {});

// How many of a downloaded body's first bytes PictureAnswerText looks at.
inline constexpr std::size_t kPictureHeadBytes = 512;

// Whether a download's answer is a picture: only a 200 whose body is not
// empty and is not a web page (a portal's or an expired session's login
// page). Any image format passes: the host stores what it is given. Empty
// when it is one, else the text of the failure, naming the status. `head` is
// the body's first kPictureHeadBytes bytes (or fewer), `size` its length.
std::string PictureAnswerText(long status, std::string_view reason, std::string_view head,
                              std::size_t size, const std::string& url);

// Whether `more` bytes after `received` go past the body limit (0: none).
bool ExceedsBodyLimit(const HttpSettings& settings, std::size_t received, std::size_t more);

// The error for a failure, with its status when the answer was an error.
HttpError MakeError(const FailureDetail& failure, const HttpSettings& settings,
                    const std::string& url);

// The system's HTTP client could not be made.
HttpError ClientSetupError();

// A downloaded body that could not be written to its file.
std::string FileWriteText(const std::string& path, int system_code);

// Failures worth a second try: the network, not the request (a reset, a
// time-out, an interrupted answer, 502, 503 or 504).
bool IsTransient(Failure kind, long status);

// Whether a download that failed after `attempts` tries is tried once more.
bool ShouldRetry(int attempts, Failure kind, long status);

}  // namespace lumivane::http
