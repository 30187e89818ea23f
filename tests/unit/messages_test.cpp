#include "platform/messages.h"

#include <gtest/gtest.h>

#include <string>

namespace lumivane::platform {
namespace {

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

}  // namespace
}  // namespace lumivane::platform
