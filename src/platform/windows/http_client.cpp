#include "platform/http_client.h"

// clang-format off
#include <windows.h>
#include <winhttp.h>
#include <shlwapi.h>
// clang-format on

#include <algorithm>
#include <optional>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string_view>
#include <utility>

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
// the request handle: that cancels the call that waits.
class StallWatch {
 public:
  StallWatch(HINTERNET request, long stall_seconds)
      : request_(request),
        period_(std::chrono::seconds(std::max<long>(stall_seconds, 1))),
        minimum_(static_cast<std::size_t>(std::max<long>(stall_seconds, 1))),
        thread_([this] { Run(); }) {}
  ~StallWatch() { Stop(); }
  StallWatch(const StallWatch&) = delete;
  StallWatch& operator=(const StallWatch&) = delete;

  void Received(std::size_t bytes) { received_ += bytes; }

  // Ends the watch. True when it had cancelled the request: the request
  // handle is closed then and must not be used or closed again.
  bool Stop() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    return cancelled_;
  }

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    std::size_t counted = 0;
    while (!done_) {
      if (wake_.wait_for(lock, period_, [this] { return done_; })) break;
      const std::size_t now = received_;
      if (now - counted < minimum_) {
        WinHttpCloseHandle(request_);
        cancelled_ = true;
        break;
      }
      counted = now;
    }
  }

  HINTERNET request_;
  std::chrono::seconds period_;
  std::size_t minimum_;
  std::atomic<std::size_t> received_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  bool cancelled_ = false;
  std::thread thread_;
};

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

HttpSettings WindowClientSettings() {
  HttpSettings settings;
  settings.accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  settings.user_agent = "Mozilla/3.0 (compatible; Indy Library)";
  return settings;
}

struct HttpClient::Impl {
  HttpSettings settings;
  // One session per client: WinHTTP keeps cookies per session.
  Internet session;
  ProxySettings proxy;
  bool basic_authentication = false;
  long response_code = 0;
  std::string content_type;
  std::string last_body;

  std::string Perform(std::wstring method, const std::string& url, const std::string* body,
                      const std::string& content_type_header) {
    const std::string shown = UrlForDisplay(url);
    response_code = 0;
    content_type.clear();
    if (!HasHttpScheme(url)) throw HttpError("Adresse refusée, seuls http et https sont admis : " + shown);

    std::string current = url;
    for (long hops = 0;; ++hops) {
      const auto parts = windows::CrackHttpUrl(current);
      if (!parts) throw HttpError("Adresse mal formée : " + shown);
      const std::wstring wide_url = windows::Wide(current);
      ProxySettings::Choice route = proxy.For(session.get(), *parts, wide_url);

      Internet connection(WinHttpConnect(session.get(), windows::Wide(parts->host).c_str(),
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

      if (with_body && body->size() > 0xFFFFFFFFu) throw HttpError("Corps de requête trop volumineux : " + shown);
      const DWORD body_size = with_body ? static_cast<DWORD>(body->size()) : 0;
      if (!WinHttpSendRequest(request.get(), headers.c_str(), static_cast<DWORD>(headers.size()),
                              with_body && body_size != 0 ? const_cast<char*>(body->data()) : WINHTTP_NO_REQUEST_DATA,
                              body_size, body_size, 0)) {
        Fail({GetLastError(), Phase::kConnecting}, shown);
      }
      // From here on the stall rule applies; a request the watch cancelled
      // has a closed handle, which `request` must then not close again.
      StallWatch watch(request.get(), settings.stall_timeout_seconds);
      const auto stalled = [&] {
        if (!watch.Stop()) return false;
        (void)request.release();
        return true;
      };
      std::optional<std::string> next;
      try {
        next = Receive(request.get(), watch, current, method, body, hops, shown);
      } catch (const HttpError&) {
        if (stalled()) Fail({ERROR_WINHTTP_TIMEOUT, Phase::kReceiving}, shown);
        throw;
      }
      if (stalled()) Fail({ERROR_WINHTTP_TIMEOUT, Phase::kReceiving}, shown);
      if (!next) return std::exchange(last_body, {});
      current = *next;
    }
  }

  // The answer to a sent request: the URL to go on with for a redirect, else
  // nothing and the body in `last_body`. A redirect may turn the request
  // into a GET without body (`method`, `body`).
  std::optional<std::string> Receive(HINTERNET request, StallWatch& watch, const std::string& current,
                                     std::wstring& method, const std::string*& body, long hops,
                                     const std::string& shown) {
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
    last_body = ReadBody(request, watch, shown);
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
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled, sizeof disabled);
    // Certificates are checked against the Windows store: no security flag
    // is ever lowered.
  }

  std::string ReadBody(HINTERNET request, StallWatch& watch, const std::string& shown) const {
    std::string received;
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
      if (limit != 0 && (received.size() > limit || got > limit - received.size())) {
        throw HttpError("Réponse trop volumineuse (plus de " + std::to_string(limit) + " octets) : " + shown);
      }
      received.append(buffer, got);
      watch.Received(got);
    }
    // A connection closed before the announced length is an unfinished
    // answer, even when WinHTTP reports a plain end.
    const std::wstring length = QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!length.empty() && QueryHeader(request, WINHTTP_QUERY_CONTENT_ENCODING).empty()) {
      wchar_t* end = nullptr;
      const unsigned long long announced = std::wcstoull(length.c_str(), &end, 10);
      if (end != length.c_str() && received.size() < announced) {
        Fail({ERROR_WINHTTP_CONNECTION_ERROR, Phase::kReceiving}, shown);
      }
    }
    return received;
  }

  [[noreturn]] void Fail(Failure failure, const std::string& shown) const {
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

HttpClient::HttpClient(HttpSettings settings) : impl_(std::make_unique<Impl>()) {
  impl_->settings = std::move(settings);
  const std::wstring agent = windows::Wide(impl_->settings.user_agent);
  impl_->proxy = ProxySettings::OfCurrentUser();
  // The user's fixed proxy at the session, loopback addresses bypassing it;
  // each request may still get another one from the automatic
  // configuration (a PAC file or WPAD), which only Windows honours.
  const std::wstring& fixed = impl_->proxy.proxy;
  const std::wstring bypass =
      impl_->proxy.bypass + (impl_->proxy.bypass.empty() ? L"" : L";") + L"127.0.0.1;localhost;[::1]";
  impl_->session.reset(WinHttpOpen(agent.empty() ? nullptr : agent.c_str(),
                                   fixed.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                                   fixed.empty() ? WINHTTP_NO_PROXY_NAME : fixed.c_str(),
                                   fixed.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0));
  if (!impl_->session) throw HttpError("Impossible de créer le client HTTP.");
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

std::string HttpClient::Get(const std::string& url) { return impl_->Perform(L"GET", url, nullptr, {}); }

std::string HttpClient::Post(const std::string& url, const std::string& body,
                             const std::string& content_type, const std::string& charset) {
  return impl_->Perform(L"POST", url, &body,
                        content_type + (charset.empty() ? "" : "; charset=" + charset));
}

long HttpClient::ResponseCode() const { return impl_->response_code; }

std::string HttpClient::ContentType() const { return impl_->content_type; }

void HttpClient::SetBasicAuthentication(bool enabled) { impl_->basic_authentication = enabled; }

const HttpSettings& HttpClient::settings() const { return impl_->settings; }

}  // namespace lumivane::platform
