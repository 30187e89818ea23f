// The user guide against the code: every message the module can show is in
// the guide's table of messages, and every message there is one the module
// shows.
//
// The messages are those of the one table of the user's texts
// (text/user_texts.h). The guide writes a value as "…", where the table
// holds a placeholder ({1}, {2}...).

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "text/system_reason.h"
#include "text/user_texts.h"

namespace {

namespace fs = std::filesystem;
using lumivane::text::UserText;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Blanks collapsed, ends trimmed.
std::string Normalised(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The guide's section "## Messages", code marks dropped, blanks collapsed.
std::string MessagesSection() {
  const std::string guide = ReadWhole(fs::path(LUMIVANE_SOURCE_DIR) / "README.md");
  const std::size_t start = guide.find("\n## Messages\n");
  if (start == std::string::npos) return {};
  const std::size_t end = guide.find("\n## ", start + 1);
  std::string section = guide.substr(start, end == std::string::npos ? end : end - start);
  section.erase(std::remove(section.begin(), section.end(), '`'), section.end());
  return Normalised(section);
}

// A text of the table as the guide writes it: each placeholder as "…",
// blanks collapsed.
std::string AsTheGuideWritesIt(UserText name) {
  const std::string_view form = lumivane::text::UserTextTemplate(name);
  std::string text;
  for (std::size_t i = 0; i < form.size(); ++i) {
    const bool placeholder = form[i] == '{' && i + 2 < form.size() && form[i + 2] == '}' &&
                             std::isdigit(static_cast<unsigned char>(form[i + 1]));
    text += placeholder ? std::string("\u2026") : std::string(1, form[i]);
    if (placeholder) i += 2;
  }
  return Normalised(text);
}

std::vector<std::string> TextsOfTheTable() {
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < lumivane::text::kUserTextCount; ++i) {
    texts.push_back(AsTheGuideWritesIt(static_cast<UserText>(i)));
  }
  return texts;
}

TEST(Guide, EveryMessageOfTheCodeIsInTheTableOfMessages) {
  const std::string table = MessagesSection();
  ASSERT_FALSE(table.empty()) << "README.md has no \"## Messages\" section";
  std::string missing;
  for (const std::string& text : TextsOfTheTable()) {
    EXPECT_FALSE(text.empty());
    if (table.find(text) == std::string::npos) missing += "  \"" + text + "\"\n";
  }
  EXPECT_TRUE(missing.empty())
      << "messages of src/text/user_texts.cpp missing from the table in README.md, "
         "\"## Messages\" (add a row, \"…\" standing for each value):\n"
      << missing;
}

// The fixed pieces of one message as the table writes it: its variants
// (" / "), each cut where a value stands ("…"), ends trimmed of blanks and
// punctuation; pieces of one word are left out.
std::vector<std::string> FixedPieces(const std::string& cell) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  const auto add = [&](std::string piece) {
    const std::string trim = " .:,()";
    piece.erase(0, piece.find_first_not_of(trim));
    piece.erase(piece.find_last_not_of(trim) + 1);
    if (piece.find(' ') != std::string::npos) pieces.push_back(piece);
  };
  while (start <= cell.size()) {
    std::size_t end = std::min(cell.find(" / ", start), cell.find("\u2026", start));
    if (end == std::string::npos) end = cell.size();
    add(cell.substr(start, end - start));
    start = end + 3;  // " / " and "…" are three bytes each
    if (end == cell.size()) break;
  }
  return pieces;
}

// Every message the guide lists is one the code still shows, on one system
// or the other: no row for a text that is gone.
TEST(Guide, EveryMessageOfTheGuideIsOneTheCodeShows) {
  const auto texts = TextsOfTheTable();
  std::vector<std::string> gone;
  std::istringstream rows(ReadWhole(fs::path(LUMIVANE_SOURCE_DIR) / "README.md"));
  bool in_messages = false;
  for (std::string row; std::getline(rows, row);) {
    if (row.starts_with("## ")) in_messages = row == "## Messages";
    if (!in_messages || !row.starts_with("| ") || row.starts_with("| Message")) continue;
    std::string cell = row.substr(2, row.find(" |", 2) - 2);
    cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
    for (const std::string& piece : FixedPieces(Normalised(cell))) {
      const bool found = std::any_of(texts.begin(), texts.end(), [&](const std::string& text) {
        return text.find(piece) != std::string::npos;
      });
      if (!found) gone.push_back("  \"" + piece + "\"");
    }
  }
  std::string list;
  for (const auto& line : gone) list += line + "\n";
  EXPECT_TRUE(gone.empty()) << "texts of the table in README.md that no code shows:\n" << list;
}

// The reasons the guide says the system may give are exactly those of the
// one table both systems' codes are mapped to.
TEST(Guide, TheSystemsReasonsAreThoseOfTheCode) {
  const std::string guide = ReadWhole(fs::path(LUMIVANE_SOURCE_DIR) / "README.md");
  const std::size_t start = guide.find("A reason given by the system");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = guide.find("followed by", start);
  std::set<std::string> listed;
  for (std::size_t open = guide.find('"', start); open < end;) {
    const std::size_t close = guide.find('"', open + 1);
    listed.insert(Normalised(guide.substr(open + 1, close - open - 1)));
    open = guide.find('"', close + 1);
  }
  using lumivane::text::SystemReason;
  std::set<std::string> coded;
  for (int reason = 0; reason < static_cast<int>(SystemReason::kOther); ++reason) {
    const std::string text =
        lumivane::text::SystemReasonText(static_cast<SystemReason>(reason), 0, {});
    coded.insert(text.substr(0, text.rfind(" (code 0)")));
  }
  EXPECT_EQ(listed, coded);
}

}  // namespace
