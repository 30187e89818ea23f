#include "http/winhttp/winhttp_request.h"
#include "http/http.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstdlib>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "base/limits.h"
#include "http/redirect.h"
#include "http/request_journal.h"
#include "http/url.h"
#include "platform/windows/wide.h"

namespace lumivane::http::winhttp {
namespace {

using http::Failure;

// What the client was doing when WinHTTP failed: a time-out means a slow
// connection in the first phase and a silent server in the second.
enum class Phase { kConnecting, kReceiving };

// A WinHTTP or Winsock code as the HTTP layer's failure. Wine reports
// several failures with other codes than Windows (a time-out as 10060 or
// 12002, a refused certificate as 12157, 12175, 12045 or 12038, a cancelled
// request as 6 or 12017), so each family is matched as a whole.
http::FailureDetail Map(DWORD code, Phase phase) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return {phase == Phase::kConnecting ? Failure::kConnectTimeout : Failure::kStalled};
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
      return {Failure::kMalformedUrl};
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case WSAHOST_NOT_FOUND:
      return {Failure::kHostNotFound};
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return {Failure::kUnreachable};
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return {Failure::kCertificateRefused};
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return {Failure::kNotHttp};
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
      return {Failure::kHeadersTooLarge};
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_OPERATION_CANCELLED:
    case ERROR_INVALID_HANDLE:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return {Failure::kInterrupted};
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return {Failure::kOutOfMemory};
    case WSAEMFILE:
    case WSAENOBUFS:
      return {Failure::kLocalResource, static_cast<long>(code)};
    default:
      return {Failure::kOther, static_cast<long>(code)};
  }
}

std::wstring QueryHeader(HINTERNET request, DWORD what) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

// `location` read against `base`, as a browser resolves a relative Location.
std::string ResolveLocation(const std::string& base, const std::string& location) {
  const std::wstring wide_base = platform::windows::Wide(base);
  const std::wstring wide_location = platform::windows::Wide(location);
  std::wstring combined(wide_base.size() + wide_location.size() + 64, L'\0');
  DWORD size = static_cast<DWORD>(combined.size());
  HRESULT result = UrlCombineW(wide_base.c_str(), wide_location.c_str(), combined.data(), &size, 0);
  if (result == E_POINTER) {
    combined.assign(size + 1, L'\0');
    size = static_cast<DWORD>(combined.size());
    result = UrlCombineW(wide_base.c_str(), wide_location.c_str(), combined.data(), &size, 0);
  }
  if (FAILED(result)) return location;
  combined.resize(size);
  return platform::windows::Utf8(combined);
}

// libcurl's low-speed rule for WinHTTP: once the request is sent, fewer
// bytes than seconds over a whole stall period abandons it. WinHTTP alone
// cannot do this: its receive time-out bounds one silent wait only, and under
// Wine a read can sit for as long as a server trickles its body. So a watch
// thread counts what the reads deliver and, when a period ends short, closes
// the request handle: that cancels the call that waits. The same thread looks
// at the cancellation token every 100 ms and closes the handle when it is
// set, from the moment the request is opened.
class RequestWatch {
 public:
  enum class Outcome { kNone, kStalled, kCancelled };

  RequestWatch(HINTERNET request, long stall_seconds, const base::CancellationToken* cancel)
      : request_(request),
        period_(std::chrono::seconds(std::max<long>(stall_seconds, 1))),
        minimum_(static_cast<std::size_t>(std::max<long>(stall_seconds, 1))),
        cancel_(cancel),
        thread_([this] { Run(); }) {}
  ~RequestWatch() { Stop(); }
  RequestWatch(const RequestWatch&) = delete;
  RequestWatch& operator=(const RequestWatch&) = delete;

  // The request is sent: the stall rule applies from now on.
  void Arm() { armed_ = true; }
  void Received(std::size_t bytes) { received_ += bytes; }

