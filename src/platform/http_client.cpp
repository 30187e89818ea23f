#include "platform/http_client.h"

#include "platform/curl_url.h"
#include "platform/messages.h"

#include <curl/curl.h>

#include <cctype>
#include <new>
#include <string_view>
#include <utility>

namespace lumivane::platform {
namespace {

constexpr const char* kAllowedProtocols = "http,https";

// libcurl's global state, set up once for the whole process before the first
// handle; the function-local static makes the set-up thread-safe.
void EnsureCurlInitialised() {
  struct CurlGlobal {
    CurlGlobal() {
      if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        throw HttpError("Impossible d'initialiser la bibliothèque réseau.");
      }
    }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
  };
  static const CurlGlobal global;
}

struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using HeaderList = std::unique_ptr<curl_slist, SlistDeleter>;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

bool HasHttpScheme(const std::string& url) {
  const auto starts_with = [&](std::string_view prefix) {
    return url.size() >= prefix.size() && EqualsIgnoringCase(std::string_view(url).substr(0, prefix.size()), prefix);
  };
  return starts_with("http://") || starts_with("https://");
}

HeaderList AppendHeader(HeaderList list, const std::string& header) {
  curl_slist* appended = curl_slist_append(list.get(), header.c_str());
  if (appended == nullptr) throw std::bad_alloc();
  (void)list.release();
  return HeaderList(appended);
}

void Check(CURLcode code) {
  if (code != CURLE_OK) throw HttpError("Réglage du client HTTP refusé par libcurl.");
}

template <typename T>
void SetOption(CURL* handle, CURLoption option, T value) {
  Check(curl_easy_setopt(handle, option, value));
}

}  // namespace

HttpSettings WindowClientSettings() {
  HttpSettings settings;
  settings.accept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
  settings.user_agent = "Mozilla/3.0 (compatible; Indy Library)";
  settings.max_body_bytes = kMaxDocumentBytes;
  return settings;
}

struct HttpClient::Impl {
  HttpSettings settings;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle{nullptr, &curl_easy_cleanup};
  long response_code = 0;

  // State of the transfer under way.
  std::string body;
  bool body_too_large = false;
  std::string status_line;

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t length = size * count;
    long status = 0;
    curl_easy_getinfo(self->handle.get(), CURLINFO_RESPONSE_CODE, &status);
    // The body of an error answer is not needed: the status is reported.
    if (status >= 400) return length;
    const std::size_t limit = self->settings.max_body_bytes;
    if (limit != 0 && (self->body.size() > limit || length > limit - self->body.size())) {
      self->body_too_large = true;
      return 0;  // abandons the transfer
    }
    self->body.append(data, length);
    return length;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Impl*>(user);
    const std::size_t length = size * count;
    std::string_view line(data, length);
    if (line.starts_with("HTTP/")) {
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
      self->status_line.assign(line);
    }
    return length;
  }

  // The reason phrase of the last status line ("Internal Server Error").
  std::string ReasonPhrase() const {
    const std::size_t after_version = status_line.find(' ');
    if (after_version == std::string::npos) return {};
    const std::size_t after_code = status_line.find(' ', after_version + 1);
    if (after_code == std::string::npos) return {};
    return status_line.substr(after_code + 1, 100);
  }

  void Configure() {
    CURL* h = handle.get();
    SetOption(h, CURLOPT_NOSIGNAL, 1L);
    SetOption(h, CURLOPT_VERBOSE, 0L);
    SetOption(h, CURLOPT_NOPROGRESS, 1L);
    // Cookie engine with an empty start: this handle's cookies only.
    SetOption(h, CURLOPT_COOKIEFILE, "");
    SetOption(h, CURLOPT_PROTOCOLS_STR, kAllowedProtocols);
    SetOption(h, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols);
    SetOption(h, CURLOPT_FOLLOWLOCATION, 1L);
    SetOption(h, CURLOPT_MAXREDIRS, settings.max_redirects);
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
    SetOption(h, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    SetOption(h, CURLOPT_WRITEDATA, static_cast<void*>(this));
    SetOption(h, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    SetOption(h, CURLOPT_HEADERDATA, static_cast<void*>(this));
  }

  std::string Perform(const std::string& url, HeaderList headers) {
    const std::string shown = PourMessage(UrlForDisplay(url));
    if (!HasHttpScheme(url)) {
      response_code = 0;
      throw HttpError("Adresse refusée, seuls http et https sont admis : " + shown);
    }
    CURL* h = handle.get();
    if (!settings.accept.empty()) headers = AppendHeader(std::move(headers), "Accept: " + settings.accept);
    SetOption(h, CURLOPT_URL, url.c_str());
    SetOption(h, CURLOPT_HTTPHEADER, headers.get());
    body.clear();
    body_too_large = false;
    status_line.clear();

    const CURLcode result = curl_easy_perform(h);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    response_code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response_code);

    if (result != CURLE_OK) throw HttpError(DescribeFailure(result, shown));
    if (response_code >= 400) {
      const std::string reason = ReasonPhrase();
      throw HttpError("Le serveur a répondu " + std::to_string(response_code) +
                          (reason.empty() ? "" : " " + reason) + " : " + shown,
                      response_code);
    }
    return std::exchange(body, {});
  }

  std::string DescribeFailure(CURLcode result, const std::string& shown) const {
    CURL* h = handle.get();
    switch (result) {
      case CURLE_UNSUPPORTED_PROTOCOL: {
        // The given URL was checked before: either a redirect left http and
        // https, or the answer was not HTTP at all.
        char* last = nullptr;
        curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &last);
        const std::string target = last != nullptr ? last : "";
        if (HasHttpScheme(target)) return "Réponse du serveur illisible (pas une réponse HTTP) : " + shown;
        return "Redirection refusée, seuls http et https sont admis : " + shown + " vers " +
               PourMessage(UrlForDisplay(target));
      }
      case CURLE_TOO_MANY_REDIRECTS:
        return "Trop de redirections (plus de " + std::to_string(settings.max_redirects) + ") : " + shown;
      case CURLE_URL_MALFORMAT:
        return "Adresse mal formée : " + shown;
      case CURLE_COULDNT_RESOLVE_HOST:
        return "Nom du serveur introuvable : " + shown;
      case CURLE_COULDNT_RESOLVE_PROXY:
        return "Nom du proxy introuvable pour : " + shown;
      case CURLE_COULDNT_CONNECT:
        return "Serveur injoignable : " + shown;
      case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected = 0;
        curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected == 0) {
          return "Délai de connexion dépassé (" + std::to_string(settings.connect_timeout_seconds) +
                 " s) : " + shown;
        }
        return "Délai dépassé, le serveur n'envoie plus rien depuis " +
               std::to_string(settings.stall_timeout_seconds) + " s : " + shown;
      }
      case CURLE_PEER_FAILED_VERIFICATION:
      case CURLE_SSL_CACERT_BADFILE:
      case CURLE_SSL_CERTPROBLEM:
      case CURLE_SSL_ISSUER_ERROR:
      case CURLE_SSL_INVALIDCERTSTATUS:
        return "Certificat du serveur refusé : " + shown;
      case CURLE_SSL_CONNECT_ERROR:
        return "Échec de la connexion sécurisée : " + shown;
      case CURLE_GOT_NOTHING:
      case CURLE_RECV_ERROR:
      case CURLE_SEND_ERROR:
      case CURLE_PARTIAL_FILE:
      case CURLE_HTTP2:
      case CURLE_HTTP2_STREAM:
        return "Connexion interrompue par le serveur : " + shown;
      case CURLE_WRITE_ERROR:
        if (body_too_large) {
          return "Réponse trop volumineuse (plus de " + std::to_string(settings.max_body_bytes) +
                 " octets) : " + shown;
        }
        break;
      case CURLE_OUT_OF_MEMORY:
        return "Mémoire insuffisante pour la requête : " + shown;
      default:
        break;
    }
    return "Échec de la requête HTTP (erreur libcurl " + std::to_string(static_cast<int>(result)) +
           ") : " + shown;
  }
};

