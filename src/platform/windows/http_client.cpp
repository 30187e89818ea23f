#include "platform/http_client.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
#include <shlwapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/cookie_jar.h"
#include "platform/journal.h"
#include "platform/http_journal.h"
#include "platform/messages.h"
#include "platform/system_error.h"
#include "platform/windows/url.h"
#include "platform/windows/wide.h"

namespace lumivane::platform {
namespace {

struct InternetDeleter {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetDeleter>;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool HasHttpScheme(const std::string& url) {
  const auto starts_with = [&](std::string_view prefix) {
    return url.size() >= prefix.size() &&
           EqualsIgnoringCase(std::string_view(url).substr(0, prefix.size()), prefix);
  };
  return starts_with("http://") || starts_with("https://");
}

bool IsLoopback(const std::string& host) {
  return host == "127.0.0.1" || EqualsIgnoringCase(host, "localhost") || host == "[::1]";
}

// What the client was doing when WinHTTP failed: a time-out means a slow
// connection in the first phase and a silent server in the second.
enum class Phase { kConnecting, kReceiving };

// A failed WinHTTP call as a WinHTTP or Winsock error code. Wine reports
// several failures with other codes than Windows (a time-out as 10060 or
// 12002, a refused certificate as 12157, 12175, 12045 or 12038, a cancelled
// request as 6 or 12017), so each family is matched as a whole.
struct Failure {
  DWORD code;
  Phase phase;
};

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

// Every value of a header that may come several times (Set-Cookie).
std::vector<std::wstring> QueryHeaders(HINTERNET request, DWORD what) {
  std::vector<std::wstring> values;
  for (DWORD index = 0;;) {
    DWORD size = 0;
    const DWORD asked = index;
    WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size, &index);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) break;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    index = asked;
    if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size, &index)) break;
    value.resize(size / sizeof(wchar_t));
    values.push_back(std::move(value));
    if (index == asked) break;  // a system that does not move on
  }
  return values;
}

std::int64_t SecondsSinceEpoch() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// `location` read against `base`, as a browser resolves a relative Location.
std::string ResolveLocation(const std::string& base, const std::string& location) {
  const std::wstring wide_base = windows::Wide(base);
  const std::wstring wide_location = windows::Wide(location);
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
  return windows::Utf8(combined);
}

void FreeProxyInfo(WINHTTP_PROXY_INFO& info) {
  if (info.lpszProxy != nullptr) GlobalFree(info.lpszProxy);
  if (info.lpszProxyBypass != nullptr) GlobalFree(info.lpszProxyBypass);
  info.lpszProxy = info.lpszProxyBypass = nullptr;
}

// The user's proxy settings as Windows and the browser know them.
struct ProxySettings {
  bool auto_detect = false;
  std::wstring auto_config_url;
  std::wstring proxy;
  std::wstring bypass;
  // Automatic configuration that failed once (no WPAD, PAC unreachable) is
  // not tried again by this client: every request would wait for it.
  bool automatic_failed = false;

  static ProxySettings OfCurrentUser() {
    ProxySettings settings;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return settings;
    const auto take = [](LPWSTR text) {
      std::wstring value = text != nullptr ? text : L"";
      if (text != nullptr) GlobalFree(text);
      return value;
    };
    settings.auto_detect = config.fAutoDetect != FALSE;
    settings.auto_config_url = take(config.lpszAutoConfigUrl);
    settings.proxy = take(config.lpszProxy);
    settings.bypass = take(config.lpszProxyBypass);
    return settings;
  }

  // The proxy for one URL: none for loopback addresses, else the automatic
  // configuration's answer, else the fixed proxy with its bypass list.
  struct Choice {
    DWORD access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    std::wstring proxy, bypass;

    // On the request: Windows lets it override the session's proxy. Wine
    // accepts the setting and ignores it; it knows only the proxy given to
    // WinHttpOpen (see the constructor of HttpClient).
    void ApplyTo(HINTERNET handle) {
      WINHTTP_PROXY_INFO info{};
      info.dwAccessType = access;
      if (access == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        info.lpszProxy = proxy.data();
        info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
      }
      WinHttpSetOption(handle, WINHTTP_OPTION_PROXY, &info, sizeof info);
    }
  };