  // Ends the watch. Anything but kNone means the watch closed the request
  // handle, which must not be used or closed again.
  Outcome Stop() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    return outcome_;
  }

 private:
  void Run() {
    using Clock = std::chrono::steady_clock;
    const auto tick = std::chrono::milliseconds(base::kCancellationPollMilliseconds);
    std::unique_lock lock(mutex_);
    std::optional<Clock::time_point> period_start;
    std::size_t counted = 0;
    while (!done_) {
      if (wake_.wait_for(lock, tick, [this] { return done_; })) break;
      if (cancel_ != nullptr && cancel_->IsCancelled()) return Close(Outcome::kCancelled);
      if (!armed_) continue;
      const auto now = Clock::now();
      if (!period_start) {
        period_start = now;
        counted = received_;
        continue;
      }
      if (now - *period_start < period_) continue;
      const std::size_t received = received_;
      if (received - counted < minimum_) return Close(Outcome::kStalled);
      counted = received;
      period_start = now;
    }
  }

  void Close(Outcome outcome) {
    WinHttpCloseHandle(request_);
    outcome_ = outcome;
  }

  HINTERNET request_;
  std::chrono::seconds period_;
  std::size_t minimum_;
  const base::CancellationToken* cancel_;
  std::atomic<bool> armed_{false};
  std::atomic<std::size_t> received_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  Outcome outcome_ = Outcome::kNone;
  std::thread thread_;
};

// The status a proxy gives, asked directly, for a tunnel to `target`; 0 when
// it cannot be asked. Wine fails an https request whose tunnel the proxy
// refused as if the server's certificate had been refused, and keeps no
// status: this asks the proxy again, through WinHTTP, for the same tunnel.
DWORD TunnelStatus(const std::string& proxy, const UrlParts& target) {
  // "host:port", "http://host:port" or a list "http=host:port;https=host:port".
  std::string entry = proxy;
  if (const std::size_t https = entry.find("https="); https != std::string::npos) {
    entry = entry.substr(https + 6);
  } else if (const std::size_t equals = entry.find('='); equals != std::string::npos) {
    entry = entry.substr(equals + 1);
  }
  entry = entry.substr(0, entry.find(';'));
  if (const std::size_t scheme = entry.find("://"); scheme != std::string::npos) {
    entry = entry.substr(scheme + 3);
  }
  const std::size_t colon = entry.rfind(':');
  const std::string host = entry.substr(0, colon);
  const int port = colon == std::string::npos ? 80 : std::atoi(entry.c_str() + colon + 1);
  if (host.empty() || port <= 0 || port > 65535) return 0;
  const Internet session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return 0;
  WinHttpSetTimeouts(session.get(), 0, 5000, 5000, 5000);
  const Internet connection(WinHttpConnect(session.get(), platform::windows::Wide(host).c_str(),
                                           static_cast<INTERNET_PORT>(port), 0));
  if (!connection) return 0;
  const std::wstring authority =
      platform::windows::Wide(target.host + ":" + std::to_string(http::PortNumber(target)));
  const Internet request(WinHttpOpenRequest(connection.get(), L"CONNECT", authority.c_str(),
                                            nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, 0));
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!request ||
      !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr) ||
      !WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return status;
}

// One request on the wire: sent, its answer's headers read, its body read
// unless it is a redirect or an error.
class Exchange {
 public:
  Exchange(Engine& engine, const std::string& url, const UrlParts& parts)
      : engine_(engine), url_(url), parts_(parts) {}

  // The answer; its body in `received_body` (or to `sink`) when it is kept.
  http::ExchangeAnswer Run(const std::wstring& method, const std::string* body,
                           const std::string& content_type_header, const BodySink* sink,
                           std::string& received_body);

 private:
  [[noreturn]] void Fail(DWORD code, Phase phase) {
    const http::FailureDetail failure = Map(code, phase);
    throw http::MakeError(failure, engine_.settings, url_);
  }
  // A failed send or receive on `request`. Behind a proxy, the proxy's own
  // refusal of the tunnel comes first: Wine fails the request with an
  // unrelated code (a refused certificate) where its status is still known.
  [[noreturn]] void Fail(HINTERNET request, DWORD code, Phase phase) {
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!proxy_.empty() &&
        !WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX) &&
        parts_.scheme == "https" && Map(code, phase).kind == Failure::kCertificateRefused) {
      status = TunnelStatus(proxy_, parts_);
    }
    if (!proxy_.empty() && status != 0) {
      if (status == 407) {
        throw http::MakeError({Failure::kProxyAuthentication, 0, proxy_}, engine_.settings, url_);
      }
      if (status >= 300) {
        throw http::MakeError({Failure::kProxyRefused, static_cast<long>(status), proxy_},
                              engine_.settings, url_);
      }
    }
    // Behind a proxy, WinHTTP resolves and reaches the proxy alone: the
    // server's name and connection are the proxy's business.
    http::FailureDetail failure = Map(code, phase);
    if (!proxy_.empty() && failure.kind == Failure::kHostNotFound) {
      failure = {Failure::kProxyNotFound};
    } else if (!proxy_.empty() && failure.kind == Failure::kUnreachable) {
      failure = {Failure::kProxyUnreachable, 0, proxy_};
    }
    throw http::MakeError(failure, engine_.settings, url_);
  }
  Internet Open(const std::wstring& method, HINTERNET connection);
  std::wstring Headers(bool with_body, const std::string& content_type_header) const;
  http::ExchangeAnswer Receive(HINTERNET request, RequestWatch& watch, const BodySink* sink,
                               std::string& received_body);
  std::string ReadBody(HINTERNET request, RequestWatch& watch, const BodySink* sink);

  Engine& engine_;
  const std::string& url_;
  const UrlParts& parts_;
  std::string proxy_;  // the proxy chosen for the request, empty for none
};

}  // namespace

