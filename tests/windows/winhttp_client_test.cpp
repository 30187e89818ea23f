// The WinHTTP client where WinHTTP needs the client's own work: redirects
// followed by hand, the stall rule over a trickling body, the wait for the
// answer's headers, the size cap of an announced body, the Content-Type.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "http/transport.h"
#include "report/journal.h"
#include "platform/files.h"
#include "temp_dir.h"

namespace lumivane::http {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using base::CancellationToken;
using base::OperationCancelled;
using http::HttpError;
using http::HttpSettings;
using http::WindowClientSettings;
using platform::ReadFileBytes;
using platform::TemporaryPathIn;

using lumivane::testing::HttpTestServer;
using namespace std::chrono_literals;

class WinHttpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& s = server_.server();
    const auto record = [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex_);
      last_ = req;
      res.set_content("cible", "text/xml; charset=windows-1252");
    };
    s.Get("/target", record);
    s.Post("/target", record);
    const auto redirect = [](const httplib::Request& req, httplib::Response& res) {
      res.status = std::stoi(req.matches[1]);
      // A relative Location, with a cookie set on the way.
      res.set_header("Location", "../target?from=" + req.matches[1].str());
      res.set_header("Set-Cookie", "etape=" + req.matches[1].str() + "; Path=/");
    };
    s.Get(R"(/redirect/(\d+))", redirect);
    s.Post(R"(/redirect/(\d+))", redirect);
    s.Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("ftp://127.0.0.1/fichier");
    });
    s.Get("/trickle", [this](const httplib::Request&, httplib::Response& res) {
      // One byte every 1.5 s: never silent for a whole stall period (2 s),
      // yet below one byte a second.
      // Twenty bytes at most, so that a client that never gives up does not
      // hold the test for ever.
      res.set_chunked_content_provider("text/plain",
                                       [this](std::size_t sent, httplib::DataSink& sink) {
                                         for (int i = 0; i < 150 && !released_; ++i)
                                           std::this_thread::sleep_for(10ms);
                                         return !released_ && sent < 20 && sink.write("x", 1);
                                       });
    });
    s.Get("/slow-but-steady", [](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("text/plain", [](std::size_t sent, httplib::DataSink& sink) {
        if (sent >= 60) {
          sink.done();
          return true;
        }
        std::this_thread::sleep_for(250ms);
        return sink.write("0123456789", 10);
      });
    });
    s.Get("/late-headers", [this](const httplib::Request&, httplib::Response& res) {
      for (int i = 0; i < 500 && !released_; ++i) std::this_thread::sleep_for(10ms);
      res.set_content("trop tard", "text/plain");
    });
    s.Get("/announced", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(200000, 'a'), "application/octet-stream");
    });
    s.Get("/no-type", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    // The same server as a proxy: requests in absolute form.
    s.Get(R"(.*/par-proxy)", [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex_);
      last_ = req;
      res.set_content("par le proxy", "text/plain");
    });
    server_.Start();
  }

  void TearDown() override {
    released_ = true;
    server_.Stop();
  }

  httplib::Request Last() {
    const std::lock_guard lock(mutex_);
    return last_;
  }

  static std::string FailureText(const std::function<void()>& request) {
    try {
      request();
    } catch (const HttpError& error) {
      return error.what();
    }
    return "<no error>";
  }

  HttpTestServer server_;
  std::mutex mutex_;
  httplib::Request last_;
  std::atomic<bool> released_{false};
};

