// HTTPS through WinHTTP against the Linux-side servers of the https-servers
// fixture (LUMIVANE_TEST_HTTPS_DIR): certificates are checked by the Windows
// store, which knows the test authority only while this test adds it to the
// LocalMachine Root store of the Wine prefix.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "platform/files.h"
#include "http/transport.h"

namespace lumivane::http {
namespace {

using http::HttpError;
using platform::ReadFileBytes;

class WinHttpTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("LUMIVANE_TEST_HTTPS_DIR");
    ASSERT_NE(dir, nullptr) << "run through ctest: the https-servers fixture starts the servers";
    dir_ = dir;
    std::istringstream ports(ReadFileBytes(dir_ + "/ports"));
    ports >> trusted_port_ >> untrusted_port_;
    ASSERT_GT(trusted_port_, 0);
    ASSERT_GT(untrusted_port_, 0);
  }

  void TearDown() override { RemoveAuthority(); }

  // The fixture's authority in the LocalMachine Root store, until TearDown.
  void TrustAuthority() {
    const std::string pem = ReadFileBytes(dir_ + "/ca.pem");
    DWORD size = 0;
    ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                     CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr));
    std::string der(size, '\0');
    ASSERT_TRUE(CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                                     CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(der.data()),
                                     &size, nullptr, nullptr));
    const HCERTSTORE root = OpenRoot();
    ASSERT_NE(root, nullptr);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE*>(der.data()), size,
                                                 CERT_STORE_ADD_REPLACE_EXISTING, &added))
        << GetLastError();
    CertFreeCertificateContext(added);
    CertCloseStore(root, 0);
    trusted_ = true;
  }

  void RemoveAuthority() {
    if (!trusted_) return;
    const HCERTSTORE root = OpenRoot();
    if (root == nullptr) return;
    PCCERT_CONTEXT found = CertFindCertificateInStore(
        root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W, L"Lumivane test CA", nullptr);
    while (found != nullptr) {
      PCCERT_CONTEXT copy = CertDuplicateCertificateContext(found);
      found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_W,
                                         L"Lumivane test CA", found);
      CertDeleteCertificateFromStore(copy);
    }
    CertCloseStore(root, 0);
    trusted_ = false;
  }

  static HCERTSTORE OpenRoot() {
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  }

  // The page both servers serve.
  std::string Url(int port, const char* host = "localhost") const {
    return std::string("https://") + host + ":" + std::to_string(port) + "/page.html";
  }

  static std::string FailureText(HttpClient& client, const std::string& url) {
    try {
      client.Get(url);
    } catch (const HttpError& error) {
      return error.what();
    }
    return "<no error>";
  }

  std::string dir_;
  int trusted_port_ = 0;
  int untrusted_port_ = 0;
  bool trusted_ = false;
};

TEST_F(WinHttpTlsTest, UnknownAuthorityIsRefused) {
  HttpClient client;
  // Self-signed: refused, and the query is not shown.
  EXPECT_EQ(FailureText(client, Url(untrusted_port_) + "?mdp=secret"),
            "Certificat du serveur refusé : " + Url(untrusted_port_));
}

// Wine's certificate chain engine reads the Root store once per process: the
// authority is added before the first request (each test runs in a process
// of its own under ctest).
TEST_F(WinHttpTlsTest, AuthorityInTheRootStoreIsTrustedForTheNamedHostOnly) {
  TrustAuthority();
  HttpClient client;
  EXPECT_EQ(client.Get(Url(trusted_port_)), "<html>sécurisé</html>");
  EXPECT_EQ(client.ResponseCode(), 200);
  EXPECT_EQ(client.ContentType(), "text/html; charset=utf-8");
  // The certificate names localhost, not the address.
  EXPECT_EQ(FailureText(client, Url(trusted_port_, "127.0.0.1")),
            "Certificat du serveur refusé : " + Url(trusted_port_, "127.0.0.1"));
  EXPECT_EQ(FailureText(client, Url(untrusted_port_)),
            "Certificat du serveur refusé : " + Url(untrusted_port_));
}

}  // namespace
}  // namespace lumivane::http