namespace {

Internet Exchange::Open(const std::wstring& method, HINTERNET connection) {
  Internet request(WinHttpOpenRequest(connection, method.c_str(),
                                      platform::windows::Wide(http::RequestTarget(parts_)).c_str(),
                                      nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                      parts_.scheme == "https" ? WINHTTP_FLAG_SECURE : 0));
  if (!request) Fail(GetLastError(), Phase::kConnecting);
  const auto milliseconds = [](long seconds) {
    return static_cast<int>(std::clamp<long>(seconds, 1, 24 * 3600) * 1000);
  };
  const int connect = milliseconds(engine_.settings.connect_timeout_seconds);
  const int stall = milliseconds(engine_.settings.stall_timeout_seconds);
  // Name resolution without limit of its own, as with libcurl.
  WinHttpSetTimeouts(request.get(), 0, connect, stall, stall);
  // The receive time-out does not cover the wait for the answer's headers.
  DWORD response_timeout = static_cast<DWORD>(stall);
  WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                   sizeof response_timeout);
  // Redirects are followed by the engine and not by WinHTTP, which would
  // follow ftp:// and file:// targets as relative paths and fails a POST
  // answered by 302 under Wine. Certificates are checked against the
  // Windows store: no security flag is ever lowered.
  DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
  ProxySettings::Choice choice = engine_.proxy.For(engine_.session.get(), parts_);
  if (choice.access == WINHTTP_ACCESS_TYPE_NAMED_PROXY)
    proxy_ = platform::windows::Utf8(choice.proxy);
  choice.ApplyTo(request.get());
  return request;
}

std::wstring Exchange::Headers(bool with_body, const std::string& content_type_header) const {
  const std::string& accept = engine_.settings.accept;
  std::wstring headers =
      L"Accept: " + platform::windows::Wide(accept.empty() ? "*/*" : accept) + L"\r\n";
  if (with_body)
    headers += L"Content-Type: " + platform::windows::Wide(content_type_header) + L"\r\n";
  // Sent at once, as libcurl does, not after a challenge: base64 of ":".
  if (engine_.basic_authentication) headers += L"Authorization: Basic Og==\r\n";
  return headers;
}

http::ExchangeAnswer Exchange::Run(const std::wstring& method, const std::string* body,
                                   const std::string& content_type_header, const BodySink* sink,
                                   std::string& received_body) {
  Internet connection(WinHttpConnect(engine_.session.get(),
                                     platform::windows::Wide(parts_.host).c_str(),
                                     static_cast<INTERNET_PORT>(http::PortNumber(parts_)), 0));
  if (!connection) Fail(GetLastError(), Phase::kConnecting);
  Internet request = Open(method, connection.get());
  const std::wstring headers = Headers(body != nullptr, content_type_header);
  if (body != nullptr && body->size() > 0xFFFFFFFFu) {
    throw http::MakeError({Failure::kRequestBodyTooLarge}, engine_.settings, url_);
  }
  const DWORD body_size = body != nullptr ? static_cast<DWORD>(body->size()) : 0;
  // A request the watch closed (stalled or cancelled) has a closed handle,
  // which `request` must then not close again.
  RequestWatch watch(request.get(), engine_.settings.stall_timeout_seconds, engine_.cancel);
  const auto stopped = [&] {
    const RequestWatch::Outcome outcome = watch.Stop();
    if (outcome == RequestWatch::Outcome::kNone) return;
    (void)request.release();
    if (outcome == RequestWatch::Outcome::kCancelled) throw base::OperationCancelled();
    Fail(ERROR_WINHTTP_TIMEOUT, Phase::kReceiving);
  };
  http::ExchangeAnswer next;
  try {
    if (!WinHttpSendRequest(
            request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
            body_size != 0 ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA, body_size,
            body_size, 0)) {
      Fail(request.get(), GetLastError(), Phase::kConnecting);
    }
    // From here on the stall rule applies.
    watch.Arm();
    next = Receive(request.get(), watch, sink, received_body);
  } catch (...) {
    stopped();
    throw;
  }
  stopped();
  return next;
}

