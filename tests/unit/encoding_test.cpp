#include "text/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace lumivane::text {
namespace {

using namespace std::string_literals;

TEST(EncodingTest, Utf8ValidationIsStrict) {
  for (const std::string& valid : {""s, "abc"s, "é€😀"s, "\x7F"s, "\xC2\x80"s, "\xED\x9F\xBF"s,
                                   "\xEE\x80\x80"s, "\xF4\x8F\xBF\xBF"s, "a\0b"s}) {
    EXPECT_TRUE(IsValidUtf8(valid)) << valid;
  }
  for (const std::string& invalid : {
           "\xC0\x80"s,          // overlong NUL
           "\xC1\xBF"s,          // overlong
           "\xE0\x9F\xBF"s,      // overlong three-byte form
           "\xF0\x8F\xBF\xBF"s,  // overlong four-byte form
           "\xED\xA0\x80"s,      // high surrogate
           "\xED\xBF\xBF"s,      // low surrogate
           "\xF4\x90\x80\x80"s,  // beyond U+10FFFF
           "\xF5\x80\x80\x80"s, "\xFF"s,
           "\x80"s,                 // lone continuation byte
           "\xC3"s, "ab\xE2\x82"s,  // cut short
           "\xC3\x28"s,             // continuation missing
           "caf\xE9"s,              // Latin-1
       }) {
    EXPECT_FALSE(IsValidUtf8(invalid)) << ::testing::PrintToString(invalid);
  }
}

TEST(EncodingTest, Windows1252MapsEveryByte) {
  EXPECT_EQ(Windows1252ToUtf8("Fen\xEAtre \x80 \x85 \x92 \x9F \xA0\xFF"),
            "Fenêtre € … ’ Ÿ \u00A0ÿ");
  // Undefined bytes become the C1 control of the same value.
  EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(Windows1252ToUtf8("a\0b"s), "a\0b"s);

  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  const std::string utf8 = Windows1252ToUtf8(all);
  EXPECT_TRUE(IsValidUtf8(utf8));
  EXPECT_EQ(Windows1252ToUtf8(std::string_view(all).substr(0x80, 32)),
            "€\u0081‚ƒ„…†‡ˆ‰Š‹Œ\u008DŽ\u008F\u0090‘’“”•–—˜™š›œ\u009DžŸ");
}

TEST(EncodingTest, Utf16DecodesBothByteOrdersAndReplacesBrokenUnits) {
  // "é€😀" as code units 00E9 20AC D83D DE00.
  EXPECT_EQ(Utf16ToUtf8("\xE9\x00\xAC\x20\x3D\xD8\x00\xDE"s, false), "é€😀");
  EXPECT_EQ(Utf16ToUtf8("\x00\xE9\x20\xAC\xD8\x3D\xDE\x00"s, true), "é€😀");
  EXPECT_EQ(Utf16ToUtf8("a\0\0\0"s, false), "a\0"s);
  EXPECT_EQ(Utf16ToUtf8(""s, false), "");
  // A high surrogate alone, at the end, a low one alone, and an odd last byte.
  EXPECT_EQ(Utf16ToUtf8("\x3D\xD8"
                        "a\0"s,
                        false),
            "\uFFFDa");
  EXPECT_EQ(Utf16ToUtf8("a\0\x3D\xD8"s, false), "a\uFFFD");
  EXPECT_EQ(Utf16ToUtf8("\x00\xDE\x3D\xD8\x3D\xD8\x00\xDE"s, false), "\uFFFD\uFFFD😀");
  EXPECT_EQ(Utf16ToUtf8("a\0b"s, false), "a\uFFFD");
}

// A limit in bytes never leaves half a character behind.
TEST(EncodingTest, Utf8PrefixNeverCutsACharacter) {
  EXPECT_EQ(Utf8Prefix("abc", 3), "abc");
  EXPECT_EQ(Utf8Prefix("abc", 2), "ab");
  EXPECT_EQ(Utf8Prefix("a\xE2\x82\xAC", 3), "a");  // "a€": the euro would be cut
  EXPECT_EQ(Utf8Prefix("a\xE2\x82\xAC", 4), "a\xE2\x82\xAC");
  EXPECT_EQ(Utf8Prefix("\xF0\x9F\x98\x80", 2), "");
  EXPECT_EQ(Utf8Prefix("\xE9t\xE9", 1), "\xE9");  // Latin-1 bytes count one each
}

TEST(EncodingTest, ByteOrderMarksAreRecognisedWithTheirLength) {
  EXPECT_EQ(ByteOrderMarkOf("\xEF\xBB\xBF<a/>"), ByteOrderMark::kUtf8);
  EXPECT_EQ(ByteOrderMarkOf("\xFF\xFE<\0"s), ByteOrderMark::kUtf16LittleEndian);
  EXPECT_EQ(ByteOrderMarkOf("\xFE\xFF\0<"s), ByteOrderMark::kUtf16BigEndian);
  EXPECT_EQ(ByteOrderMarkOf("\xEF\xBB"), ByteOrderMark::kNone);
  EXPECT_EQ(ByteOrderMarkOf(""), ByteOrderMark::kNone);
  EXPECT_EQ(ByteOrderMarkSize(ByteOrderMark::kUtf8), 3u);
  EXPECT_EQ(ByteOrderMarkSize(ByteOrderMark::kUtf16BigEndian), 2u);
  EXPECT_EQ(ByteOrderMarkSize(ByteOrderMark::kNone), 0u);
}

TEST(EncodingTest, PercentEncodingKeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(PercentEncode("Ch@ssis&Volets 2026#"), "Ch%40ssis%26Volets%202026%23");
  EXPECT_EQ(PercentEncode("a+b=c%d/e?f"), "a%2Bb%3Dc%25d%2Fe%3Ff");
  EXPECT_EQ(PercentEncode("é€"), "%C3%A9%E2%82%AC");
  EXPECT_EQ(PercentEncode("\xFF\0\n"s), "%FF%00%0A");
  EXPECT_EQ(PercentEncode(""), "");
}

// What xdg-open and ShellExecuteW get: one address, whatever the gateway put
// in it; what is already a valid address is left exactly as it was.
TEST(EncodingTest, AnAddressForTheBrowserHoldsNothingRaw) {
  const std::pair<std::string, std::string> cases[] = {
      {"https://conf.example/s?jeton=0f3a&x=%20%41#haut",
       "https://conf.example/s?jeton=0f3a&x=%20%41#haut"},
      {"https://conf.example/a b\"c<d>e", "https://conf.example/a%20b%22c%3Cd%3Ee"},
      {"https://conf.example/\t\r\n\x7F\x01"s + "\0"s, "https://conf.example/%09%0D%0A%7F%01%00"},
      {"https://conf.example/{|}^`\\", "https://conf.example/%7B%7C%7D%5E%60%5C"},
      {"https://fenêtres.example/devis é", "https://fenêtres.example/devis%20é"},
      {"", ""},
  };
  for (const auto& [given, handed] : cases) {
    EXPECT_EQ(AddressForBrowser(given), handed) << ::testing::PrintToString(given);
  }
}

// A secret a server sends back, in any of the forms it travels in.
TEST(EncodingTest, SecretsAreMaskedInEveryFormTheyTravelIn) {
  const std::vector<std::string> secrets = {"Ch@ssis&Volets 2026#", "0f3a9c2e7b6d", "mdp<é>"};
  const std::pair<std::string, std::string> cases[] = {
      {"Identifiant ou mot de passe Ch@ssis&Volets 2026# incorrect",
       "Identifiant ou mot de passe *** incorrect"},
      {"mdp=Ch%40ssis%26Volets%202026%23&x", "mdp=***&x"},
      {"mdp=ch%40ssis", "mdp=ch%40ssis"},  // another text: letter case counts
      {"mdp=Ch%40ssis%26Volets+2026%23", "mdp=***"},
      {"mdp=Ch@ssis%26Volets 2026%23", "mdp=***"},  // partly encoded, as browsers do
      {"<b>Ch@ssis&amp;Volets 2026#</b>", "<b>***</b>"},
      {"jeton%3d0F3A9C2E7B6D", "jeton%3d0F3A9C2E7B6D"},  // hex digits of the text itself
      {"jeton 0f3a9c2e7b6d0f3a9c2e7b6d.", "jeton ******."},
      {"mdp&lt;&#233;&#x3E; mdp%3C%c3%a9%3e mdp<é>", "*** *** ***"},
      {"0f3a9c2e7b6", "0f3a9c2e7b6"},  // a part of a secret is no secret
      {"", ""},
  };
  for (const auto& [text, masked] : cases) EXPECT_EQ(MaskSecrets(text, secrets), masked) << text;
  // Too short to mask without hiding ordinary words.
  EXPECT_EQ(MaskSecrets("le devis 12345", {"devis", "12345"}), "le devis 12345");
  EXPECT_EQ(MaskSecrets("le devis 123456", {"123456"}), "le devis ***");
}

}  // namespace
}  // namespace lumivane::text
