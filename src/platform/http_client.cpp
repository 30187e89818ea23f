#include "platform/http_client.h"

#include "platform/curl_url.h"
#include "platform/messages.h"

#include <curl/curl.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>

#include "platform/journal.h"
#include "platform/http_journal.h"
#include "platform/system_error.h"
#include "platform/url_text.h"

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

bool StartsWithIgnoringCase(const std::string& url, std::string_view prefix) {
  return url.size() >= prefix.size() && EqualsIgnoringCase(std::string_view(url).substr(0, prefix.size()), prefix);
}

bool HasHttpScheme(const std::string& url) {
  return StartsWithIgnoringCase(url, "http://") || StartsWithIgnoringCase(url, "https://");
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

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Multi = std::unique_ptr<CURLM, MultiDeleter>;

constexpr int kPollMilliseconds = 100;  // how often a transfer looks at its token

// The state of one transfer: the body goes into `body`, or into the file
// `fd` when there is one.
struct Transfer {
  const HttpSettings* settings = nullptr;
  CURL* handle = nullptr;
  std::string body;
  int fd = -1;
  std::size_t received = 0;
  bool body_too_large = false;
  int write_errno = 0;  // the file could not be written
  std::string status_line;

  void Reset() {
    body.clear();
    received = 0;
    body_too_large = false;
    write_errno = 0;
    status_line.clear();
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    long status = 0;
    curl_easy_getinfo(self->handle, CURLINFO_RESPONSE_CODE, &status);
    // The body of an error answer is not needed: the status is reported.
    if (status >= 400) return length;
    const std::size_t limit = self->settings->max_body_bytes;
    if (limit != 0 && (self->received > limit || length > limit - self->received)) {
      self->body_too_large = true;
      return 0;  // abandons the transfer
    }
    if (self->fd >= 0) {
      std::size_t done = 0;
      while (done < length) {
        const ssize_t n = ::write(self->fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
          self->write_errno = errno;
          return 0;
        }
        done += static_cast<std::size_t>(n);
      }
    } else {
      self->body.append(data, length);
    }
    self->received += length;
    return length;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* self = static_cast<Transfer*>(user);
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

  std::string DescribeStatus(long status, const std::string& shown) const {
    const std::string reason = ReasonPhrase();
    return "Le serveur a répondu " + std::to_string(status) + (reason.empty() ? "" : " " + reason) +
           " : " + shown;
  }

  std::string DescribeFailure(CURLcode result, const std::string& shown) const {
    CURL* h = handle;
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
        return "Trop de redirections (plus de " + std::to_string(settings->max_redirects) + ") : " + shown;
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
          return "Délai de connexion dépassé (" + std::to_string(settings->connect_timeout_seconds) +
                 " s) : " + shown;
        }
        return "Délai dépassé, le serveur n'envoie plus rien depuis " +
               std::to_string(settings->stall_timeout_seconds) + " s : " + shown;
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
          return "Réponse trop volumineuse (plus de " + std::to_string(settings->max_body_bytes) +
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

// Everything but the URL, the method and the headers.
void ConfigureHandle(CURL* h, const HttpSettings& settings, Transfer* transfer) {
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
  SetOption(h, CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  SetOption(h, CURLOPT_WRITEDATA, static_cast<void*>(transfer));
  SetOption(h, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  SetOption(h, CURLOPT_HEADERDATA, static_cast<void*>(transfer));
  transfer->settings = &settings;
  transfer->handle = h;
}

Easy NewEasy() {
  EnsureCurlInitialised();
  Easy easy(curl_easy_init());
  if (!easy) throw HttpError("Impossible de créer le client HTTP.");
  return easy;
}

Multi NewMulti() {
  EnsureCurlInitialised();
  Multi multi(curl_multi_init());
  if (!multi) throw HttpError("Impossible de créer le client HTTP.");
  return multi;
}

// Failures worth a second try: the network, not the request.
bool Transient(CURLcode result, long status) {
  switch (result) {
    case CURLE_OK:
      return status == 502 || status == 503 || status == 504;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

}  // namespace

class SharedConnections {
 public:
  SharedConnections() {
    EnsureCurlInitialised();
    share_ = curl_share_init();
    if (share_ == nullptr) throw HttpError("Impossible de créer le client HTTP.");
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedConnections::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedConnections::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, static_cast<void*>(this));
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
  }
  ~SharedConnections() { curl_share_cleanup(share_); }
  SharedConnections(const SharedConnections&) = delete;
  SharedConnections& operator=(const SharedConnections&) = delete;

  CURLSH* get() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user) {
    static_cast<SharedConnections*>(user)->locks_.at(static_cast<std::size_t>(data)).lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* user) {
    static_cast<SharedConnections*>(user)->locks_.at(static_cast<std::size_t>(data)).unlock();
  }

  CURLSH* share_ = nullptr;
  std::array<std::mutex, CURL_LOCK_DATA_LAST> locks_;
};

std::shared_ptr<SharedConnections> MakeSharedConnections() {
  return std::make_shared<SharedConnections>();
}

struct HttpClient::Impl {
  HttpSettings settings;
  // Declared first: the share outlives the handle that uses it.
  std::shared_ptr<SharedConnections> connections;
  // Drives the one transfer, so that it can be watched and abandoned.
  Multi multi;
  Easy handle;
  Transfer transfer;
  long response_code = 0;
  const CancellationToken* cancel = nullptr;
  const char* method = "GET";

  std::string Perform(const std::string& url, HeaderList headers) {
    const std::string shown = PourMessage(UrlForDisplay(url));
    if (!HasHttpScheme(url)) {
      response_code = 0;
      throw HttpError("Adresse refusée, seuls http et https sont admis : " + shown);
    }
    if (cancel != nullptr && cancel->IsCancelled()) throw OperationAnnulee();
    CURL* h = handle.get();
    if (!settings.accept.empty()) headers = AppendHeader(std::move(headers), "Accept: " + settings.accept);
    SetOption(h, CURLOPT_URL, url.c_str());
    SetOption(h, CURLOPT_HTTPHEADER, headers.get());
    transfer.Reset();

    const auto start = std::chrono::steady_clock::now();
    CURLcode result = CURLE_OK;
    try {
      result = Run();
    } catch (const OperationAnnulee&) {
      NoteRequest(method, url, 0, 0, start, "annulée");
      throw;
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
    response_code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &response_code);

    std::string failure;
    if (result != CURLE_OK) {
      failure = transfer.DescribeFailure(result, shown);
    } else if (response_code >= 400) {
      failure = transfer.DescribeStatus(response_code, shown);
    }
    NoteRequest(method, url, response_code, transfer.received, start, failure);
    if (result != CURLE_OK) throw HttpError(failure);
    if (response_code >= 400) throw HttpError(failure, response_code);
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
      if (cancel != nullptr && cancel->IsCancelled()) throw OperationAnnulee();
      curl_multi_poll(multi.get(), nullptr, 0, kPollMilliseconds, nullptr);
    }
  }
};

HttpClient::HttpClient(HttpSettings settings, std::shared_ptr<SharedConnections> connections)
    : impl_(std::make_unique<Impl>()) {
  impl_->settings = std::move(settings);
  impl_->connections = std::move(connections);
  impl_->multi = NewMulti();
  impl_->handle = NewEasy();
  ConfigureHandle(impl_->handle.get(), impl_->settings, &impl_->transfer);
  if (impl_->connections) {
    Check(curl_easy_setopt(impl_->handle.get(), CURLOPT_SHARE, impl_->connections->get()));
  }
}

HttpClient::~HttpClient() = default;
HttpClient::HttpClient(HttpClient&&) noexcept = default;
HttpClient& HttpClient::operator=(HttpClient&&) noexcept = default;

std::string HttpClient::Get(const std::string& url) {
  SetOption(impl_->handle.get(), CURLOPT_HTTPGET, 1L);
  impl_->method = "GET";
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
  impl_->method = "POST";
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

void HttpClient::SetCancellation(const CancellationToken* token) { impl_->cancel = token; }

const HttpSettings& HttpClient::settings() const { return impl_->settings; }

namespace {

struct Job {
  const FileDownload* download = nullptr;
  FileDownloadResult* result = nullptr;
  Easy easy;
  Transfer transfer;
  bool active = false;
  bool final = false;
  std::chrono::steady_clock::time_point retry_at{};
  std::chrono::steady_clock::time_point started{};
};

}  // namespace

std::vector<FileDownloadResult> DownloadFiles(const std::vector<FileDownload>& downloads,
                                              const HttpSettings& settings, std::size_t per_host,
                                              const CancellationToken* cancel,
                                              const std::function<void(std::size_t)>& done) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kRetryPause = std::chrono::milliseconds(500);

  std::vector<FileDownloadResult> results(downloads.size());
  std::vector<Job> jobs(downloads.size());
  Multi multi = NewMulti();
  curl_multi_setopt(multi.get(), CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(per_host));
  curl_multi_setopt(multi.get(), CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
  // Whatever happens, no handle stays in the multi handle, no file open.
  struct Cleanup {
    CURLM* multi;
    std::vector<Job>& jobs;
    ~Cleanup() {
      for (Job& job : jobs) {
        if (job.active) curl_multi_remove_handle(multi, job.easy.get());
        if (job.transfer.fd >= 0) ::close(job.transfer.fd);
      }
    }
  } cleanup{multi.get(), jobs};

  std::size_t finished = 0;
  const auto finish = [&](Job& job) {
    job.final = true;
    NoteRequest("GET", job.download->url, job.result->status, job.transfer.received, job.started,
                job.result->ok ? std::string() : job.result->error, job.result->attempts);
    if (job.transfer.fd >= 0 && ::close(job.transfer.fd) != 0 && job.result->ok) {
      job.result->ok = false;
      job.result->file_error = true;
      job.result->error = "Impossible d'écrire le fichier " + PourMessage(job.download->path) +
                          " : " + SystemErrorText(errno);
    }
    job.transfer.fd = -1;
    ++finished;
    if (done) done(finished);
  };
  const auto start = [&](Job& job) {
    job.transfer.Reset();
    ++job.result->attempts;
    if (curl_multi_add_handle(multi.get(), job.easy.get()) != CURLM_OK) throw std::bad_alloc();
    job.active = true;
  };

  for (std::size_t i = 0; i < downloads.size(); ++i) {
    Job& job = jobs[i];
    job.download = &downloads[i];
    job.result = &results[i];
    job.started = Clock::now();
    const std::string shown = PourMessage(UrlForDisplay(downloads[i].url));
    if (!HasHttpScheme(downloads[i].url)) {
      job.result->error = "Adresse refusée, seuls http et https sont admis : " + shown;
      finish(job);
      continue;
    }
    job.transfer.fd = ::open(downloads[i].path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (job.transfer.fd < 0) {
      job.result->file_error = true;
      job.result->error = "Impossible d'écrire le fichier " + PourMessage(downloads[i].path) +
                          " : " + SystemErrorText(errno);
      finish(job);
      continue;
    }
    job.easy = NewEasy();
    CURL* h = job.easy.get();
    ConfigureHandle(h, settings, &job.transfer);
    SetOption(h, CURLOPT_URL, downloads[i].url.c_str());
    SetOption(h, CURLOPT_HTTPGET, 1L);
    // Over TLS the server may offer HTTP/2, which says so in the handshake:
    // the transfers wait for it and go over that one connection rather than
    // opening more. Plain http is HTTP/1.1 here, and waiting would only hold
    // the other transfers back until the first answer has come.
    if (StartsWithIgnoringCase(downloads[i].url, "https://")) SetOption(h, CURLOPT_PIPEWAIT, 1L);
    SetOption(h, CURLOPT_PRIVATE, static_cast<void*>(&job));
    start(job);
  }

  while (finished < jobs.size()) {
    int running = 0;
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) throw std::bad_alloc();
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
      if (message->msg != CURLMSG_DONE) continue;
      void* owner = nullptr;
      curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &owner);
      Job& job = *static_cast<Job*>(owner);
      const CURLcode result = message->data.result;
      curl_multi_remove_handle(multi.get(), job.easy.get());
      job.active = false;
      long status = 0;
      curl_easy_getinfo(job.easy.get(), CURLINFO_RESPONSE_CODE, &status);
      job.result->status = status;
      const std::string shown = PourMessage(UrlForDisplay(job.download->url));
      if (result == CURLE_OK && status < 400) {
        job.result->ok = true;
        finish(job);
      } else if (job.transfer.write_errno != 0) {
        job.result->file_error = true;
        job.result->error = "Impossible d'écrire le fichier " + PourMessage(job.download->path) +
                            " : " + SystemErrorText(job.transfer.write_errno);
        finish(job);
      } else if (job.result->attempts == 1 && Transient(result, status)) {
        // The body so far is dropped; the second try starts afresh.
        if (::ftruncate(job.transfer.fd, 0) != 0 || ::lseek(job.transfer.fd, 0, SEEK_SET) != 0) {
          job.result->file_error = true;
          job.result->error = "Impossible d'écrire le fichier " + PourMessage(job.download->path) +
                              " : " + SystemErrorText(errno);
          finish(job);
        } else {
          job.retry_at = Clock::now() + kRetryPause;
        }
      } else {
        job.result->error = result != CURLE_OK ? job.transfer.DescribeFailure(result, shown)
                                               : job.transfer.DescribeStatus(status, shown);
        finish(job);
      }
    }
    if (cancel != nullptr && cancel->IsCancelled()) throw OperationAnnulee();

    int wait = kPollMilliseconds;
    const auto now = Clock::now();
    for (Job& job : jobs) {
      if (job.final || job.active) continue;
      if (job.retry_at <= now) {
        start(job);
        wait = 0;
      } else {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(job.retry_at - now);
        wait = std::min<int>(wait, static_cast<int>(left.count()) + 1);
      }
    }
    if (finished < jobs.size()) curl_multi_poll(multi.get(), nullptr, 0, wait, nullptr);
  }
  return results;
}

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
  return WithoutQueryAndCredentials(url);
}

bool IsHttpUrl(const std::string& url) {
  if (!HasHttpScheme(url)) return false;
  const CurlUrl parsed = ParseUrl(url);
  return parsed && !UrlPart(parsed.get(), CURLUPART_HOST).empty();
}

}  // namespace lumivane::platform