http::ExchangeAnswer Exchange::Receive(HINTERNET request, RequestWatch& watch, const BodySink* sink,
                                       std::string& received_body) {
  if (!WinHttpReceiveResponse(request, nullptr)) Fail(request, GetLastError(), Phase::kReceiving);
  // The header bytes count for the stall rule, as with libcurl.
  watch.Received(QueryHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF).size());
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    Fail(ERROR_WINHTTP_INVALID_SERVER_RESPONSE, Phase::kReceiving);
  }
  engine_.response_code = static_cast<long>(status);
  engine_.content_type = platform::windows::Utf8(QueryHeader(request, WINHTTP_QUERY_CONTENT_TYPE));
  engine_.reason = platform::windows::Utf8(QueryHeader(request, WINHTTP_QUERY_STATUS_TEXT));
  const std::wstring location = QueryHeader(request, WINHTTP_QUERY_LOCATION);
  http::ExchangeAnswer answer{engine_.response_code, {}, engine_.reason, proxy_};
  if (http::IsRedirectStatus(status) && !location.empty()) {
    answer.location = ResolveLocation(url_, platform::windows::Utf8(location));
  }
  if (http::IsBodyKept(answer.status, !location.empty())) {
    received_body = ReadBody(request, watch, sink);
  }
  return answer;
}

std::string Exchange::ReadBody(HINTERNET request, RequestWatch& watch, const BodySink* sink) {
  std::string body;
  std::size_t& received = engine_.received;
  char buffer[65536];
  for (;;) {
    // Waits for what has arrived only: a read asked for a whole buffer could
    // wait for the trickle to fill it.
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) Fail(GetLastError(), Phase::kReceiving);
    if (available == 0) break;
    DWORD got = 0;
    if (!WinHttpReadData(request, buffer, std::min<DWORD>(available, sizeof buffer), &got)) {
      Fail(GetLastError(), Phase::kReceiving);
    }
    if (got == 0) break;
    if (http::ExceedsBodyLimit(engine_.settings, received, got)) {
      throw http::MakeError({Failure::kBodyTooLarge}, engine_.settings, url_);
    }
    if (sink != nullptr) {
      DWORD error = ERROR_SUCCESS;
      if (!(*sink)(buffer, got, error)) throw SinkFailure{error};
    } else {
      body.append(buffer, got);
    }
    received += got;
    watch.Received(got);
  }
  // A connection closed before the announced length is an unfinished
  // answer, even when WinHTTP reports a plain end.
  const std::wstring length = QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
  if (!length.empty() && QueryHeader(request, WINHTTP_QUERY_CONTENT_ENCODING).empty()) {
    wchar_t* end = nullptr;
    const unsigned long long announced = std::wcstoull(length.c_str(), &end, 10);
    if (end != length.c_str() && received < announced) {
      Fail(ERROR_WINHTTP_CONNECTION_ERROR, Phase::kReceiving);
    }
  }
  return body;
}

}  // namespace

Engine::Engine(http::HttpSettings chosen) : settings(std::move(chosen)) {
  proxy = ProxySettings::OfCurrentUser();
  session = OpenSession(platform::windows::Wide(settings.user_agent), proxy);
}

std::string Engine::Request(const char* method, const std::string& url, const std::string* body,
                            const std::string& content_type_header) {
  return http::NotedRequest(method, url, response_code, received, [&] {
    return Perform(method, url, body, content_type_header, nullptr);
  });
}

std::string Engine::Perform(const std::string& method, const std::string& url,
                            const std::string* body, const std::string& content_type_header,
                            const BodySink* sink) {
  response_code = 0;
  received = 0;
  content_type.clear();
  reason.clear();
  http::RedirectChain chain(method, url, settings);
  if (cancel != nullptr && cancel->IsCancelled()) throw base::OperationCancelled();
  std::string answer;
  http::RunRequest(chain, [&](const http::RedirectChain& request) {
    Exchange exchange(*this, request.url(), request.parts());
    return exchange.Run(platform::windows::Wide(request.method()),
                        request.body_dropped() ? nullptr : body, content_type_header, sink, answer);
  });
  return answer;
}

}  // namespace lumivane::http::winhttp
