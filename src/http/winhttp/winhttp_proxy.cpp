#include "http/url.h"
#include "http/failure.h"
#include "http/http.h"
#include "http/winhttp/winhttp_request.h"
#include "platform/windows/wide.h"
#include "text/compare.h"

namespace lumivane::http::winhttp {
namespace {

// Requests to these never go through a proxy.
constexpr const char* kLoopbackHosts[] = {"127.0.0.1", "localhost", "[::1]"};

bool IsLoopback(const std::string& host) {
  for (const char* loopback : kLoopbackHosts) {
    if (text::EqualsIgnoringCase(host, loopback)) return true;
  }
  return false;
}

void FreeProxyInfo(WINHTTP_PROXY_INFO& info) {
  if (info.lpszProxy != nullptr) GlobalFree(info.lpszProxy);
  if (info.lpszProxyBypass != nullptr) GlobalFree(info.lpszProxyBypass);
  info.lpszProxy = info.lpszProxyBypass = nullptr;
}

}  // namespace

ProxySettings ProxySettings::OfCurrentUser() {
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

void ProxySettings::Choice::ApplyTo(HINTERNET request) {
  WINHTTP_PROXY_INFO info{};
  info.dwAccessType = access;
  if (access == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
    info.lpszProxy = proxy.data();
    info.lpszProxyBypass = bypass.empty() ? nullptr : bypass.data();
  }
  WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
}

ProxySettings::Choice ProxySettings::For(HINTERNET session, const UrlParts& url) {
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
    // A script served by the network sees the scheme, host and port only:
    // never a path, a query (the gateway's password) or a user name.
    const std::wstring asked = platform::windows::Wide(http::ProxyResolutionUrl(url));
    WINHTTP_PROXY_INFO info{};
    if (WinHttpGetProxyForUrl(session, asked.c_str(), &options, &info)) {
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

Internet OpenSession(const std::wstring& agent, const ProxySettings& proxy) {
  // The user's fixed proxy at the session, loopback addresses bypassing it;
  // each request may still get another one from the automatic configuration
  // (a PAC file or WPAD), which only Windows honours.
  const std::wstring& fixed = proxy.proxy;
  std::wstring bypass = proxy.bypass;
  for (const char* loopback : kLoopbackHosts) {
    bypass += (bypass.empty() ? L"" : L";") + platform::windows::Wide(loopback);
  }
  Internet opened(
      WinHttpOpen(agent.empty() ? nullptr : agent.c_str(),
                  fixed.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY,
                  fixed.empty() ? WINHTTP_NO_PROXY_NAME : fixed.c_str(),
                  fixed.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0));
  if (!opened) {
    throw http::ClientSetupError();
  }
  return opened;
}

}  // namespace lumivane::http::winhttp
