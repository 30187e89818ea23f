#include "platform/cookie_jar.h"

#include <gtest/gtest.h>

namespace lumivane::platform {
namespace {

constexpr std::int64_t kNow = 1796000000;  // 2026-11-30

CookieJar::Origin At(const std::string& url_host, const std::string& path = "/", const std::string& scheme = "http") {
  return {scheme, url_host, path};
}

TEST(CookieJar, SentBackWhereTheyBelong) {
  CookieJar jar;
  EXPECT_EQ(jar.HeaderFor(At("gw.example.com"), kNow), "");
  jar.Receive(At("gw.example.com", "/index.php/Services/jeton"), "PHPSESSID=s1; Path=/; HttpOnly", kNow);
  jar.Receive(At("gw.example.com", "/index.php/Services/jeton"), "lang = fr ", kNow);  // default path
  jar.Receive(At("gw.example.com"), "wide=1; Domain=.Example.com", kNow);
  jar.Receive(At("gw.example.com"), "other=1; Domain=other.com", kNow);          // another site: ignored
  jar.Receive(At("gw.example.com"), "deeper=1; Domain=a.gw.example.com", kNow);  // not this host's
  jar.Receive(At("gw.example.com"), "safe=1; Secure", kNow);
  jar.Receive(At("gw.example.com"), "novalue", kNow);

  EXPECT_EQ(jar.HeaderFor(At("gw.example.com", "/index.php/Services/x"), kNow), "lang=fr; PHPSESSID=s1; wide=1");
  EXPECT_EQ(jar.HeaderFor(At("GW.example.com", "/"), kNow), "PHPSESSID=s1; wide=1");
  EXPECT_EQ(jar.HeaderFor(At("gw.example.com", "/", "https"), kNow), "PHPSESSID=s1; wide=1; safe=1");
  EXPECT_EQ(jar.HeaderFor(At("quotes.example.com"), kNow), "wide=1");  // host-only stays at its host
  EXPECT_EQ(jar.HeaderFor(At("example.com"), kNow), "wide=1");
  EXPECT_EQ(jar.HeaderFor(At("badexample.com"), kNow), "");
  EXPECT_EQ(jar.HeaderFor(At("gw.example.com", "/index.phpx"), kNow), "PHPSESSID=s1; wide=1");

  // Addresses get host-only cookies, also when they name themselves.
  jar.Receive(At("127.0.0.1", "/a/b"), "ip=1; Domain=127.0.0.1; Path=/a", kNow);
  jar.Receive(At("127.0.0.1"), "bad=1; Domain=0.0.1", kNow);
  EXPECT_EQ(jar.HeaderFor(At("127.0.0.1", "/a/c"), kNow), "ip=1");
  EXPECT_EQ(jar.HeaderFor(At("127.0.0.1", "/ab"), kNow), "");
}

TEST(CookieJar, ReplacedAndRemovedAsTheServerSays) {
  CookieJar jar;
  const auto site = At("gw.example.com");
  jar.Receive(site, "a=1", kNow);
  jar.Receive(site, "b=1; Max-Age=60", kNow);
  jar.Receive(site, "c=1; Expires=Wed, 09 Jun 2100 10:18:14 GMT", kNow);
  jar.Receive(site, "d=1; Expires=Thu, 01 Jan 1970 00:00:00 GMT", kNow);  // already gone
  jar.Receive(site, "a=2", kNow);                                         // replaced, keeps its place
  EXPECT_EQ(jar.HeaderFor(site, kNow), "a=2; b=1; c=1");
  EXPECT_EQ(jar.HeaderFor(site, kNow + 61), "a=2; c=1");  // b's Max-Age is over
  jar.Receive(site, "c=x; Max-Age=0; Expires=Wed, 09 Jun 2100 10:18:14 GMT", kNow);  // Max-Age wins
  jar.Receive(site, "a=; Max-Age=-1", kNow);
  jar.Receive(site, "e=1; Max-Age=99999999999999999999999", kNow);
  EXPECT_EQ(jar.HeaderFor(site, kNow), "b=1; e=1");
}

TEST(CookieDate, ReadsTheFormsServersSend) {
  EXPECT_EQ(CookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
  EXPECT_EQ(CookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
  EXPECT_EQ(CookieDate("Sun Nov  6 08:49:37 1994"), 784111777);
  EXPECT_EQ(CookieDate("06 november 2026 8:9:7"), 1793952547);
  EXPECT_EQ(CookieDate("Thu, 01 Jan 1970 00:00:00 GMT"), 0);
  EXPECT_EQ(CookieDate("Tue, 29 Feb 2028 00:00:00 GMT"), 1835395200);
  EXPECT_EQ(CookieDate("Mon, 30 Feb 2026 00:00:00 GMT"), std::nullopt);
  EXPECT_EQ(CookieDate("Mon, 01 Jan 1600 00:00:00 GMT"), std::nullopt);
  EXPECT_EQ(CookieDate("Mon, 01 Jan 2026 24:00:00 GMT"), std::nullopt);
  EXPECT_EQ(CookieDate("demain"), std::nullopt);
  EXPECT_EQ(CookieDate(""), std::nullopt);
}

}  // namespace
}  // namespace lumivane::platform
