#include "http/transport.h"
#include "http/url.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "http_test_server.h"

namespace lumivane::http {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using base::CancellationToken;
using base::OperationCancelled;
using http::FileDownload;
using http::HttpError;
using http::HttpSettings;
using http::IsHttpUrl;
using http::UrlForDisplay;
using http::WindowClientSettings;

using lumivane::testing::HttpTestServer;
using namespace std::chrono_literals;

// Every failing request carries this query: no error text may show it.
constexpr const char* kSecretQuery = "?email=a&mdp=secret";

class HttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    s.Get("/echo",
          [this](const httplib::Request& req, httplib::Response& res) { Record(req, res); });
    s.Post("/echo",
           [this](const httplib::Request& req, httplib::Response& res) { Record(req, res); });
    s.Get("/cookie", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Set-Cookie", "PHPSESSID=abc123; Path=/");
      res.set_content("ok", "text/plain");
    });
    const auto status = [](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      if (res.status != 204) res.set_content("corps", "text/plain");
    };
    s.Get(R"(/status/(\d+))", status);
    s.Post(R"(/status/(\d+))", status);
    s.Get(R"(/hop/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      const int left = std::stoi(req.matches[1]);
      if (left == 0) {
        res.set_content("arrivé", "text/plain");
      } else {
        res.set_redirect(server_.Url("/hop/" + std::to_string(left - 1) + kSecretQuery));
      }
    });
    s.Get("/to-file", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("file:///etc/passwd");
    });
    s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("ftp://127.0.0.1/fichier");  // libcurl would follow it by default
    });
    s.Get(R"(/bytes/(\d+))", [this](const httplib::Request& req, httplib::Response& res) {
      // Chunked: the length is not announced.
      const std::size_t total = std::stoul(req.matches[1]);
      res.set_chunked_content_provider(
          "application/octet-stream", [this, total](std::size_t sent, httplib::DataSink& sink) {
            const std::string chunk(std::min<std::size_t>(16384, total - sent), 'x');
            if (!sink.write(chunk.data(), chunk.size())) return false;
            bytes_sent_ = sent + chunk.size();
            if (bytes_sent_ == total) sink.done();
            return true;
          });
    });
    s.Get("/stall", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain",
                                       [this](std::size_t offset, httplib::DataSink& sink) {
                                         if (offset == 0) return sink.write("début", 6);
                                         // Then nothing more until the test ends.
                                         for (int i = 0; i < 500 && !released_; ++i)
                                           std::this_thread::sleep_for(10ms);
                                         return false;
                                       });
    });
    s.Get("/gros-en-tete", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("X-Gros", std::string(150000, 'a'));
      res.set_content("corps", "text/plain");
    });
    s.Get("/drop", [](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(1000, "text/plain",
                               [](std::size_t, std::size_t, httplib::DataSink& sink) {
                                 sink.write("incomplet", 9);
                                 return false;  // closes the connection with the body unfinished
                               });
    });
    server_.Start();
  }

  void TearDown() override {
    released_ = true;
    server_.Stop();
  }

  void Record(const httplib::Request& req, httplib::Response& res) {
    const std::lock_guard lock(mutex_);
    last_ = req;
    res.set_content("écho", "text/plain; charset=utf-8");
  }

  std::string LastHeader(const std::string& name) {
    const std::lock_guard lock(mutex_);
    return last_.has_header(name) ? last_.get_header_value(name) : "<absent>";
  }
  // The client's end of the connection the last request came over.
  int LastPort() {
    const std::lock_guard lock(mutex_);
    return last_.remote_port;
  }

  // Runs a request that must fail, and checks the error: its text holds
  // `expected`, never the query, and libcurl wrote nothing to stderr.
  static void ExpectFailure(const std::function<void()>& request, const std::string& expected,
                            long status = 0) {
    ::testing::internal::CaptureStderr();
    try {
      request();
      ::testing::internal::GetCapturedStderr();
      ADD_FAILURE() << "no error, expected: " << expected;
    } catch (const HttpError& error) {
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
      const std::string text = error.what();
      EXPECT_THAT(text, HasSubstr(expected)) << text;
      EXPECT_THAT(text, Not(HasSubstr("secret"))) << text;
      EXPECT_THAT(text, Not(HasSubstr("mdp"))) << text;
      EXPECT_EQ(error.status(), status) << text;
    }
  }

  HttpTestServer server_;
  std::mutex mutex_;
  httplib::Request last_;
  std::atomic<bool> released_{false};
  std::atomic<std::size_t> bytes_sent_{0};
};

