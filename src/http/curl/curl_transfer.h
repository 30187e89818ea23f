#pragma once

// libcurl behind the HTTP transport (internal to the Linux platform layer):
// easy and multi handles, one transfer's state, and libcurl's codes mapped to
// the HTTP layer's failures.

#include <curl/curl.h>

#include <memory>
#include <string>

#include "http/failure.h"
#include "http/http.h"
#include "text/user_texts.h"

namespace lumivane::http::curl {

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Multi = std::unique_ptr<CURLM, MultiDeleter>;

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

Easy NewEasy();
Multi NewMulti();
HeaderList AppendHeader(HeaderList list, const std::string& header);

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
  if (curl_easy_setopt(handle, option, value) != CURLE_OK) {
    throw http::HttpError(text::UserMessage(text::UserText::kNetworkLibrarySetting), 0,
                          http::Failure::kClientSetup);
  }
}

// The state of one transfer: the body goes into `body`, or into the file
// `fd` when there is one. The body of a redirect that is followed and of an
// error answer is not kept.
struct Transfer {
  const http::HttpSettings* settings = nullptr;
  CURL* handle = nullptr;
  std::string body;
  int fd = -1;
  // The first bytes written to `fd`, for http::PictureAnswerText.
  std::string head;
  std::size_t received = 0;
  bool body_too_large = false;
  int write_errno = 0;   // the file could not be written
  int socket_errno = 0;  // the system refused the connection's socket
  std::string status_line;
  bool has_location = false;  // the current answer names a Location
  char error_text[CURL_ERROR_SIZE] = {};

  void Reset();
  // The reason phrase of the last status line ("Internal Server Error").
  std::string ReasonPhrase() const;
  long Status() const;
  // The peer the request went to, "host:port": the proxy when one is used.
  std::string Peer() const;
  // libcurl's code as the HTTP layer's failure.
  http::FailureDetail Map(CURLcode result) const;
  // The redirect the answer asks for, resolved by libcurl; empty for none.
  std::string RedirectTarget() const;
};

// Everything but the URL, the method and the headers. Redirects are not
// followed by libcurl: the caller follows them as http::RedirectChain says.
void ConfigureHandle(CURL* handle, const http::HttpSettings& settings, Transfer* transfer);

}  // namespace lumivane::http::curl