TEST_F(WinHttpClientTest, RedirectsFollowTheBrowsersMethodRules) {
  const std::string body = R"({"QUOTE_ID":"D-1"})";
  for (const int status : {301, 302, 303, 307, 308}) {
    HttpClient client(WindowClientSettings());
    EXPECT_EQ(client.Post(server_.Url("/redirect/" + std::to_string(status)), body,
                          "application/json", "utf-8"),
              "cible")
        << status;
    EXPECT_EQ(client.ResponseCode(), 200);
    const httplib::Request last = Last();
    EXPECT_EQ(last.path, "/target") << status;
    EXPECT_EQ(last.get_param_value("from"), std::to_string(status));
    EXPECT_EQ(last.get_header_value("Cookie"), "etape=" + std::to_string(status));
    if (status == 307 || status == 308) {
      EXPECT_EQ(last.method, "POST") << status;
      EXPECT_EQ(last.body, body) << status;
      EXPECT_EQ(last.get_header_value("Content-Type"), "application/json; charset=utf-8");
    } else {
      EXPECT_EQ(last.method, "GET") << status;
      EXPECT_EQ(last.body, "") << status;
      EXPECT_FALSE(last.has_header("Content-Type")) << status;
    }
  }
  // A GET stays a GET whatever the status.
  HttpClient client;
  client.Get(server_.Url("/redirect/307"));
  EXPECT_EQ(Last().method, "GET");
  EXPECT_EQ(FailureText([&] { client.Get(server_.Url("/to-ftp?mdp=secret")); }),
            "Redirection refusée, seuls http et https sont admis : " + server_.Url("/to-ftp") +
                " vers ftp://127.0.0.1/fichier");
}