  Choice For(HINTERNET session, const windows::UrlParts& url, const std::wstring& wide_url) {
    Choice choice;
    if (IsLoopback(url.host)) return choice;
    if ((auto_detect || !auto_config_url.empty()) && !automatic_failed) {
      WINHTTP_AUTOPROXY_OPTIONS options{};
      if (auto_detect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
      }
      if (!auto_config_url.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = auto_config_url.c_str();
      }
      options.fAutoLogonIfChallenged = TRUE;
      WINHTTP_PROXY_INFO info{};
      if (WinHttpGetProxyForUrl(session, wide_url.c_str(), &options, &info)) {
        if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && info.lpszProxy != nullptr) {
          choice.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
          choice.proxy = info.lpszProxy;
          if (info.lpszProxyBypass != nullptr) choice.bypass = info.lpszProxyBypass;
        }
        FreeProxyInfo(info);
        return choice;
      }
      automatic_failed = true;
    }
    if (!proxy.empty()) {
      choice.access = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      choice.proxy = proxy;
      choice.bypass = bypass;
    }
    return choice;
  }
};

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

  RequestWatch(HINTERNET request, long stall_seconds, const CancellationToken* cancel)
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
    constexpr auto kTick = std::chrono::milliseconds(100);
    std::unique_lock lock(mutex_);
    bool counting = false;
    Clock::time_point period_start{};
    std::size_t counted = 0;
    while (!done_) {
      if (wake_.wait_for(lock, kTick, [this] { return done_; })) break;
      if (cancel_ != nullptr && cancel_->IsCancelled()) {
        WinHttpCloseHandle(request_);
        outcome_ = Outcome::kCancelled;
        break;
      }
      if (!armed_) continue;
      const auto now = Clock::now();
      if (!counting) {
        counting = true;
        period_start = now;
        counted = received_;
        continue;
      }
      if (now - period_start < period_) continue;
      const std::size_t received = received_;
      if (received - counted < minimum_) {
        WinHttpCloseHandle(request_);
        outcome_ = Outcome::kStalled;
        break;
      }
      counted = received;
      period_start = now;
    }
  }

  HINTERNET request_;
  std::chrono::seconds period_;
  std::size_t minimum_;
  const CancellationToken* cancel_;
  std::atomic<bool> armed_{false};
  std::atomic<std::size_t> received_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  Outcome outcome_ = Outcome::kNone;
  std::thread thread_;
};

// Where a body goes as it arrives: false (with the system's code) stops the
// transfer.
using BodySink = std::function<bool(const char* data, std::size_t size, DWORD& error)>;

// The body could not be stored (the file of a download).
struct SinkFailure {
  DWORD code;
};

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

// The window's clients take turns over one WinHTTP session, so that its pool
// of kept-alive connections serves both: the retrieval document's GET and the
// quote's POST go over one connection when they go to one server. WinHTTP
// keeps cookies per session: its own are off, and each client keeps its own
// in a CookieJar.
class SharedConnections {
 public:
  std::shared_ptr<Internet> Session(const std::wstring& agent,
                                    const std::function<std::shared_ptr<Internet>()>& open) {
    const std::lock_guard lock(mutex_);
    if (session_ && agent_ == agent) return session_;
    auto session = open();
    if (!session_) {
      session_ = session;
      agent_ = agent;
    }
    return session;
  }

 private:
  std::mutex mutex_;
  std::wstring agent_;
  std::shared_ptr<Internet> session_;
};

std::shared_ptr<SharedConnections> MakeSharedConnections() { return std::make_shared<SharedConnections>(); }

namespace {

// Requests over one WinHTTP session, one at a time.
struct Engine {
  HttpSettings settings;
  // The client's own session, or the one it shares with another client.
  std::shared_ptr<Internet> session;
  // The cookies this client received (WinHTTP's are off).
  CookieJar cookies;
  ProxySettings proxy;
  bool basic_authentication = false;
  const CancellationToken* cancel = nullptr;
  // The token of a request run on its own thread (see HttpClient::Impl).
  CancellationToken abandon;
  long response_code = 0;
  std::string content_type;
  std::string last_body;
  std::size_t received = 0;
  // The WinHTTP or Winsock code of the last failure, 0 when none.
  DWORD failure_code = 0;

