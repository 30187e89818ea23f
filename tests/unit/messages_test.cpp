#include "report/messages.h"
#include "report/secrets.h"
#include "text/display.h"
#include "text/user_texts.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace lumivane::text {
namespace {

using ::testing::HasSubstr;

TEST(StderrLineTest, PrefixAndLineFeeds) {
  EXPECT_EQ(StderrLine(""), "Module_Lumivane: ");
  EXPECT_EQ(StderrLine("Configurateur Tessivo - Verifiez vos paramètres !\n1. Fichier temp.\n"
                       "2. Fichier config."),
            "Module_Lumivane: Configurateur Tessivo - Verifiez vos paramètres !\\n"
            "1. Fichier temp.\\n2. Fichier config.");
  EXPECT_EQ(StderrLine("\n\n"), "Module_Lumivane: \\n\\n");
}

TEST(StderrLineTest, QueryStringsOfUrlsAreMasked) {
  EXPECT_EQ(StderrLine("Ouvrez cette adresse :\nhttps://h.example/c?jeton=T&mdp=s3cret"),
            "Module_Lumivane: Ouvrez cette adresse :\\nhttps://h.example/c?\u2026");
  // Several URLs, any letter case, text after them kept.
  EXPECT_EQ(StderrLine("HTTP://a/b?x=1 puis http://c:8080/d?y=2#f, fin"),
            "Module_Lumivane: HTTP://a/b?\u2026 puis http://c:8080/d?\u2026 fin");
  // A fragment may carry a token as well.
  EXPECT_EQ(StderrLine("https://a/#access_token=T"), "Module_Lumivane: https://a/?\u2026");
  // Without a query the URL stays; a "?" outside a URL stays.
  EXPECT_EQ(StderrLine("Erreur sur https://a/b/c : quoi ? rien"),
            "Module_Lumivane: Erreur sur https://a/b/c : quoi ? rien");
  // A URL in quotes ends at the quote.
  EXPECT_EQ(StderrLine("\"http://a/?k=v\" refusée"),
            "Module_Lumivane: \"http://a/?\u2026\" refusée");
}

// A value in a message is shortened in its middle past 300 characters, so
// that a 5 KB value cannot drown the message, and its end stays visible.
TEST(ValueForMessageTest, LongValuesLoseTheirMiddle) {
  using lumivane::text::ValueForMessage;
  const std::string exact(300, 'a');
  EXPECT_EQ(ValueForMessage(exact), exact);
  std::string accents;
  for (int i = 0; i < 1000; ++i) accents += "\xC3\xA9";  // 1000 "é", 2000 bytes
  const std::string shown = ValueForMessage("debut" + accents + "fin");
  EXPECT_TRUE(shown.starts_with("debut\xC3\xA9")) << shown;
  EXPECT_TRUE(
      shown.ends_with("\xC3\xA9"
                      "fin"))
      << shown;
  EXPECT_THAT(shown, HasSubstr("\xE2\x80\xA6"));
  // 300 characters: 150 + "…" + 149, no character cut in two.
  EXPECT_EQ(shown.size(), 5 + 145 * 2 + 3 + 146 * 2 + 3u);
}

// Values go in once: a server's text holding "{2}" stays as it was sent.
TEST(UserMessageTest, ValuesFillTheirPlaceholdersOnce) {
  EXPECT_EQ(UserMessage(UserText::kProxyRefused, {"p{2}", "403", "http://a/"}),
            "Le proxy p{2} a refusé la connexion (403) vers : http://a/");
  EXPECT_EQ(UserMessage(UserText::kUnexpectedError), "Une erreur inattendue est survenue.");
}

// What a server says is printable text in every message: it cannot break the
// message's lines, hide in control characters or carry bytes that are not
// UTF-8, and it is shortened as any value is.
TEST(ServerWordsTest, PrintableOneLineUtf8) {
  EXPECT_EQ(ServerWords(std::string("Mot\nde\r\tpasse\0\x1B[2J\x7F\xC2\x85 refus\xC3\xA9", 29)),
            "Mot de passe[2J refus\xC3\xA9");
  EXPECT_EQ(ServerWords("\n  Identifiant \x1B incorrect\n"), "Identifiant incorrect");
  EXPECT_EQ(ServerWords("Non trouv\xE9 \xEF\xBF\xBD"), "Non trouv\uFFFD \uFFFD");
  const std::string long_text(1000, 'x');
  EXPECT_EQ(ServerWords(long_text), ValueForMessage(long_text));
}

// No control character of a value reaches standard error raw: a NUL or an
// escape sequence from a server could hide or forge lines of the log.
TEST(StderrLineTest, ControlCharactersAreEscaped) {
  EXPECT_EQ(lumivane::text::StderrLine(std::string("a\0b\rc\td\x1B[2Je\x7F"
                                                   "f\xC2\x85g\n",
                                                   18)),
            "Module_Lumivane: a\\x00b\\rc\\td\\x1B[2Je\\x7Ff\\u0085g\\n");
}

// The one address the user must open keeps its token in its box; the same
// token anywhere else, and in every copy of the message, is masked.
TEST(SecretsTest, MaskedEverywhereButTheAddressToOpenInItsBox) {
  report::AddSecret("0f3a9c2e7b6d4158");
  report::AddSecret("abc");  // too short to mask: ordinary words would go
  const std::string address = "https://conf.example/c?jeton=0f3a9c2e7b6d4158";
  const std::string message = "Ouvrez cette adresse :\n" + address;
  EXPECT_EQ(report::Masked(message), "Ouvrez cette adresse :\nhttps://conf.example/c?jeton=***");
  EXPECT_EQ(report::MaskedForMessageBox(message), report::Masked(message));
  report::KeepInMessageBox(address);
  EXPECT_EQ(report::MaskedForMessageBox(message), message);
  EXPECT_EQ(report::MaskedForMessageBox("jeton 0f3a9c2e7b6d4158 abc, " + address + " et " +
                                        "0f3a9c2e7b6d4158"),
            "jeton *** abc, " + address + " et ***");
  EXPECT_EQ(report::Masked(message), "Ouvrez cette adresse :\nhttps://conf.example/c?jeton=***");
}

}  // namespace
}  // namespace lumivane::text
