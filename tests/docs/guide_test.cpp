// The user guide against the code: every message the module can show is in
// the guide's table of messages.
//
// The messages are found in the sources themselves, not in a list kept by
// hand: each string literal of src/ (adjacent literals joined, comments
// skipped) that reads like a sentence, a capital then a small letter and at
// least two words, is the fixed start of a text shown to the user. Messages
// are assembled from such pieces and values ("Le serveur a répondu " + code),
// so the guide must hold each piece, where its values may stand as "…". A
// literal of that shape that is never shown (a window label, an HTTP header)
// is named in kNotMessages below.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Literals of the sources that are not messages.
const std::set<std::string> kNotMessages = {
    // Window texts: captions, labels and buttons.
    "Configurateur Lumivane",
    "Brevance - Configurateur",
    "Brevance - Configurateur lumivane",
    "Récupérer le devis",
    "Une fois votre chiffrage terminé veuillez :",
    "Microsoft Sans Serif",  // the Win32 window's font
    // Progress shown in the window while a retrieval runs.
    "Récupération du devis…",
    "Images :",
    // HTTP requests: header lines and the client's name.
    "Accept:",
    "Authorization: Basic Og==",
    "Content-Type:",
    "Expect: 100-continue",
    "Mozilla/3.0 (compatible; Indy Library)",
    // A programming error, never caught as a user's message.
    "PercentEncode: value too long",
    // libcurl's own words, read to tell its failures apart.
    "Too large response headers",
    // The user cancelled: the window closes without a message.
    "Opération annulée par l'utilisateur.",
};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of a C++ string literal's body (between the quotes), escapes
// resolved for the common cases (\uXXXX as UTF-8); \n becomes a blank, as
// the guide writes it.
std::string Unescape(const std::string& body) {
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\' || i + 1 == body.size()) {
      out += body[i];
      continue;
    }
    const char c = body[++i];
    if (c == 'u' && i + 4 < body.size()) {
      const auto code = static_cast<unsigned>(std::stoul(body.substr(i + 1, 4), nullptr, 16));
      i += 4;
      if (code < 0x80) {
        out += static_cast<char>(code);
      } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
      } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
      }
      continue;
    }
    out += c == 'n' || c == 'r' || c == 't' ? ' ' : c;
  }
  return out;
}

// The string literals of a source file, each run of adjacent literals
// (separated by blanks or comments only) joined into one.
std::vector<std::string> Literals(const std::string& code) {
  std::vector<std::string> literals;
  bool joining = false;  // no code since the last literal
  std::size_t i = 0;
  while (i < code.size()) {
    const char c = code[i];
    if (code.compare(i, 2, "//") == 0) {
      i = code.find('\n', i);
      if (i == std::string::npos) break;
    } else if (code.compare(i, 2, "/*") == 0) {
      i = code.find("*/", i + 2);
      if (i == std::string::npos) break;
      i += 2;
    } else if (c == '\'') {
      // A character literal: '"' must not open a string.
      i = i + 2 < code.size() && code[i + 1] == '\\' ? code.find('\'', i + 3)
                                                     : code.find('\'', i + 2);
      if (i == std::string::npos) break;
      ++i;
      joining = false;
    } else if (c == 'R' && code.compare(i, 2, "R\"") == 0 &&
               (i == 0 ||
                !(std::isalnum(static_cast<unsigned char>(code[i - 1])) || code[i - 1] == '_'))) {
      // A raw string: documents and templates, not messages.
      const std::size_t open = code.find('(', i);
      const std::string end = ")" + code.substr(i + 2, open - i - 2) + "\"";
      i = code.find(end, open);
      if (i == std::string::npos) break;
      i += end.size();
      joining = false;
    } else if (c == '"') {
      std::size_t j = i + 1;
      while (j < code.size() && code[j] != '"') j += code[j] == '\\' ? 2 : 1;
      const std::string value = Unescape(code.substr(i + 1, j - i - 1));
      if (joining && !literals.empty()) {
        literals.back() += value;
      } else {
        literals.push_back(value);
      }
      joining = true;
      i = j + 1;
    } else {
      if (!std::isspace(static_cast<unsigned char>(c))) joining = false;
      ++i;
    }
  }
  return literals;
}

bool StartsWithCapital(const std::string& text) {
  if (text.empty()) return false;
  const auto first = static_cast<unsigned char>(text[0]);
  std::size_t next = 1;
  bool capital = first >= 'A' && first <= 'Z';
  // É, È, À... in UTF-8: C3 80 to C3 9E.
  if (first == 0xC3 && text.size() > 1) {
    const auto second = static_cast<unsigned char>(text[1]);
    capital = second >= 0x80 && second <= 0x9E;
    next = 2;
  }
  if (!capital || next >= text.size()) return false;
  const auto after = static_cast<unsigned char>(text[next]);
  return (after >= 'a' && after <= 'z') || after == '\'' || after >= 0x80;
}

// Blanks collapsed, ends trimmed; an opening parenthesis left at the end
// (where a value follows) is dropped.
std::string Normalised(const std::string& text) {
  std::string out;
  for (char c : text) {
    const bool blank = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (blank && (out.empty() || out.back() == ' ')) continue;
    out += blank ? ' ' : c;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '(')) out.pop_back();
  return out;
}

