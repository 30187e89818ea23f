#include "http/endpoints.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "http/url.h"

#ifdef _WIN32
// The C runtime of Windows has _putenv_s, where an empty value removes the
// variable.
static int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
static int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif

namespace lumivane::http {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kGateway = "LUMIVANE_GATEWAY_URL";
constexpr const char* kQuote = "LUMIVANE_QUOTE_SERVICE_URL";

class EndpointsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv(kGateway);
    unsetenv(kQuote);
  }
  void TearDown() override { SetUp(); }
};

TEST_F(EndpointsTest, BuiltInAddressesApplyWithoutEnvironment) {
  const Endpoints endpoints = LoadEndpoints();
  for (const std::string& base : {endpoints.gateway_base, endpoints.quote_service_base}) {
    EXPECT_TRUE(IsHttpUrl(base)) << base;
    EXPECT_FALSE(base.ends_with('/')) << base;
  }
  setenv(kGateway, "", 1);  // an empty variable counts as unset
  EXPECT_EQ(LoadEndpoints().gateway_base, endpoints.gateway_base);
}

TEST_F(EndpointsTest, EnvironmentOverridesEachAddress) {
  const Endpoints built_in = LoadEndpoints();
  setenv(kGateway, "http://127.0.0.1:40123/", 1);
  Endpoints endpoints = LoadEndpoints();
  EXPECT_EQ(endpoints.gateway_base, "http://127.0.0.1:40123");
  EXPECT_EQ(endpoints.quote_service_base, built_in.quote_service_base);

  setenv(kQuote, "https://devis.exemple.fr", 1);
  endpoints = LoadEndpoints();
  EXPECT_EQ(endpoints.gateway_base, "http://127.0.0.1:40123");
  EXPECT_EQ(endpoints.quote_service_base, "https://devis.exemple.fr");
}

TEST_F(EndpointsTest, AnythingButSchemeHostAndPortIsRefused) {
  for (const char* variable : {kGateway, kQuote}) {
    for (const char* value :
         {"ftp://h.example", "file:///etc", "h.example", "https://", "pas une adresse",
          "https://h.example/index.php", "https://h.example//", "https://h.example?mdp=x",
          "https://h.example/?mdp=x", "https://h.example#f", "https://u:p@h.example",
          "http://h.example:99999"}) {
      SetUp();
      setenv(variable, value, 1);
      try {
        LoadEndpoints();
        ADD_FAILURE() << variable << "=" << value << " accepted";
      } catch (const EndpointError& error) {
        const std::string text = error.what();
        EXPECT_THAT(text, HasSubstr(std::string("La variable d'environnement ") + variable))
            << text;
        EXPECT_THAT(text, Not(HasSubstr("mdp"))) << text;
      }
    }
  }
}

}  // namespace
}  // namespace lumivane::http
