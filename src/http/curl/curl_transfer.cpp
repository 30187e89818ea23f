#include "http/curl/curl_transfer.h"
#include "http/http.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <string_view>

#include "http/redirect.h"
#include "platform/linux/write_all.h"
#include "text/compare.h"
#include "text/user_texts.h"

namespace lumivane::http::curl {
namespace {

constexpr const char* kAllowedProtocols = "http,https";

// libcurl's global state, set up once for the whole process before the first
// handle; the function-local static makes the set-up thread-safe.
void EnsureCurlInitialised() {
  struct CurlGlobal {
    CurlGlobal() {
      if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        throw http::HttpError(text::UserMessage(text::UserText::kNetworkLibraryInit), 0,
                              http::Failure::kClientSetup);
      }
    }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
  };
  static const CurlGlobal global;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* self = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  const long status = self->Status();
  if (!http::IsBodyKept(status, self->has_location)) return length;
  if (http::ExceedsBodyLimit(*self->settings, self->received, length)) {
    self->body_too_large = true;
    return 0;  // abandons the transfer
  }
  if (self->fd >= 0) {
    if (self->head.size() < http::kPictureHeadBytes) {
      self->head.append(data, std::min(length, http::kPictureHeadBytes - self->head.size()));
    }
    self->write_errno = platform::posix::WriteAll(self->fd, std::string_view(data, length));
    if (self->write_errno != 0) return 0;
  } else {
    self->body.append(data, length);
  }
  self->received += length;
  return length;
}

// The connection's socket as libcurl would open it; the system's reason is
// kept when it refuses (libcurl keeps none).
curl_socket_t OnOpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
  const curl_socket_t fd =
      ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
  if (fd == CURL_SOCKET_BAD) static_cast<Transfer*>(user)->socket_errno = errno;
  return fd;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* self = static_cast<Transfer*>(user);
  const std::size_t length = size * count;
  std::string_view line(data, length);
  if (line.starts_with("HTTP/")) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    self->status_line.assign(line);
    self->has_location = false;
  } else if (text::StartsWithIgnoringCase(line, "location:")) {
    self->has_location = true;
  }
  return length;
}

}  // namespace

void Transfer::Reset() {
  body.clear();
  head.clear();
  received = 0;
  body_too_large = false;
  write_errno = 0;
  socket_errno = 0;
  status_line.clear();
  has_location = false;
  error_text[0] = '\0';
}

std::string Transfer::ReasonPhrase() const {
  const std::size_t after_version = status_line.find(' ');
  if (after_version == std::string::npos) return {};
  const std::size_t after_code = status_line.find(' ', after_version + 1);
  if (after_code == std::string::npos) return {};
  return status_line.substr(after_code + 1);
}