  explicit Engine(HttpSettings chosen, SharedConnections* shared = nullptr) : settings(std::move(chosen)) {
    const std::wstring agent = windows::Wide(settings.user_agent);
    proxy = ProxySettings::OfCurrentUser();
    // The user's fixed proxy at the session, loopback addresses bypassing it;
    // each request may still get another one from the automatic
    // configuration (a PAC file or WPAD), which only Windows honours.
    const std::wstring& fixed = proxy.proxy;
    const std::wstring bypass = proxy.bypass + (proxy.bypass.empty() ? L"" : L";") + L"127.0.0.1;localhost;[::1]";
    const auto open = [&] {
      Internet opened(WinHttpOpen(agent.empty() ? nullptr : agent.c_str(),
                                  fixed.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                  fixed.empty() ? WINHTTP_NO_PROXY_NAME : fixed.c_str(),
                                  fixed.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0));
      if (!opened) throw HttpError("Impossible de créer le client HTTP.");
      return std::make_shared<Internet>(std::move(opened));
    };
    session = shared != nullptr ? shared->Session(agent, open) : open();
  }

  // A request with its line in the journal.
  std::string Request(const char* method, const std::string& url, const std::string* body,
                      const std::string& content_type_header) {
    const auto start = std::chrono::steady_clock::now();
    try {
      std::string answer = Perform(windows::Wide(method), url, body, content_type_header, nullptr);
      NoteRequest(method, url, response_code, received, start, {});
      return answer;
    } catch (const OperationAnnulee&) {
      NoteRequest(method, url, 0, 0, start, "annulée");
      throw;
    } catch (const HttpError& error) {
      NoteRequest(method, url, response_code, received, start, error.what());
      throw;
    }
  }

