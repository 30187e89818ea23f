#include "http/transport.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "http/winhttp/winhttp_request.h"

namespace lumivane::http {

struct HttpClient::Impl {
  explicit Impl(http::HttpSettings chosen)
      : settings(chosen), engine(std::make_shared<winhttp::Engine>(std::move(chosen))) {}

  http::HttpSettings settings;
  // Nothing once a cancelled request was left to end on its own.
  std::shared_ptr<winhttp::Engine> engine;
  const base::CancellationToken* cancel = nullptr;

  // What a request run on its own thread gives back.
  struct Outcome {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
    std::string answer;
    std::exception_ptr error;
  };

  std::string Request(const char* method, const std::string& url, const std::string* body,
                      const std::string& content_type_header) {
    if (!engine) throw base::OperationCancelled();
    if (cancel == nullptr || cancel->IsCancelled()) {
      engine->cancel = cancel;
      return engine->Request(method, url, body, content_type_header);
    }
    // Watched from this thread: the request runs on its own, and when the
    // token is set it is abandoned at once. Closing its handle is enough for
    // Windows to end a call under way; Wine's synchronous calls go on until
    // the server answers or the time-out, so the request is left to end on
    // its own thread, with its own copies and its own token.
    const auto outcome = std::make_shared<Outcome>();
    engine->cancel = &engine->abandon;
    std::thread worker([outcome, running = engine, method, url, content_type_header,
                        copy = body != nullptr ? std::optional<std::string>(*body) : std::nullopt] {
      std::string answer;
      std::exception_ptr error;
      try {
        answer = running->Request(method, url, copy ? &*copy : nullptr, content_type_header);
      } catch (...) {
        error = std::current_exception();
      }
      {
        const std::lock_guard lock(outcome->mutex);
        outcome->answer = std::move(answer);
        outcome->error = error;
        outcome->done = true;
      }
      outcome->changed.notify_all();
    });
    std::unique_lock lock(outcome->mutex);
    while (!outcome->changed.wait_for(lock, std::chrono::milliseconds(100),
                                      [&] { return outcome->done; })) {
      if (cancel->IsCancelled()) {
        lock.unlock();
        engine->abandon.Cancel();
        worker.detach();
        engine.reset();
        throw base::OperationCancelled();
      }
    }
    lock.unlock();
    worker.join();
    if (outcome->error) std::rethrow_exception(outcome->error);
    return std::move(outcome->answer);
  }
};

HttpClient::HttpClient(http::HttpSettings settings)
    : impl_(std::make_unique<Impl>(std::move(settings))) {}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

std::string HttpClient::Get(const std::string& url) {
  return impl_->Request("GET", url, nullptr, {});
}

std::string HttpClient::Post(const std::string& url, const std::string& body,
                             const std::string& content_type, const std::string& charset) {
  return impl_->Request("POST", url, &body,
                        content_type + (charset.empty() ? "" : "; charset=" + charset));
}

long HttpClient::ResponseCode() const { return impl_->engine ? impl_->engine->response_code : 0; }

std::string HttpClient::ContentType() const {
  return impl_->engine ? impl_->engine->content_type : std::string();
}

void HttpClient::SetBasicAuthentication(bool enabled) {
  if (impl_->engine) impl_->engine->basic_authentication = enabled;
}

void HttpClient::SetCancellation(const base::CancellationToken* token) { impl_->cancel = token; }

}  // namespace lumivane::http
