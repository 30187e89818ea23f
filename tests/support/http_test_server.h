#pragma once

#include <httplib.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace lumivane::testing {

// Requests to 127.0.0.1 kept away from any proxy of the environment
// (no_proxy), for the tests that need no server of their own.
void KeepLoopbackAwayFromProxy();

// A port on 127.0.0.1 that this process binds and never listens on: a
// connection to it is refused at once, and no other program can take it
// while this lives. No thread runs for it.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  // "http://127.0.0.1:<port>" + path_and_query (which starts with "/").
  std::string Url(std::string_view path_and_query) const;

 private:
  std::uintptr_t socket_;  // the system's socket handle
  int port_ = 0;
};

// An HTTP or HTTPS server on 127.0.0.1, on a port the system picks, that
// answers on its own thread. Register handlers on server() before Start();
// Stop() (also run by the destructor) stops it and joins its thread.
//
// The HTTPS variant presents a self-signed certificate for 127.0.0.1 made
// when the server is created (with the openssl command); a client trusts it
// only when given certificate_file() as an extra certificate authority.
class HttpTestServer {
 public:
  enum class Scheme { kHttp, kHttps };

  explicit HttpTestServer(Scheme scheme = Scheme::kHttp);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  httplib::Server& server() { return *server_; }

  // Binds to 127.0.0.1 on a free port and serves until Stop(), with
  // KeepLoopbackAwayFromProxy().
  // Idle connections are closed after 1 s, so that Stop() does not wait long
  // for a client that is still alive.
  void Start();
  void Stop();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" or "https://...", without a final "/".
  std::string BaseUrl() const;
  // BaseUrl() + path_and_query (which starts with "/").
  std::string Url(std::string_view path_and_query) const;
  // PEM certificate of the HTTPS variant; empty for plain HTTP.
  std::string certificate_file() const;

 private:
  Scheme scheme_;
  std::filesystem::path certificate_dir_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace lumivane::testing
