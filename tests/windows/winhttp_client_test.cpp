// WinHTTP's own part of the client: the proxy of the user's browser
// settings, which WinHTTP reads from the registry. The contract both systems
// share is in tests/unit/http_client_test.cpp.
#include <gtest/gtest.h>
// Before windows.h, as the test server's header wants it.
#include <winsock2.h>

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "http/transport.h"
#include "http_test_server.h"
#include "platform/files.h"
#include "temp_dir.h"

namespace lumivane::http {
namespace {

using lumivane::testing::HttpTestServer;

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

class WinHttpProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto record = [this](const httplib::Request& req, httplib::Response& res) {
      const std::lock_guard lock(mutex_);
      last_ = req;
      res.set_content("direct", "text/plain");
    };
    server_.server().Get("/target", record);
    // The same server as a proxy: requests in absolute form.
    server_.server().Get(R"(.*/par-proxy)",
                         [this](const httplib::Request& req, httplib::Response& res) {
                           const std::lock_guard lock(mutex_);
                           last_ = req;
                           res.set_content("par le proxy", "text/plain");
                         });
    server_.Start();
  }

  httplib::Request Last() {
    const std::lock_guard lock(mutex_);
    return last_;
  }

  HttpTestServer server_;
  std::mutex mutex_;
  httplib::Request last_;
};

TEST_F(WinHttpProxyTest, RequestsGoThroughTheUsersProxyButLoopbackNever) {
  const UserProxySetting proxy("127.0.0.1:" + std::to_string(server_.port()));
  HttpClient client(WindowClientSettings());
  EXPECT_EQ(client.Get("http://devis.lumivane.example/par-proxy"), "par le proxy");
  // The absolute form a proxy receives (Wine writes the port 80 out).
  EXPECT_TRUE(Last().target.starts_with("http://devis.lumivane.example")) << Last().target;
  EXPECT_EQ(Last().get_header_value("Host"), "devis.lumivane.example");
  // Loopback addresses are reached directly.
  EXPECT_EQ(client.Get(server_.Url("/target")), "direct");
  EXPECT_EQ(Last().target, "/target");
}

// A real proxy asking for credentials (Debian's tinyproxy, started by the
// proxy-407 fixture) as the user's fixed proxy: a plain request and the
// tunnel of an https one both name the proxy, from the window's client and
// from the pictures' downloads.
TEST(WinHttpProxy407Test, TheProxysRequestForCredentialsNamesTheProxy) {
  const char* dir = std::getenv("LUMIVANE_TEST_PROXY_DIR");
  ASSERT_NE(dir, nullptr) << "run through ctest: the proxy-407 fixture starts the proxy";
  std::string port = platform::ReadFileBytes(std::string(dir) + "/port");
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
    const std::vector<FileDownload> downloads = {
        {url, platform::TemporaryPathIn(folder.Path().string() + "\\")}};
    const auto results = DownloadFiles(downloads, {}, 1, 0, nullptr, {});
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(results[0].error, expected);
  }
}

}  // namespace
}  // namespace lumivane::http
