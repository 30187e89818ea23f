#include "http_test_server.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace lumivane::testing {
namespace {

#ifndef _WIN32
std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lumivane-tls-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  return buffer.data();
}

void MakeSelfSignedCertificate(const std::filesystem::path& dir) {
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1"
      " -keyout '" +
      (dir / "key.pem").string() + "' -out '" + (dir / "cert.pem").string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    throw std::runtime_error("openssl could not make a test certificate");
  }
}

#endif

}  // namespace

#ifndef _WIN32
void KeepLoopbackAwayFromProxy() {
  for (const char* name : {"no_proxy", "NO_PROXY"}) {
    const char* current = std::getenv(name);
    std::string value = current != nullptr ? current : "";
    if (value.find("127.0.0.1") != std::string::npos) continue;
    value = value.empty() ? "127.0.0.1" : value + ",127.0.0.1";
    setenv(name, value.c_str(), 1);
  }
}
#else
// The Windows client keeps loopback addresses away from any proxy itself.
void KeepLoopbackAwayFromProxy() {}
#endif

namespace {
void CloseSocket(std::uintptr_t sock) {
#ifdef _WIN32
  ::closesocket(static_cast<SOCKET>(sock));
#else
  ::close(static_cast<int>(sock));
#endif
}
}  // namespace

RefusingPort::RefusingPort() {
#ifdef _WIN32
  const SOCKET sock = ::socket(AF_INET, SOCK_STREAM, 0);
  const bool made = sock != INVALID_SOCKET;
  int length = sizeof(sockaddr_in);
#else
  const int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool made = sock >= 0;
  socklen_t length = sizeof(sockaddr_in);
#endif
  if (!made) throw std::runtime_error("no socket for a refusing port");
  socket_ = static_cast<std::uintptr_t>(sock);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(sock, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseSocket(socket_);
    throw std::runtime_error("a refusing port could not be bound on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
}

RefusingPort::~RefusingPort() { CloseSocket(socket_); }

std::string RefusingPort::Url(std::string_view path_and_query) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path_and_query);
}

HttpTestServer::HttpTestServer(Scheme scheme) : scheme_(scheme) {
  if (scheme_ == Scheme::kHttps) {
#ifdef _WIN32
    // No OpenSSL for the Windows build: the HTTPS variant is Linux's only.
    throw std::runtime_error("no HTTPS test server in the Windows build");
#else
    certificate_dir_ = MakeTempDir();
    MakeSelfSignedCertificate(certificate_dir_);
    auto tls = std::make_unique<httplib::SSLServer>((certificate_dir_ / "cert.pem").c_str(),
                                                    (certificate_dir_ / "key.pem").c_str());
    if (!tls->is_valid())
      throw std::runtime_error("the test HTTPS server could not load its certificate");
    server_ = std::move(tls);
#endif
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
}

HttpTestServer::~HttpTestServer() {
  Stop();
  if (!certificate_dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(certificate_dir_, ignored);
  }
}

void HttpTestServer::Start() {
  KeepLoopbackAwayFromProxy();
  // Stop() waits for idle kept-alive connections: keep them short.
  server_->set_keep_alive_timeout(1);
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("the test server could not bind to 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  // stop() only works once the accept loop runs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server_->is_running()) {
    if (std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("the test server did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void HttpTestServer::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

std::string HttpTestServer::BaseUrl() const {
  return std::string(scheme_ == Scheme::kHttps ? "https" : "http") +
         "://127.0.0.1:" + std::to_string(port_);
}

std::string HttpTestServer::Url(std::string_view path_and_query) const {
  return BaseUrl() + std::string(path_and_query);
}

std::string HttpTestServer::certificate_file() const {
  return certificate_dir_.empty() ? std::string() : (certificate_dir_ / "cert.pem").string();
}

}  // namespace lumivane::testing
