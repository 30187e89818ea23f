#include "http/transport.h"

#include <curl/curl.h>

#include <chrono>
#include <utility>

#include "base/limits.h"
#include "http/failure.h"
#include "http/redirect.h"
#include "http/request_journal.h"
#include "http/curl/curl_transfer.h"

namespace lumivane::http {

using curl::HeaderList;
using curl::SetOption;

struct HttpClient::Impl {
  http::HttpSettings settings;
  // Drives the one transfer, so that it can be watched and abandoned.
  curl::Multi multi;
  curl::Easy handle;
  curl::Transfer transfer;
  long response_code = 0;
  const base::CancellationToken* cancel = nullptr;

  // The request with its redirects, and its line in the journal.
  std::string Request(const char* method, const std::string& url, HeaderList headers) {
    return http::NotedRequest(method, url, response_code, transfer.received,
                              [&] { return Perform(method, url, std::move(headers)); });
  }

  std::string Perform(const std::string& method, const std::string& url, HeaderList headers) {
    response_code = 0;
    http::RedirectChain chain(method, url, settings);
    if (cancel != nullptr && cancel->IsCancelled()) throw base::OperationCancelled();
    CURL* h = handle.get();
    if (!settings.accept.empty()) {
      headers = curl::AppendHeader(std::move(headers), "Accept: " + settings.accept);
    }
    struct ForgetHeaders {
      CURL* handle;
      ~ForgetHeaders() { curl_easy_setopt(handle, CURLOPT_HTTPHEADER, nullptr); }
    } forget_headers{h};
    SetOption(h, CURLOPT_HTTPHEADER, headers.get());
    bool body_sent = !chain.body_dropped();
    http::RunRequest(chain, [&](const http::RedirectChain& request) {
      if (body_sent && request.body_dropped()) {
        body_sent = false;
        SetOption(h, CURLOPT_HTTPGET, 1L);
        // The body's type goes with the body.
        headers.reset();
        if (!settings.accept.empty()) {
          headers = curl::AppendHeader(std::move(headers), "Accept: " + settings.accept);
        }
        SetOption(h, CURLOPT_HTTPHEADER, headers.get());
      }
      SetOption(h, CURLOPT_URL, request.url().c_str());
      transfer.Reset();
      const CURLcode result = Run();
      response_code = transfer.Status();
      if (result != CURLE_OK) throw http::MakeError(transfer.Map(result), settings, request.url());
      return http::ExchangeAnswer{response_code, transfer.RedirectTarget(),
                                  std::string(transfer.ReasonPhrase()), transfer.Peer()};
    });
    return std::exchange(transfer.body, {});
  }

  // The transfer to its end, or to the token.
  CURLcode Run() {
    CURL* h = handle.get();
    if (curl_multi_add_handle(multi.get(), h) != CURLM_OK) throw std::bad_alloc();
    struct Remove {
      CURLM* multi;
      CURL* handle;
      ~Remove() { curl_multi_remove_handle(multi, handle); }
    } remove{multi.get(), h};
    for (;;) {
      int running = 0;
      if (curl_multi_perform(multi.get(), &running) != CURLM_OK) return CURLE_OUT_OF_MEMORY;
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) return message->data.result;
      }
      if (cancel != nullptr && cancel->IsCancelled()) throw base::OperationCancelled();
      curl_multi_poll(multi.get(), nullptr, 0, base::kCancellationPollMilliseconds, nullptr);
    }
  }
};

HttpClient::HttpClient(http::HttpSettings settings) : impl_(std::make_unique<Impl>()) {
  impl_->settings = std::move(settings);
  impl_->multi = curl::NewMulti();
  impl_->handle = curl::NewEasy();
  curl::ConfigureHandle(impl_->handle.get(), impl_->settings, &impl_->transfer);
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

std::string HttpClient::Get(const std::string& url) {
  SetOption(impl_->handle.get(), CURLOPT_HTTPGET, 1L);
  return impl_->Request("GET", url, nullptr);
}

std::string HttpClient::Post(const std::string& url, const std::string& body,
                             const std::string& content_type, const std::string& charset) {
  HeaderList headers;
  headers =
      curl::AppendHeader(std::move(headers), "Content-Type: " + content_type +
                                                 (charset.empty() ? "" : "; charset=" + charset));
  // No "Expect: 100-continue" round trip before larger bodies.
  headers = curl::AppendHeader(std::move(headers), "Expect:");

  CURL* h = impl_->handle.get();
  // The handle must not keep pointing at `body` once this call is over.
  struct ForgetBody {
    CURL* handle;
    ~ForgetBody() { curl_easy_setopt(handle, CURLOPT_POSTFIELDS, nullptr); }
  } forget_body{h};
  SetOption(h, CURLOPT_POST, 1L);
  SetOption(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  SetOption(h, CURLOPT_POSTFIELDS, body.data());
  return impl_->Request("POST", url, std::move(headers));
}

long HttpClient::ResponseCode() const { return impl_->response_code; }

std::string HttpClient::ContentType() const {
  char* type = nullptr;
  if (curl_easy_getinfo(impl_->handle.get(), CURLINFO_CONTENT_TYPE, &type) != CURLE_OK ||
      type == nullptr) {
    return {};
  }
  return type;
}

void HttpClient::SetBasicAuthentication(bool enabled) {
  CURL* h = impl_->handle.get();
  if (enabled) {
    SetOption(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    SetOption(h, CURLOPT_USERPWD, ":");
  } else {
    SetOption(h, CURLOPT_USERPWD, static_cast<const char*>(nullptr));
  }
}

void HttpClient::SetCancellation(const base::CancellationToken* token) { impl_->cancel = token; }

}  // namespace lumivane::http