long Transfer::Status() const {
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

std::string Transfer::Peer() const {
  char* address = nullptr;
  long port = 0;
  if (curl_easy_getinfo(handle, CURLINFO_PRIMARY_IP, &address) != CURLE_OK || address == nullptr ||
      *address == '\0') {
    return {};
  }
  curl_easy_getinfo(handle, CURLINFO_PRIMARY_PORT, &port);
  const std::string host(address);
  return (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" +
         std::to_string(port);
}

std::string Transfer::RedirectTarget() const {
  char* target = nullptr;
  if (curl_easy_getinfo(handle, CURLINFO_REDIRECT_URL, &target) != CURLE_OK || target == nullptr) {
    return {};
  }
  return target;
}

http::FailureDetail Transfer::Map(CURLcode result) const {
  using http::Failure;
  const std::string_view said(error_text);
  // The proxy's answer to the tunnel's CONNECT, when it refused it.
  long tunnel = 0;
  curl_easy_getinfo(handle, CURLINFO_HTTP_CONNECTCODE, &tunnel);
  if (tunnel == 407) return {Failure::kProxyAuthentication, 0, Peer()};
  if (tunnel >= 300) return {Failure::kProxyRefused, tunnel, Peer()};
  // This machine's limits, whatever libcurl was doing when it met them.
  long system_code = socket_errno;
  if (system_code == 0) curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &system_code);
  if (system_code == EMFILE || system_code == ENFILE || system_code == ENOBUFS) {
    return {Failure::kLocalResource, system_code};
  }
  switch (result) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      // The URL was checked before: the answer was not HTTP at all.
      return {Failure::kNotHttp};
    case CURLE_URL_MALFORMAT:
      return {Failure::kMalformedUrl};
    case CURLE_COULDNT_RESOLVE_HOST:
      return {Failure::kHostNotFound};
    case CURLE_COULDNT_RESOLVE_PROXY:
      return {Failure::kProxyNotFound};
    case CURLE_COULDNT_CONNECT:
      return {Failure::kUnreachable};
    case CURLE_OPERATION_TIMEDOUT: {
      // A connection kept alive from an earlier request has no connect time:
      // what counts is whether the request could be sent.
      curl_off_t sent = 0;
      curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &sent);
      return {sent == 0 ? Failure::kConnectTimeout : Failure::kStalled};
    }
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return {Failure::kCertificateRefused};
    case CURLE_SSL_CONNECT_ERROR:
      return {Failure::kSecureChannel};
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      // libcurl refuses headers past 300 KB in all with these words.
      if (said.starts_with("Too large response headers")) return {Failure::kHeadersTooLarge};
      return {Failure::kInterrupted};
    case CURLE_OUT_OF_MEMORY:
      // A header line past libcurl's 100 KB comes back as this code, with
      // the answer's status line read and no body yet.
      if (!status_line.empty() && received == 0) return {Failure::kHeadersTooLarge};
      return {Failure::kOutOfMemory};
    case CURLE_WRITE_ERROR:
      if (body_too_large) return {Failure::kBodyTooLarge};
      break;
    default:
      break;
  }
  return {Failure::kOther, static_cast<long>(result)};
}

Easy NewEasy() {
  EnsureCurlInitialised();
  Easy easy(curl_easy_init());
  if (!easy) throw http::ClientSetupError();
  return easy;
}

Multi NewMulti() {
  EnsureCurlInitialised();
  Multi multi(curl_multi_init());
  if (!multi) throw http::ClientSetupError();
  return multi;
}

HeaderList AppendHeader(HeaderList list, const std::string& header) {
  curl_slist* appended = curl_slist_append(list.get(), header.c_str());
  if (appended == nullptr) throw std::bad_alloc();
  (void)list.release();
  return HeaderList(appended);
}

void ConfigureHandle(CURL* h, const http::HttpSettings& settings, Transfer* transfer) {
  SetOption(h, CURLOPT_NOSIGNAL, 1L);
  SetOption(h, CURLOPT_VERBOSE, 0L);
  SetOption(h, CURLOPT_NOPROGRESS, 1L);
  // Cookie engine with an empty start: this handle's cookies only.
  SetOption(h, CURLOPT_COOKIEFILE, "");
  SetOption(h, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
  SetOption(h, CURLOPT_FOLLOWLOCATION, 0L);
  SetOption(h, CURLOPT_CONNECTTIMEOUT, settings.connect_timeout_seconds);
  SetOption(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  SetOption(h, CURLOPT_LOW_SPEED_TIME, settings.stall_timeout_seconds);
  SetOption(h, CURLOPT_SSL_VERIFYPEER, 1L);
  SetOption(h, CURLOPT_SSL_VERIFYHOST, 2L);
  if (!settings.extra_ca_file.empty()) {
    // Replaces the default bundle file; the system's certificate folder
    // (libcurl's CA path) still applies.
    SetOption(h, CURLOPT_CAINFO, settings.extra_ca_file.c_str());
  }
  if (!settings.user_agent.empty()) SetOption(h, CURLOPT_USERAGENT, settings.user_agent.c_str());
  SetOption(h, CURLOPT_WRITEFUNCTION, &OnBody);
  SetOption(h, CURLOPT_WRITEDATA, static_cast<void*>(transfer));
  SetOption(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  SetOption(h, CURLOPT_HEADERDATA, static_cast<void*>(transfer));
  SetOption(h, CURLOPT_ERRORBUFFER, transfer->error_text);
  SetOption(h, CURLOPT_OPENSOCKETFUNCTION, &OnOpenSocket);
  SetOption(h, CURLOPT_OPENSOCKETDATA, static_cast<void*>(transfer));
  transfer->settings = &settings;
  transfer->handle = h;
}

}  // namespace lumivane::http::curl