TEST_F(WinHttpClientTest, StallRuleCoversTricklingBodiesAndLateHeaders) {
  HttpSettings settings;
  settings.stall_timeout_seconds = 2;
  HttpClient client(settings);

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(FailureText([&] { client.Get(server_.Url("/trickle?mdp=secret")); }),
            "Délai dépassé, le serveur n'envoie plus rien depuis 2 s : " + server_.Url("/trickle"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);

  start = std::chrono::steady_clock::now();
  EXPECT_EQ(
      FailureText([&] { client.Get(server_.Url("/late-headers")); }),
      "Délai dépassé, le serveur n'envoie plus rien depuis 2 s : " + server_.Url("/late-headers"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4500ms);

  // Slow but above a byte a second: nothing is abandoned.
  EXPECT_EQ(client.Get(server_.Url("/slow-but-steady")).size(), 60u);
}

// "Annuler" while the client waits for the headers or for more of the body.
TEST_F(WinHttpClientTest, CancelledRequestsStopWithOperationCancelled) {
  for (const char* path : {"/late-headers", "/trickle"}) {
    CancellationToken cancel;
    HttpClient client;
    client.SetCancellation(&cancel);
    std::thread annuler([&] {
      std::this_thread::sleep_for(200ms);
      cancel.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client.Get(server_.Url(path)), OperationCancelled) << path;
    // Within half a second of the token, not when the server answers (5 s).
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << path;
    annuler.join();
    // A token already set stops the next request before it starts.
    EXPECT_THROW(client.Get(server_.Url("/target")), OperationCancelled);
  }
}

// One journal line per request: method, address without its query, status,
// size and time, or what failed.
TEST_F(WinHttpClientTest, EachRequestIsNotedInTheJournal) {
  const lumivane::testing::TempDir dir;
  const std::string path = (dir.Path() / "Lumivane" / "journal.log").string();
  report::journal::Open(path);
  HttpClient client;
  client.Get(server_.Url("/target?jeton=secret"));
  EXPECT_THROW(client.Get(server_.Url("/redirect/999")), HttpError);
  report::journal::Close();
  const std::string text = ReadFileBytes(path);
  EXPECT_THAT(text, HasSubstr(" http : GET " + server_.Url("/target") + " : 200, 5 octets, "))
      << text;
  EXPECT_THAT(text, HasSubstr(" http : GET " + server_.Url("/redirect/999") +
                              " : Le serveur a répondu 999"))
      << text;
  EXPECT_THAT(text, Not(HasSubstr("secret")));
}

TEST_F(WinHttpClientTest, AnnouncedBodyOverTheCapIsRefused) {
  HttpSettings settings;
  settings.max_body_bytes = 100000;
  HttpClient client(settings);
  EXPECT_EQ(FailureText([&] { client.Get(server_.Url("/announced")); }),
            "Réponse trop volumineuse (plus de 100000 octets) : " + server_.Url("/announced"));
  settings.max_body_bytes = 200000;
  HttpClient roomy(settings);
  EXPECT_EQ(roomy.Get(server_.Url("/announced")).size(), 200000u);
}

TEST_F(WinHttpClientTest, ContentTypeOfTheLastAnswer) {
  HttpClient client;
  EXPECT_EQ(client.ContentType(), "");
  client.Get(server_.Url("/target"));
  EXPECT_EQ(client.ContentType(), "text/xml; charset=windows-1252");
  client.Get(server_.Url("/no-type"));
  EXPECT_EQ(client.ContentType(), "");
}

// The user's proxy as the browser settings store it (the blob that
// WinHttpGetIEProxyConfigForCurrentUser reads), for the length of a test.
class UserProxySetting {
 public:
  explicit UserProxySetting(const std::string& proxy) {
    RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                    &key_, nullptr);
    DWORD size = 0;
    if (RegQueryValueExW(key_, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
      saved_.resize(size);
      RegQueryValueExW(key_, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(saved_.data()),
                       &size);
      had_value_ = true;
    }
    std::string blob;
    const auto dword = [&blob](DWORD value) {
      blob.append(reinterpret_cast<const char*>(&value), sizeof value);
    };
    dword(0x46);  // format
    dword(1);     // change counter
    dword(0x3);   // direct connections allowed, named proxy
    dword(static_cast<DWORD>(proxy.size()));
    blob += proxy;
    dword(0);  // no bypass list
    dword(0);  // no automatic configuration script
    RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(blob.data()),
                   static_cast<DWORD>(blob.size()));
  }
  ~UserProxySetting() {
    if (had_value_) {
      RegSetValueExW(key_, kValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(saved_.data()),
                     static_cast<DWORD>(saved_.size()));
    } else {
      RegDeleteValueW(key_, kValue);
    }
    RegCloseKey(key_);
  }
  UserProxySetting(const UserProxySetting&) = delete;
  UserProxySetting& operator=(const UserProxySetting&) = delete;

 private:
  static constexpr const wchar_t* kConnections =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
  static constexpr const wchar_t* kValue = L"DefaultConnectionSettings";
  HKEY key_ = nullptr;
  std::string saved_;
  bool had_value_ = false;
};

TEST_F(WinHttpClientTest, RequestsGoThroughTheUsersProxyButLoopbackNever) {
  const UserProxySetting proxy("127.0.0.1:" + std::to_string(server_.port()));
  HttpClient client(WindowClientSettings());
  EXPECT_EQ(client.Get("http://devis.lumivane.example/par-proxy"), "par le proxy");
  // The absolute form a proxy receives (Wine writes the port 80 out).
  EXPECT_TRUE(Last().target.starts_with("http://devis.lumivane.example")) << Last().target;
  EXPECT_EQ(Last().get_header_value("Host"), "devis.lumivane.example");
  // Loopback addresses are reached directly.
  EXPECT_EQ(client.Get(server_.Url("/target")), "cible");
  EXPECT_EQ(Last().target, "/target");
}

// A real proxy asking for credentials (Debian's tinyproxy, started by the
// proxy-407 fixture) as the user's fixed proxy: a plain request and the
// tunnel of an https one both name the proxy, from the window's client and
// from the pictures' downloads.
TEST_F(WinHttpClientTest, TheProxysRequestForCredentialsNamesTheProxy) {
  const char* dir = std::getenv("LUMIVANE_TEST_PROXY_DIR");
  ASSERT_NE(dir, nullptr) << "run through ctest: the proxy-407 fixture starts the proxy";
  std::string port = ReadFileBytes(std::string(dir) + "/port");
  while (!port.empty() && (port.back() == '\n' || port.back() == '\r')) port.pop_back();
  const std::string proxy = "127.0.0.1:" + port;
  const UserProxySetting setting(proxy);
  const lumivane::testing::TempDir folder;
  for (const std::string url :
       {"http://devis.lumivane.invalid/image.jpeg", "https://devis.lumivane.invalid/image.jpeg"}) {
    const std::string expected =
        "Le proxy " + proxy + " demande une identification (407) pour : " + url;
    HttpClient client(WindowClientSettings());
    try {
      client.Get(url);
      ADD_FAILURE() << "no error for " << url;
    } catch (const HttpError& error) {
      EXPECT_EQ(error.what(), expected);
    }
    const std::vector<http::FileDownload> downloads = {
        {url, TemporaryPathIn(folder.Path().string() + "\\")}};
    const auto results = DownloadFiles(downloads, {}, 1, 0, nullptr, {});
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(results[0].error, expected);
  }
}

}  // namespace
}  // namespace lumivane::http