HttpClient::HttpClient(HttpSettings settings) : impl_(std::make_unique<Impl>()) {
  EnsureCurlInitialised();
  impl_->settings = std::move(settings);
  impl_->handle.reset(curl_easy_init());
  if (!impl_->handle) throw HttpError("Impossible de créer le client HTTP.");
  impl_->Configure();
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

std::string HttpClient::Get(const std::string& url) {
  SetOption(impl_->handle.get(), CURLOPT_HTTPGET, 1L);
  return impl_->Perform(url, nullptr);
}

std::string HttpClient::Post(const std::string& url, const std::string& body,
                             const std::string& content_type, const std::string& charset) {
  HeaderList headers;
  headers = AppendHeader(std::move(headers), "Content-Type: " + content_type +
                                                 (charset.empty() ? "" : "; charset=" + charset));
  // No "Expect: 100-continue" round trip before larger bodies.
  headers = AppendHeader(std::move(headers), "Expect:");

  CURL* h = impl_->handle.get();
  // The handle must not keep pointing at `body` once this call is over.
  struct ForgetBody {
    CURL* handle;
    ~ForgetBody() { curl_easy_setopt(handle, CURLOPT_POSTFIELDS, nullptr); }
  } forget_body{h};
  SetOption(h, CURLOPT_POST, 1L);
  SetOption(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  SetOption(h, CURLOPT_POSTFIELDS, body.data());
  return impl_->Perform(url, std::move(headers));
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

const HttpSettings& HttpClient::settings() const { return impl_->settings; }

std::string UrlForDisplay(const std::string& url) {
  if (const CurlUrl parsed = ParseUrl(url)) {
    const std::string scheme = UrlPart(parsed.get(), CURLUPART_SCHEME);
    const std::string host = UrlPart(parsed.get(), CURLUPART_HOST);
    const std::string port = UrlPart(parsed.get(), CURLUPART_PORT);
    const std::string path = UrlPart(parsed.get(), CURLUPART_PATH);
    return scheme + "://" + host + (port.empty() ? "" : ":" + port) + path;
  }
  // Not a URL libcurl understands: cut the query, the fragment and any
  // user name and password all the same.
  std::string shown = url.substr(0, url.find_first_of("?#"));
  const std::size_t authority = shown.find("://");
  if (authority != std::string::npos) {
    const std::size_t start = authority + 3;
    const std::size_t end = shown.find('/', start);
    const std::size_t at = shown.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at != std::string::npos && at >= start) shown.erase(start, at + 1 - start);
  }
  return shown;
}

bool IsHttpUrl(const std::string& url) {
  if (!HasHttpScheme(url)) return false;
  const CurlUrl parsed = ParseUrl(url);
  return parsed && !UrlPart(parsed.get(), CURLUPART_HOST).empty();
}

}  // namespace lumivane::platform
