// The cause a failed request names is the true one: the proxy's refusal is
// the proxy's, this machine's open-file limit is this machine's.

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "http/http.h"
#include "http_test_server.h"
#include "platform/files.h"
#include "http/transport.h"
#include "process.h"
#include "temp_dir.h"

namespace {

using lumivane::http::HttpError;
using lumivane::testing::Process;

// The text of the error a GET with the window's client raises.
std::string GetError(const std::string& url) {
  lumivane::http::HttpClient client;
  try {
    client.Get(url);
  } catch (const HttpError& error) {
    return error.what();
  }
  return "no error";
}

// Debian's tinyproxy asking for credentials, as the user's http_proxy and
// https_proxy.
class ProxyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Process start = Process::Start({kScript, "start", folder_.string()});
    ASSERT_EQ(start.WaitForExit(std::chrono::seconds(30)), 0) << start.Stderr();
    std::string port = lumivane::testing::ReadFile(folder_ / "port").value_or("");
    while (!port.empty() && port.back() == '\n') port.pop_back();
    proxy_ = "127.0.0.1:" + port;
    ::setenv("http_proxy", ("http://" + proxy_).c_str(), 1);
    ::setenv("https_proxy", ("http://" + proxy_).c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("http_proxy");
    ::unsetenv("https_proxy");
    Process stop = Process::Start({kScript, "stop", folder_.string()});
    (void)stop.WaitForExit(std::chrono::seconds(30));
  }

  static constexpr const char* kScript = LUMIVANE_SOURCE_DIR "/tests/support/proxy-407";
  lumivane::testing::TempDir dir_;
  std::filesystem::path folder_ = dir_.Path() / "proxy";
  std::string proxy_;
};

// A plain request and a tunnel alike, from the window's client and from the
// pictures' downloads: the proxy is named, never the server.
TEST_F(ProxyTest, ItsRequestForCredentialsNamesTheProxy) {
  for (const std::string url :
       {"http://devis.lumivane.invalid/image.jpeg", "https://devis.lumivane.invalid/image.jpeg"}) {
    const std::string expected =
        "Le proxy " + proxy_ + " demande une identification (407) pour : " + url;
    EXPECT_EQ(GetError(url), expected);
    const std::vector<lumivane::http::FileDownload> downloads = {
        {url, lumivane::platform::TemporaryPathIn(dir_.Path().string() + "/")}};
    const auto results = lumivane::http::DownloadFiles(downloads, {}, 1, 0, nullptr, {});
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(results[0].error, expected);
  }
}

// Every descriptor taken: the request cannot even open its socket. No server
// runs in this process: its threads open files of their own (the processor
// count when it starts, each connection it accepts) and would take the one
// descriptor left for the picture's file. A socket that did open would be
// refused, not answered.
TEST(OpenFileLimit, IsNamedAsThisMachinesLimit) {
  lumivane::testing::KeepLoopbackAwayFromProxy();
  const lumivane::testing::RefusingPort port;
  const std::string url = port.Url("/devis");
  // Refused while descriptors remain; this also sets up, beforehand, what the
  // libraries and the sanitizers open on a first failure.
  EXPECT_EQ(GetError(url), "Serveur injoignable : " + url);
  const lumivane::testing::TempDir dir;
  const std::vector<lumivane::http::FileDownload> downloads = {
      {url, lumivane::platform::TemporaryPathIn(dir.Path().string() + "/")}};
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  std::string error;
  std::string download_error;
  {
    std::vector<int> taken;
    rlimit lowered = before;
    lowered.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0;
         fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) {
      taken.push_back(fd);
    }
    error = GetError(url);
    // One descriptor for a picture's file: its connection is refused all the
    // same.
    ::close(taken.back());
    taken.pop_back();
    download_error = lumivane::http::DownloadFiles(downloads, {}, 1, 0, nullptr, {})[0].error;
    for (const int fd : taken) ::close(fd);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &before), 0);
  }
  const std::string expected =
      "Ce poste refuse d'ouvrir la connexion, trop de fichiers ouverts (code 24) : " + url;
  EXPECT_EQ(error, expected);
  EXPECT_EQ(download_error, expected);
}

}  // namespace
