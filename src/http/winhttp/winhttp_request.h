#pragma once

// WinHTTP behind the HTTP transport (internal to the Windows platform layer):
// one client's session, its proxy choice, and one request with its
// redirects, its stall rule and WinHTTP's codes mapped to the HTTP layer's
// failures.

// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <functional>
#include <memory>
#include <string>

#include "base/cancellation.h"
#include "http/failure.h"
#include "http/http.h"
#include "platform/url.h"

namespace lumivane::http::winhttp {

using platform::ParseHttpUrl;
using platform::UrlParts;

struct InternetDeleter {
  void operator()(void* handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, InternetDeleter>;

// The user's proxy settings as Windows and the browser know them.
struct ProxySettings {
  bool auto_detect = false;
  std::wstring auto_config_url;
  std::wstring proxy;
  std::wstring bypass;
  // Automatic configuration that failed once (no WPAD, PAC unreachable) is
  // not tried again by this client: every request would wait for it.
  bool automatic_failed = false;

  static ProxySettings OfCurrentUser();

  // The proxy for one request.
  struct Choice {
    DWORD access = WINHTTP_ACCESS_TYPE_NO_PROXY;
    std::wstring proxy, bypass;
    // On the request: Windows lets it override the session's proxy. Wine
    // accepts the setting and ignores it; it knows only the proxy given to
    // WinHttpOpen (see OpenSession).
    void ApplyTo(HINTERNET request);
  };

  // None for loopback addresses, else the automatic configuration's answer,
  // else the fixed proxy with its bypass list. The automatic configuration
  // is told the scheme, host and port only.
  Choice For(HINTERNET session, const UrlParts& url);
};

// A session with the user's fixed proxy, loopback addresses bypassing it.
Internet OpenSession(const std::wstring& agent, const ProxySettings& proxy);

// Where a body goes as it arrives: false (with the system's code) stops the
// transfer.
using BodySink = std::function<bool(const char* data, std::size_t size, DWORD& error)>;

// The body could not be stored (the file of a download).
struct SinkFailure {
  DWORD code;
};

// Requests over one WinHTTP session, one at a time. WinHTTP keeps the
// session's cookies.
struct Engine {
  http::HttpSettings settings;
  Internet session;
  ProxySettings proxy;
  bool basic_authentication = false;
  const base::CancellationToken* cancel = nullptr;
  // The token of a request run on its own thread (see HttpClient::Impl).
  base::CancellationToken abandon;
  long response_code = 0;
  std::string content_type;
  std::string reason;  // the last answer's reason phrase
  std::size_t received = 0;

  explicit Engine(http::HttpSettings chosen);

  // A request with its line in the journal.
  std::string Request(const char* method, const std::string& url, const std::string* body,
                      const std::string& content_type_header);

  // The request and its redirects: the body goes to `sink` when there is
  // one, else it is returned. Throws HttpError, SinkFailure or
  // OperationCancelled.
  std::string Perform(const std::string& method, const std::string& url, const std::string* body,
                      const std::string& content_type_header, const BodySink* sink);
};

}  // namespace lumivane::http::winhttp
