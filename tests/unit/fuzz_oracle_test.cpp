// The fuzz targets' oracles judge the module: a wrong oracle would report
// faults that are not there or let real ones through.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "exchange_file.h"
#include "oracle.h"

namespace lumivane::fuzz {
namespace {

using ::testing::HasSubstr;

using namespace std::string_literals;

TEST(FuzzOracleTest, Utf8IsReadStrictlyAndEachBadByteIsOneReplacement) {
  for (const std::string& valid : {""s, "abc"s, "é€😀"s, "\xF4\x8F\xBF\xBF"s, "a\0b"s}) {
    EXPECT_TRUE(IsUtf8(valid)) << Printable(valid);
  }
  for (const std::string& invalid :
       {"\xC0\x80"s, "\xE0\x9F\xBF"s, "\xF0\x8F\xBF\xBF"s, "\xED\xA0\x80"s, "\xF4\x90\x80\x80"s,
        "\x80"s, "ab\xE2\x82"s, "\xC3\x28"s, "caf\xE9"s, "\xFF"s}) {
    EXPECT_FALSE(IsUtf8(invalid)) << Printable(invalid);
  }
  EXPECT_EQ(DecodeUtf8Lenient("a\xE2\x82"), U"a\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUtf8Lenient("\xED\xA0\x80z"), U"\uFFFD\uFFFD\uFFFDz");
  EXPECT_EQ(DecodeUtf8Lenient("caf\xE9 😀"), U"caf\uFFFD \U0001F600");
  EXPECT_EQ(EncodeUtf8(U"é€\U0001F600\uFFFD"), "é€😀\uFFFD");
}

TEST(FuzzOracleTest, XmlTextKeepsWhatXml10CarriesAndNothingElse) {
  EXPECT_EQ(XmlTextOf("a\x01"
                      "b\x0B\x0C\x1F\x7F\tc\nd\re"),
            "ab\x7F\tc\nd\re");
  EXPECT_EQ(XmlTextOf("x\uFFFE\uFFFFy\uFFFD\u0085\u2028"), "xy\uFFFD\u0085\u2028");
  EXPECT_EQ(XmlTextOf("\0"s), "");
  EXPECT_EQ(XmlTextOf("Fen\xEAtre"), "Fen\uFFFDtre");
  EXPECT_EQ(XmlTextOf("\xF0\x90\x80\x80"), "\U00010000");
  EXPECT_EQ(Latin1ToUtf8("Fen\xEAtre\x80\x01"), "Fenêtre\u0080\x01");
}

// An exchange file with one new line: Latin-1 bytes, references beyond it.
std::string ExchangeFile(
    const std::string& line_children,
    const std::string& head = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>") {
  return head + "<Configurateur><Project>42</Project><Menuiserie id=\"1\">" + line_children +
         "</Menuiserie></Configurateur>\r\n";
}

const std::string kGoodChildren =
    "<Jeton>t&#13;k</Jeton><Project>N\xB0 &#8364;</Project><Libelle></Libelle>"
    "<Designation>Fen\xEAtre &lt;2&gt;</Designation><PrixUnitaire>12.50</PrixUnitaire>"
    "<Quantite> </Quantite><Image>/i/&#128512;.jpeg</Image>";
const MenuiserieTexts kGoodTexts = {"t\rk", "N° €", "", "Fenêtre <2>", "12.50", " ", "/i/😀.jpeg"};

TEST(FuzzOracleTest, ExchangeFileMustBeStrictXmlHoldingEveryTextGiven) {
  EXPECT_EQ(ExchangeFileProblem(ExchangeFile(kGoodChildren), {kGoodTexts}), std::nullopt);
  // Characters XML 1.0 cannot carry are expected left out; a bad byte reads as U+FFFD.
  MenuiserieTexts controls = kGoodTexts;
  controls[2] =
      "a\x01"
      "b\xFF";
  std::string children = kGoodChildren;
  children.replace(children.find("<Libelle></Libelle>"), 19, "<Libelle>ab&#65533;</Libelle>");
  EXPECT_EQ(ExchangeFileProblem(ExchangeFile(children), {controls}), std::nullopt);
  // Children of Configurateur before the new lines are not the oracle's business.
  EXPECT_EQ(ExchangeFileProblem(ExchangeFile(kGoodChildren), {}), std::nullopt);

  const auto problem = [](const std::string& bytes, const MenuiserieTexts& texts = kGoodTexts) {
    return ExchangeFileProblem(bytes, {texts}).value_or("(none)");
  };
  const auto with = [](std::string from, const std::string& to) {
    std::string children = kGoodChildren;
    return ExchangeFile(children.replace(children.find(from), from.size(), to));
  };
  EXPECT_THAT(problem(with("t&#13;k", "t&#1;k")), HasSubstr("not well-formed"));
  EXPECT_THAT(problem(with("<Libelle>", "<Lib&#256;>")), HasSubstr("not well-formed"));
  EXPECT_THAT(problem(with("t&#13;k", "t\rk")), HasSubstr("Jeton holds \"t\\x0Ak\""));
  EXPECT_THAT(problem(with("12.50", "12,50")), HasSubstr("PrixUnitaire"));
  EXPECT_THAT(problem(with("12.50", "<b>12.50</b>")), HasSubstr("more than text"));
  EXPECT_THAT(problem(with("<Quantite> </Quantite>", "")), HasSubstr("6 child elements"));
  EXPECT_NE(problem(with("<Libelle></Libelle><Designation>", "<Designation>")), "(none)");
  EXPECT_NE(problem(ExchangeFile(kGoodChildren).substr(0, 200) + "\n"), "(none)");
  std::string bad_id = ExchangeFile(kGoodChildren);
  bad_id.replace(bad_id.find("id=\"1\""), 6, "id=\"01\"");
  EXPECT_THAT(problem(bad_id), HasSubstr("id is \"01\""));
  // Only the declaration differs: the same text in ASCII, readable under any of them.
  std::string ascii = kGoodChildren;
  ascii.replace(ascii.find("N\xB0"), 2, "N&#176;").replace(ascii.find("Fen\xEA"), 4, "Fen&#234;");
  EXPECT_EQ(ExchangeFileProblem(ExchangeFile(ascii), {kGoodTexts}), std::nullopt);
  EXPECT_THAT(problem(ExchangeFile(ascii, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>")),
              HasSubstr("declares \"UTF-8\""));
  EXPECT_THAT(problem(ExchangeFile(ascii, "")), HasSubstr("no XML declaration"));
  std::string no_crlf = ExchangeFile(kGoodChildren);
  EXPECT_THAT(problem(no_crlf.substr(0, no_crlf.size() - 2)), HasSubstr("CR LF"));
  EXPECT_THAT(problem(ExchangeFile(kGoodChildren) + "<x/>\r\n"), HasSubstr("not well-formed"));
}

TEST(FuzzOracleTest, WorkRunsOnItsOwnStackAndItsErrorsComeBack) {
  int calls = 0;
  RunWithStack(kStackBudget, [&] { ++calls; });
  EXPECT_EQ(calls, 1);
  EXPECT_THROW(RunWithStack(kStackBudget, [] { throw std::runtime_error("x"); }),
               std::runtime_error);
}

// A recursion with 128-byte frames, like a reader walking a document.
int Nest(int depth) {
  volatile char frame[128] = {};
  frame[0] = static_cast<char>(depth);
  return depth == 0 ? frame[0] : Nest(depth - 1) + frame[0];
}

TEST(FuzzOracleDeathTest, RecursionOverTheDepthOfTheDeepSeedsOverflowsTheBudget) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  RunWithStack(kStackBudget, [] { Nest(100); });
  EXPECT_DEATH(RunWithStack(kStackBudget, [] { Nest(2000); }), "");
}

}  // namespace
}  // namespace lumivane::fuzz