  // The body goes to `sink` when there is one, else it is returned.
  std::string Perform(std::wstring method, const std::string& url, const std::string* body,
                      const std::string& content_type_header, const BodySink* sink) {
    const std::string shown = PourMessage(UrlForDisplay(url));
    response_code = 0;
    received = 0;
    failure_code = 0;
    content_type.clear();
    if (!HasHttpScheme(url)) throw HttpError("Adresse refusée, seuls http et https sont admis : " + shown);
    if (cancel != nullptr && cancel->IsCancelled()) throw OperationAnnulee();

    std::string current = url;
    for (long hops = 0;; ++hops) {
      const auto parts = windows::CrackHttpUrl(current);
      if (!parts) throw HttpError("Adresse mal formée : " + shown);
      const std::wstring wide_url = windows::Wide(current);
      ProxySettings::Choice route = proxy.For(session->get(), *parts, wide_url);
      const CookieJar::Origin origin{parts->scheme, parts->host, parts->path};

      Internet connection(WinHttpConnect(session->get(), windows::Wide(parts->host).c_str(),
                                         static_cast<INTERNET_PORT>(parts->port_number), 0));
      if (!connection) Fail({GetLastError(), Phase::kConnecting}, shown);
      Internet request(WinHttpOpenRequest(connection.get(), method.c_str(),
                                          windows::Wide(parts->Target()).c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          parts->scheme == "https" ? WINHTTP_FLAG_SECURE : 0));
      if (!request) Fail({GetLastError(), Phase::kConnecting}, shown);
      Configure(request.get());
      route.ApplyTo(request.get());

      std::wstring headers = L"Accept: " + windows::Wide(settings.accept.empty() ? "*/*" : settings.accept) + L"\r\n";
      const bool with_body = body != nullptr;
      if (with_body) headers += L"Content-Type: " + windows::Wide(content_type_header) + L"\r\n";
      // Sent at once, as libcurl does, not after a challenge: base64 of ":".
      if (basic_authentication) headers += L"Authorization: Basic Og==\r\n";
      if (const std::string sent = cookies.HeaderFor(origin, SecondsSinceEpoch()); !sent.empty()) {
        headers += L"Cookie: " + windows::Wide(sent) + L"\r\n";
      }

      if (with_body && body->size() > 0xFFFFFFFFu) throw HttpError("Corps de requête trop volumineux : " + shown);
      const DWORD body_size = with_body ? static_cast<DWORD>(body->size()) : 0;
      // A request the watch closed (stalled or cancelled) has a closed
      // handle, which `request` must then not close again.
      RequestWatch watch(request.get(), settings.stall_timeout_seconds, cancel);
      const auto stopped = [&] {
        const RequestWatch::Outcome outcome = watch.Stop();
        if (outcome == RequestWatch::Outcome::kNone) return;
        (void)request.release();
        if (outcome == RequestWatch::Outcome::kCancelled) throw OperationAnnulee();
        Fail({ERROR_WINHTTP_TIMEOUT, Phase::kReceiving}, shown);
      };
      std::optional<std::string> next;
      try {
        if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                                with_body && body_size != 0 ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA,
                                body_size, body_size, 0)) {
          Fail({GetLastError(), Phase::kConnecting}, shown);
        }
        // From here on the stall rule applies.
        watch.Arm();
        next = Receive(request.get(), watch, current, origin, method, body, hops, shown, sink);
      } catch (const HttpError&) {
        stopped();
        throw;
      } catch (const SinkFailure&) {
        stopped();
        throw;
      }
      stopped();
      if (!next) return std::exchange(last_body, {});
      current = *next;
    }
  }

  // The answer to a sent request: the URL to go on with for a redirect, else
  // nothing and the body in `last_body`. A redirect may turn the request
  // into a GET without body (`method`, `body`).
  std::optional<std::string> Receive(HINTERNET request, RequestWatch& watch, const std::string& current,
                                     const CookieJar::Origin& origin, std::wstring& method, const std::string*& body, long hops,
                                     const std::string& shown, const BodySink* sink) {
    if (!WinHttpReceiveResponse(request, nullptr)) Fail({GetLastError(), Phase::kReceiving}, shown);
    // The header bytes count for the stall rule, as with libcurl.
    watch.Received(QueryHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF).size());

    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
      Fail({ERROR_WINHTTP_INVALID_SERVER_RESPONSE, Phase::kReceiving}, shown);
    }
    response_code = static_cast<long>(status);
    content_type = windows::Utf8(QueryHeader(request, WINHTTP_QUERY_CONTENT_TYPE));
    // Kept from every answer, a redirect or an error too, as browsers do.
    const std::int64_t now = SecondsSinceEpoch();
    for (const std::wstring& set_cookie : QueryHeaders(request, WINHTTP_QUERY_SET_COOKIE)) {
      cookies.Receive(origin, windows::Utf8(set_cookie), now);
    }

    const std::wstring location = QueryHeader(request, WINHTTP_QUERY_LOCATION);
    if (IsRedirect(status) && !location.empty()) {
      // Redirects are followed here and not by WinHTTP, which would follow
      // ftp:// and file:// targets as relative paths and fails a POST
      // answered by 302 under Wine.
      const std::string next = ResolveLocation(current, windows::Utf8(location));
      if (!HasHttpScheme(next)) {
        throw HttpError("Redirection refusée, seuls http et https sont admis : " + shown + " vers " +
                        UrlForDisplay(next));
      }
      if (hops >= settings.max_redirects) {
        throw HttpError("Trop de redirections (plus de " + std::to_string(settings.max_redirects) +
                        ") : " + shown);
      }
      // As browsers do: 301, 302 and 303 turn a POST into a GET without
      // body (303 any method); 307 and 308 repeat the request as it was.
      if ((status == 303 && method != L"GET") || ((status == 301 || status == 302) && method == L"POST")) {
        method = L"GET";
        body = nullptr;
      }
      return next;
    }

    if (status >= 400) {
      // The body of an error answer is not needed: the status is reported.
      const std::string reason = windows::Utf8(QueryHeader(request, WINHTTP_QUERY_STATUS_TEXT));
      throw HttpError("Le serveur a répondu " + std::to_string(status) +
                          (reason.empty() ? "" : " " + reason.substr(0, 100)) + " : " + shown,
                      static_cast<long>(status));
    }
    last_body = ReadBody(request, watch, shown, sink);
    return std::nullopt;
  }

  void Configure(HINTERNET request) const {
    const auto milliseconds = [](long seconds) {
      return static_cast<int>(std::clamp<long>(seconds, 1, 24 * 3600) * 1000);
    };
    const int connect = milliseconds(settings.connect_timeout_seconds);
    const int stall = milliseconds(settings.stall_timeout_seconds);
    // Name resolution without limit of its own, as with libcurl.
    WinHttpSetTimeouts(request, 0, connect, stall, stall);
    // The receive time-out does not cover the wait for the answer's headers.
    DWORD response_timeout = static_cast<DWORD>(stall);
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &response_timeout,
                     sizeof response_timeout);
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    // Certificates are checked against the Windows store: no security flag
    // is ever lowered.
  }

  std::string ReadBody(HINTERNET request, RequestWatch& watch, const std::string& shown,
                       const BodySink* sink) {
    std::string body;
    const std::size_t limit = settings.max_body_bytes;
    char buffer[65536];
    for (;;) {
      // Waits for what has arrived only: a read asked for a whole buffer
      // could wait for the trickle to fill it.
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) Fail({GetLastError(), Phase::kReceiving}, shown);
      if (available == 0) break;
      DWORD got = 0;
      if (!WinHttpReadData(request, buffer, std::min<DWORD>(available, sizeof buffer), &got)) {
        Fail({GetLastError(), Phase::kReceiving}, shown);
      }
      if (got == 0) break;
      if (limit != 0 && (received > limit || got > limit - received)) {
        throw HttpError("Réponse trop volumineuse (plus de " + std::to_string(limit) + " octets) : " + shown);
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
        Fail({ERROR_WINHTTP_CONNECTION_ERROR, Phase::kReceiving}, shown);
      }
    }
    return body;
  }

  [[noreturn]] void Fail(Failure failure, const std::string& shown) {
    failure_code = failure.code;
    throw HttpError(Describe(failure, shown));
  }

  std::string Describe(Failure failure, const std::string& shown) const {
    switch (failure.code) {
      case ERROR_WINHTTP_TIMEOUT:
      case WSAETIMEDOUT:
        if (failure.phase == Phase::kConnecting) {
          return "Délai de connexion dépassé (" + std::to_string(settings.connect_timeout_seconds) +
                 " s) : " + shown;
        }
        return "Délai dépassé, le serveur n'envoie plus rien depuis " +
               std::to_string(settings.stall_timeout_seconds) + " s : " + shown;
      case ERROR_WINHTTP_INVALID_URL:
      case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        return "Adresse mal formée : " + shown;
      case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      case WSAHOST_NOT_FOUND:
        return "Nom du serveur introuvable : " + shown;
      case ERROR_WINHTTP_CANNOT_CONNECT:
      case WSAECONNREFUSED:
      case WSAENETUNREACH:
      case WSAEHOSTUNREACH:
        return "Serveur injoignable : " + shown;
      case ERROR_WINHTTP_SECURE_FAILURE:
      case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      case ERROR_WINHTTP_SECURE_INVALID_CA:
      case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
      case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
      case ERROR_WINHTTP_SECURE_INVALID_CERT:
      case ERROR_WINHTTP_SECURE_CERT_REVOKED:
      case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
      case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
        return "Certificat du serveur refusé : " + shown;
      case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
        return "Réponse du serveur illisible (pas une réponse HTTP) : " + shown;
      case ERROR_WINHTTP_CONNECTION_ERROR:
      case ERROR_WINHTTP_OPERATION_CANCELLED:
      case ERROR_INVALID_HANDLE:
      case WSAECONNRESET:
      case WSAECONNABORTED:
        return "Connexion interrompue par le serveur : " + shown;
      case ERROR_NOT_ENOUGH_MEMORY:
      case ERROR_OUTOFMEMORY:
        return "Mémoire insuffisante pour la requête : " + shown;
      default:
        break;
    }
    return "Échec de la requête HTTP (erreur WinHTTP " + std::to_string(failure.code) + ") : " + shown;
  }
};