bool IsSentence(const std::string& text) {
  return StartsWithCapital(text) && text.find(' ') != std::string::npos;
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

// Every literal of src/ that reads like a sentence, with the file it is in.
std::vector<std::pair<std::string, std::string>> SentencesInSources() {
  std::vector<std::pair<std::string, std::string>> found;
  const fs::path src = fs::path(LUMIVANE_SOURCE_DIR) / "src";
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(src)) {
    const auto extension = entry.path().extension();
    if (entry.is_regular_file() && (extension == ".cpp" || extension == ".h"))
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    for (const auto& literal : Literals(ReadWhole(file))) {
      const std::string text = Normalised(literal);
      if (IsSentence(text)) found.emplace_back(text, fs::relative(file, src).string());
    }
  }
  return found;
}

TEST(Guide, ScannerFindsJoinedLiteralsAndSkipsCommentsCharactersAndRawStrings) {
  const auto literals = Literals(
      "// \"commented out\"\n"
      "char q = '\"'; char e = '\\''; auto raw = R\"x(Pas \"un\" message)x\";\n"
      "Show(\"Le fichier \" /* joined */ \"est\\n lu : \" + path + \" fin\\u2026\");\n");
  ASSERT_EQ(literals.size(), 2u);
  EXPECT_EQ(literals[0], "Le fichier est  lu : ");
  EXPECT_EQ(literals[1], " fin…");
  EXPECT_EQ(Normalised(literals[0]), "Le fichier est lu :");
  EXPECT_EQ(Normalised("Délai dépassé ("), "Délai dépassé");

  EXPECT_TRUE(IsSentence("Échec de la connexion"));
  EXPECT_TRUE(IsSentence("L'adresse du configurateur"));
  EXPECT_FALSE(IsSentence("UrlConnexion"));
  EXPECT_FALSE(IsSentence("ISO-8859-1 et"));
  EXPECT_FALSE(IsSentence(" n'existe pas."));
}

TEST(Guide, EveryMessageOfTheCodeIsInTheTableOfMessages) {
  const std::string table = MessagesSection();
  ASSERT_FALSE(table.empty()) << "README.md has no \"## Messages\" section";

  const auto sentences = SentencesInSources();
  // The scan must see the messages at all: a few that are always there.
  std::set<std::string> texts;
  for (const auto& [text, file] : sentences) texts.insert(text);
  for (const char* known : {"Une erreur est survenue lors du téléchargement de l'image",
                            "Le serveur a répondu", "Votre Configurateur"}) {
    EXPECT_TRUE(texts.count(known)) << "the scan of src/ no longer finds \"" << known << "\"";
  }

  std::vector<std::string> missing;
  for (const auto& [text, file] : sentences) {
    if (kNotMessages.count(text) || table.find(text) != std::string::npos) continue;
    missing.push_back("  \"" + text + "\" (src/" + file + ")");
  }
  std::string list;
  for (const auto& line : missing) list += line + "\n";
  EXPECT_TRUE(missing.empty())
      << "messages of the code missing from the table in README.md, \"## Messages\" (add a row, "
         "or name a literal that is never shown in kNotMessages of tests/docs/guide_test.cpp):\n"
      << list;
}

// Every literal of src/, normalised, for finding the guide's texts in.
std::vector<std::string> LiteralsInSources() {
  std::vector<std::string> all;
  for (const auto& entry :
       fs::recursive_directory_iterator(fs::path(LUMIVANE_SOURCE_DIR) / "src")) {
    const auto extension = entry.path().extension();
    if (!entry.is_regular_file() || (extension != ".cpp" && extension != ".h")) continue;
    for (const auto& literal : Literals(ReadWhole(entry.path()))) {
      all.push_back(Normalised(literal));
    }
  }
  return all;
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
TEST(Guide, EveryMessageOfTheTableIsOneTheCodeShows) {
  const std::string table = MessagesSection();
  const auto literals = LiteralsInSources();
  std::vector<std::string> gone;
  std::istringstream rows(ReadWhole(fs::path(LUMIVANE_SOURCE_DIR) / "README.md"));
  bool in_messages = false;
  for (std::string row; std::getline(rows, row);) {
    if (row.starts_with("## ")) in_messages = row == "## Messages";
    if (!in_messages || !row.starts_with("| ") || row.starts_with("| Message")) continue;
    std::string cell = row.substr(2, row.find(" |", 2) - 2);
    cell.erase(std::remove(cell.begin(), cell.end(), '`'), cell.end());
    for (const std::string& piece : FixedPieces(Normalised(cell))) {
      const bool found = std::any_of(literals.begin(), literals.end(), [&](const std::string& l) {
        return l.find(piece) != std::string::npos;
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
  std::set<std::string> coded;
  for (const auto& literal :
       Literals(ReadWhole(fs::path(LUMIVANE_SOURCE_DIR) / "src" / "text" / "system_reason.cpp"))) {
    const std::string text = Normalised(literal);
    if (!text.empty() && !text.starts_with("erreur système") && !text.starts_with("text/") &&
        text != "(code" && text != ")" && text != "(") {
      coded.insert(text);
    }
  }
  EXPECT_EQ(listed, coded);
}

}  // namespace