TEST_F(HttpClientTest, WindowClientsSendTheirHeadersAndDefaultClientsLibcurlDefaults) {
  HttpClient window(WindowClientSettings());
  EXPECT_EQ(window.Get(server_.Url("/echo")), "écho");
  EXPECT_EQ(window.ResponseCode(), 200);
  EXPECT_EQ(LastHeader("Accept"),
            "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8");
  EXPECT_EQ(LastHeader("User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
  EXPECT_EQ(LastHeader("Authorization"), "<absent>");

  HttpClient plain;
  plain.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Accept"), "*/*");
  EXPECT_EQ(LastHeader("User-Agent"), "<absent>");
}

TEST_F(HttpClientTest, CookiesGoBackOnlyWithTheClientThatReceivedThem) {
  HttpClient first(WindowClientSettings());
  HttpClient second(WindowClientSettings());
  first.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Cookie"), "<absent>");
  first.Get(server_.Url("/cookie"));
  first.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Cookie"), "PHPSESSID=abc123");
  first.Post(server_.Url("/echo"), "{}", "application/json", "utf-8");
  EXPECT_EQ(LastHeader("Cookie"), "PHPSESSID=abc123");
  second.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Cookie"), "<absent>");

  // A moved client keeps its cookies.
  HttpClient moved(std::move(first));
  moved.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Cookie"), "PHPSESSID=abc123");
}

// The window's two clients, each with its own cookies.
TEST_F(HttpClientTest, TheWindowsTwoClientsKeepTheirOwnCookies) {
  HttpClient first(WindowClientSettings());
  HttpClient second(WindowClientSettings());
  first.Get(server_.Url("/cookie"));
  first.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Cookie"), "PHPSESSID=abc123");
  second.Post(server_.Url("/echo"), "{}", "application/json", "utf-8");
  EXPECT_EQ(LastHeader("Cookie"), "<absent>");
  second.Get(server_.Url("/cookie"));
  first.Get(server_.Url("/echo"));
  EXPECT_EQ(LastHeader("Cookie"), "PHPSESSID=abc123");
}

TEST_F(HttpClientTest, PostSendsBodyContentTypeAndEmptyBasicCredentials) {
  HttpClient client(WindowClientSettings());
  const std::string body = R"({"QUOTE_ID":"D-1","key":"clé"})";
  client.SetBasicAuthentication(true);
  EXPECT_EQ(client.Post(server_.Url("/echo"), body, "application/json", "utf-8"), "écho");
  {
    const std::lock_guard lock(mutex_);
    EXPECT_EQ(last_.method, "POST");
    EXPECT_EQ(last_.body, body);
    EXPECT_EQ(last_.get_header_value("Content-Type"), "application/json; charset=utf-8");
    EXPECT_FALSE(last_.has_header("Expect"));
  }
  EXPECT_EQ(LastHeader("Authorization"), "Basic Og==");  // base64 of ":"

  // The next request is a GET again, and without credentials once switched off.
  client.SetBasicAuthentication(false);
  client.Get(server_.Url("/echo"));
  {
    const std::lock_guard lock(mutex_);
    EXPECT_EQ(last_.method, "GET");
    EXPECT_EQ(last_.body, "");
  }
  EXPECT_EQ(LastHeader("Authorization"), "<absent>");
}

TEST_F(HttpClientTest, StatusesBelow400AreReturnedAndOthersRaised) {
  HttpClient client;
  EXPECT_EQ(client.Get(server_.Url("/status/204")), "");
  EXPECT_EQ(client.ResponseCode(), 204);
  ExpectFailure([&] { client.Get(server_.Url(std::string("/status/500") + kSecretQuery)); },
                "500 Internal Server Error", 500);
  EXPECT_EQ(client.ResponseCode(), 500);
  ExpectFailure([&] { client.Get(server_.Url(std::string("/status/404") + kSecretQuery)); },
                "404 Not Found", 404);
  ExpectFailure(
      [&] {
        client.Post(server_.Url(std::string("/status/500") + kSecretQuery), "x", "text/plain",
                    "utf-8");
      },
      "500 Internal Server Error", 500);
}

TEST_F(HttpClientTest, RedirectsStopAfterTheLimitAndNeverLeaveHttp) {
  HttpClient client;
  EXPECT_EQ(client.Get(server_.Url("/hop/10")), "arrivé");
  ExpectFailure([&] { client.Get(server_.Url(std::string("/hop/11") + kSecretQuery)); },
                "Trop de redirections");
  ExpectFailure([&] { client.Get(server_.Url(std::string("/to-file") + kSecretQuery)); },
                "Redirection refusée, seuls http et https sont admis : " + server_.Url("/to-file") +
                    " vers file:///etc/passwd");
  ExpectFailure([&] { client.Get(server_.Url(std::string("/to-ftp") + kSecretQuery)); },
                "Redirection refusée");
  ExpectFailure([&] { client.Get(std::string("file:///etc/passwd") + kSecretQuery); },
                "Adresse refusée");
  ExpectFailure([&] { client.Get(std::string("ftp://127.0.0.1/x") + kSecretQuery); },
                "Adresse refusée");
}

TEST_F(HttpClientTest, TransferFailuresSayWhatFailed) {
  HttpSettings settings;
  settings.stall_timeout_seconds = 1;
  settings.max_body_bytes = 100000;
  HttpClient client(settings);

  EXPECT_EQ(client.Get(server_.Url("/bytes/100000")).size(), 100000u);
  ExpectFailure([&] { client.Get(server_.Url(std::string("/bytes/100001") + kSecretQuery)); },
                "Réponse trop volumineuse");
  bytes_sent_ = 0;
  ExpectFailure([&] { client.Get(server_.Url(std::string("/bytes/50000000") + kSecretQuery)); },
                "Réponse trop volumineuse");
  EXPECT_LT(bytes_sent_.load(), 50000000u);  // abandoned while it arrived

  // Over a connection kept alive from the request before: a body that stops
  // is the server's silence, not a slow connection.
  EXPECT_EQ(client.Get(server_.Url("/echo")), "écho");
  const auto start = std::chrono::steady_clock::now();
  ExpectFailure([&] { client.Get(server_.Url(std::string("/stall") + kSecretQuery)); },
                "Délai dépassé, le serveur n'envoie plus rien depuis 1 s");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);

  ExpectFailure([&] { client.Get(server_.Url(std::string("/drop") + kSecretQuery)); },
                "Connexion interrompue");
#ifndef _WIN32
  // libcurl takes a header line up to 100 KB (WinHTTP's bound is its own).
  ExpectFailure([&] { client.Get(server_.Url(std::string("/gros-en-tete") + kSecretQuery)); },
                "En-têtes de la réponse trop volumineux");
#endif
}

// The window's clients take at most 64 MiB per answer: a server that sends
// without end is cut off there, not when memory runs out.
TEST_F(HttpClientTest, WindowClientsCapEveryAnswer) {
  HttpClient client(WindowClientSettings());
  ExpectFailure([&] { client.Get(server_.Url(std::string("/bytes/1000000000") + kSecretQuery)); },
                "Réponse trop volumineuse (plus de 67108864 octets)");
  EXPECT_LT(bytes_sent_.load(), 100000000u);
  EXPECT_EQ(client.Get(server_.Url("/echo")), "écho");
  EXPECT_EQ(client.ContentType(), "text/plain; charset=utf-8");
}

TEST(HttpClientConnectionTest, RefusedConnectionIsReported) {
  // A bound socket that does not listen: connections to it are refused.
#ifdef _WIN32
  const SOCKET sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(sock, INVALID_SOCKET);
  int length = sizeof(sockaddr_in);
#else
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  socklen_t length = sizeof(sockaddr_in);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string url =
      "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/index.php" + kSecretQuery;

  HttpClient client;
  try {
    client.Get(url);
    ADD_FAILURE() << "no error";
  } catch (const HttpError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Serveur injoignable : http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) +
                  "/index.php");
    EXPECT_EQ(error.status(), 0);
  }
  EXPECT_EQ(client.ResponseCode(), 0);
#ifdef _WIN32
  closesocket(sock);
#else
  close(sock);
#endif
}

#ifndef _WIN32
// The HTTPS test server needs OpenSSL, which the Windows build lacks.
class HttpsClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("sécurisé", "text/plain");
    });
    server_.Start();
  }
  void TearDown() override { server_.Stop(); }

  HttpTestServer server_{HttpTestServer::Scheme::kHttps};
};

TEST_F(HttpsClientTest, CertificateAndHostNameAreVerified) {
  HttpClient untrusting;
  try {
    untrusting.Get(server_.Url(std::string("/") + kSecretQuery));
    ADD_FAILURE() << "an untrusted certificate was accepted";
  } catch (const HttpError& error) {
    EXPECT_EQ(std::string(error.what()), "Certificat du serveur refusé : " + server_.Url("/"));
  }

  HttpSettings settings;
  settings.extra_ca_file = server_.certificate_file();
  HttpClient trusting(settings);
  EXPECT_EQ(trusting.Get(server_.Url("/")), "sécurisé");
  // The certificate names 127.0.0.1 only.
  const std::string other_name = "https://localhost:" + std::to_string(server_.port()) + "/";
  EXPECT_THROW(trusting.Get(other_name), HttpError);
}

// An https server that sends the request on to plain http: the password in
// the query, or the quote's key in a 307's body, would travel in clear. The
// http server never hears of it.
TEST_F(HttpsClientTest, RedirectFromHttpsToHttpIsRefused) {
  HttpTestServer plain;
  std::atomic<int> heard{0};
  plain.server().Get("/cible", [&](const httplib::Request&, httplib::Response& res) {
    ++heard;
    res.set_content("en clair", "text/plain");
  });
  plain.server().Post("/cible", [&](const httplib::Request&, httplib::Response& res) {
    ++heard;
    res.set_content("en clair", "text/plain");
  });
  plain.Start();
  const std::string target = plain.Url("/cible?mdp=secret");
  server_.server().Get("/vers-http", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(target, 302);
  });
  server_.server().Post("/vers-http", [&](const httplib::Request&, httplib::Response& res) {
    res.set_redirect(target, 307);
  });
  HttpSettings settings;
  settings.extra_ca_file = server_.certificate_file();
  HttpClient client(settings);
  const std::string refused =
      "Redirection refusée d'une adresse sécurisée (https) vers une adresse non sécurisée (http) "
      ": " +
      server_.Url("/vers-http") + " vers " + plain.Url("/cible");
  try {
    client.Get(server_.Url("/vers-http?mdp=secret"));
    ADD_FAILURE() << "followed";
  } catch (const HttpError& error) {
    EXPECT_EQ(std::string(error.what()), refused);
  }
  try {
    client.Post(server_.Url("/vers-http"), R"({"key":"cle"})", "application/json", "utf-8");
    ADD_FAILURE() << "followed";
  } catch (const HttpError& error) {
    EXPECT_EQ(std::string(error.what()), refused);
  }
  EXPECT_EQ(heard.load(), 0);
  plain.Stop();
}
#endif

TEST(UrlTextTest, DisplayDropsQueryFragmentAndCredentials) {
  EXPECT_EQ(UrlForDisplay("https://h.example:8443/index.php/Services/jeton?email=a&mdp=b#f"),
            "https://h.example:8443/index.php/Services/jeton");
  EXPECT_EQ(UrlForDisplay("http://user:pw@h.example/a?b"), "http://h.example/a");
  EXPECT_EQ(UrlForDisplay("pas une adresse ?mdp=b"), "pas une adresse ");
  EXPECT_EQ(UrlForDisplay("http://u:p@h ost/x y?mdp=b"), "http://h ost/x y");

  EXPECT_TRUE(IsHttpUrl("HTTPS://h.example/x?y"));
  EXPECT_FALSE(IsHttpUrl("ftp://h.example/"));
  EXPECT_FALSE(IsHttpUrl("http://"));
}

}  // namespace
}  // namespace lumivane::http