// Failures worth a second try: the network, not the request.
bool Transient(const Engine& engine) {
  switch (engine.failure_code) {
    case 0:
      return engine.response_code == 502 || engine.response_code == 503 || engine.response_code == 504;
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct HttpClient::Impl {
  Impl(HttpSettings chosen, SharedConnections* shared)
      : settings(chosen), engine(std::make_shared<Engine>(std::move(chosen), shared)) {}

  HttpSettings settings;
  // Nothing once a cancelled request was left to end on its own.
  std::shared_ptr<Engine> engine;
  const CancellationToken* cancel = nullptr;

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
    if (!engine) throw OperationAnnulee();
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
    while (!outcome->changed.wait_for(lock, std::chrono::milliseconds(100), [&] { return outcome->done; })) {
      if (cancel->IsCancelled()) {
        lock.unlock();
        engine->abandon.Cancel();
        worker.detach();
        engine.reset();
        throw OperationAnnulee();
      }
    }
    lock.unlock();
    worker.join();
    if (outcome->error) std::rethrow_exception(outcome->error);
    return std::move(outcome->answer);
  }

};

HttpClient::HttpClient(HttpSettings settings, std::shared_ptr<SharedConnections> connections)
    : impl_(std::make_unique<Impl>(std::move(settings), connections.get())) {}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

std::string HttpClient::Get(const std::string& url) { return impl_->Request("GET", url, nullptr, {}); }

std::string HttpClient::Post(const std::string& url, const std::string& body,
                             const std::string& content_type, const std::string& charset) {
  return impl_->Request("POST", url, &body, content_type + (charset.empty() ? "" : "; charset=" + charset));
}

long HttpClient::ResponseCode() const { return impl_->engine ? impl_->engine->response_code : 0; }

std::string HttpClient::ContentType() const { return impl_->engine ? impl_->engine->content_type : std::string(); }

void HttpClient::SetBasicAuthentication(bool enabled) {
  if (impl_->engine) impl_->engine->basic_authentication = enabled;
}

void HttpClient::SetCancellation(const CancellationToken* token) { impl_->cancel = token; }

const HttpSettings& HttpClient::settings() const { return impl_->settings; }

namespace {

std::string FileWriteError(const std::string& path, DWORD code) {
  return "Impossible d'écrire le fichier " + PourMessage(path) + " : " + SystemErrorText(static_cast<int>(code));
}

// What the workers and the calling thread share during DownloadFiles. The
// workers hold it too: a worker abandoned in a WinHTTP call that does not
// give up when its handle is closed (Wine's synchronous calls wait for the
// server or the time-out) ends on its own later, without touching anything
// of the caller's.
struct Batch {
  Batch(const std::vector<FileDownload>& d, const HttpSettings& s)
      : downloads(d), results(d.size()), settings(s) {}

  const std::vector<FileDownload> downloads;
  std::vector<FileDownloadResult> results;  // each written by its one worker
  const HttpSettings settings;
  // Set when the caller's token is, or when the caller leaves early: the
  // transfers under way are abandoned, no new one starts and no file is
  // created any more.
  CancellationToken abandon;
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;            // the next download to start
  std::deque<std::size_t> ended;   // downloads ended for good, not yet told
  std::exception_ptr failure;      // an unexpected error in a worker

  static void Work(const std::shared_ptr<Batch>& batch) {
    try {
      Engine engine(batch->settings);
      engine.cancel = &batch->abandon;
      for (;;) {
        std::size_t index = 0;
        {
          const std::lock_guard lock(batch->mutex);
          if (batch->next >= batch->downloads.size() || batch->abandon.IsCancelled()) return;
          index = batch->next++;
        }
        batch->Download(engine, index);
        {
          const std::lock_guard lock(batch->mutex);
          batch->ended.push_back(index);
        }
        batch->changed.notify_all();
      }
    } catch (const OperationAnnulee&) {
    } catch (...) {
      {
        const std::lock_guard lock(batch->mutex);
        if (!batch->failure) batch->failure = std::current_exception();
      }
      batch->abandon.Cancel();
      batch->changed.notify_all();
    }
  }

  // The file of one download, created when its first byte arrives (or at the
  // end of an empty body): a download abandoned before leaves nothing.
  class File {
   public:
    File(const std::string& path, const CancellationToken& abandon) : path_(path), abandon_(abandon) {}
    ~File() { (void)Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Write(const char* data, std::size_t size, DWORD& error) {
      if (!Open(error)) return false;
      DWORD written = 0;
      if (!WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr)) {
        error = GetLastError();
        return false;
      }
      if (written != size) {
        error = ERROR_WRITE_FAULT;
        return false;
      }
      return true;
    }
    // Back to an empty file for a second try.
    bool Truncate(DWORD& error) {
      if (handle_ == INVALID_HANDLE_VALUE) return true;
      LARGE_INTEGER origin{};
      if (!SetFilePointerEx(handle_, origin, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_)) {
        error = GetLastError();
        return false;
      }
      return true;
    }
    bool Open(DWORD& error) {
      if (handle_ != INVALID_HANDLE_VALUE) return true;
      if (abandon_.IsCancelled()) throw OperationAnnulee();
      handle_ = CreateFileW(windows::WindowsPath(path_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) return true;
      error = GetLastError();
      return false;
    }
    // False (with the code) when the system reports a failure.
    bool Close(DWORD* error = nullptr) {
      if (handle_ == INVALID_HANDLE_VALUE) return true;
      const bool closed = CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0;
      if (!closed && error != nullptr) *error = GetLastError();
      return closed;
    }

   private:
    std::string path_;
    const CancellationToken& abandon_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
  };

  // One download to its end: the body written to the file as it arrives, a
  // transient failure tried once more after a short pause.
  void Download(Engine& engine, std::size_t index) {
    constexpr auto kRetryPause = std::chrono::milliseconds(500);
    const FileDownload& download = downloads[index];
    FileDownloadResult& result = results[index];
    const auto start = std::chrono::steady_clock::now();
    const auto note = [&] {
      NoteRequest("GET", download.url, result.status, engine.received, start, result.ok ? std::string() : result.error,
                  result.attempts);
    };
    if (!HasHttpScheme(download.url)) {
      result.error = "Adresse refusée, seuls http et https sont admis : " + PourMessage(UrlForDisplay(download.url));
      note();
      return;
    }
    File file(download.path, abandon);
    const BodySink sink = [&file](const char* data, std::size_t size, DWORD& error) {
      return file.Write(data, size, error);
    };
    DWORD file_error = ERROR_SUCCESS;
    for (;;) {
      ++result.attempts;
      try {
        (void)engine.Perform(L"GET", download.url, nullptr, {}, &sink);
        result.status = engine.response_code;
        result.ok = true;
        if (!file.Open(file_error)) result.ok = false;
        break;
      } catch (const SinkFailure& failure) {
        result.status = engine.response_code;
        file_error = failure.code;
        break;
      } catch (const HttpError& error) {
        result.status = engine.response_code;
        result.error = error.what();
        if (result.attempts > 1 || !Transient(engine)) break;
      }
      // The body so far is dropped; the second try starts afresh.
      if (!file.Truncate(file_error)) break;
      const auto resume = std::chrono::steady_clock::now() + kRetryPause;
      while (std::chrono::steady_clock::now() < resume) {
        if (abandon.IsCancelled()) throw OperationAnnulee();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (!file.Close(&file_error) && file_error == ERROR_SUCCESS) file_error = ERROR_WRITE_FAULT;
    if (file_error != ERROR_SUCCESS) {
      result.ok = false;
      result.file_error = true;
      result.error = FileWriteError(download.path, file_error);
    }
    note();
  }
};

}  // namespace

std::vector<FileDownloadResult> DownloadFiles(const std::vector<FileDownload>& downloads,
                                              const HttpSettings& settings, std::size_t per_host,
                                              const CancellationToken* cancel,
                                              const std::function<void(std::size_t)>& done) {
  if (downloads.empty()) return {};
  const auto batch = std::make_shared<Batch>(downloads, settings);
  // A small pool of workers, each with its own WinHTTP session (and so its
  // own connection): `per_host` transfers at once at most. The pictures of a
  // quote come from one server, so the limit is taken for the whole batch.
  const std::size_t count = std::clamp<std::size_t>(per_host, 1, downloads.size());
  std::vector<std::thread> workers;
  // Whatever happens on this thread, the workers are told to stop. They are
  // waited for only when the batch ends normally; when the caller leaves
  // early, they end on their own (see Batch).
  struct Leave {
    Batch& batch;
    std::vector<std::thread>& workers;
    bool wait = false;
    ~Leave() {
      batch.abandon.Cancel();
      for (std::thread& worker : workers) {
        if (wait) {
          worker.join();
        } else {
          worker.detach();
        }
      }
    }
  } leave{*batch, workers};
  for (std::size_t i = 0; i < count; ++i) workers.emplace_back([batch] { Batch::Work(batch); });

  // Completions are told on this thread, one by one, as they come.
  std::size_t finished = 0;
  while (finished < downloads.size()) {
    std::deque<std::size_t> ended;
    {
      std::unique_lock lock(batch->mutex);
      batch->changed.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return !batch->ended.empty() || batch->failure; });
      if (batch->failure) std::rethrow_exception(batch->failure);
      ended.swap(batch->ended);
    }
    for (std::size_t i = 0; i < ended.size(); ++i) {
      ++finished;
      if (done) done(finished);
    }
    if (cancel != nullptr && cancel->IsCancelled()) throw OperationAnnulee();
  }
  // Every download has ended: the workers are about to return.
  leave.wait = true;
  std::lock_guard lock(batch->mutex);
  return batch->results;
}

}  // namespace lumivane::platform
