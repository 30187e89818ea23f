#include "report/journal.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "base/limits.h"
#include "report/messages.h"
#include "temp_dir.h"

namespace lumivane::report {
namespace {

namespace fs = std::filesystem;
using lumivane::testing::ReadFile;
using lumivane::testing::TempDir;

std::vector<std::string> Lines(const fs::path& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path).value_or(""));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class JournalTest : public ::testing::Test {
 protected:
  void TearDown() override { journal::Close(); }
  TempDir dir_;
};

// Each event is one line: local time to the millisecond with its offset, the
// run's id, the event; messages as on standard error, query strings masked.
TEST_F(JournalTest, OneLinePerEventWithTimeAndRun) {
  const fs::path path = dir_.Path() / "etat" / "lumivane" / "journal.log";
  journal::Open(path.string());
  journal::Note("début : essai\nsur deux lignes");
  WriteMessageToStderr("Ouvrez https://h.exemple/c?jeton=T-secret\n2e ligne");
  const auto lines = Lines(path);
  ASSERT_EQ(lines.size(), 2u);
  const std::regex shape(
      R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d ([0-9a-f]{6}) (.*)$)");
  std::smatch first, second;
  ASSERT_TRUE(std::regex_match(lines[0], first, shape)) << lines[0];
  ASSERT_TRUE(std::regex_match(lines[1], second, shape)) << lines[1];
  EXPECT_EQ(first[1], second[1]);
  EXPECT_EQ(first[2], "début : essai sur deux lignes");
  EXPECT_EQ(second[2], "message : Ouvrez https://h.exemple/c?\u2026\\n2e ligne");
}

// Past 1 MiB the journal starts again, the old one kept as journal.1.log; a
// journal that cannot be written is left alone without a word.
TEST_F(JournalTest, BoundedAndHarmless) {
  const fs::path path = dir_.Path() / "journal.log";
  lumivane::testing::WriteFile(dir_.Path() / "journal.1.log", "la plus ancienne\n");
  lumivane::testing::WriteFile(path, std::string(base::kMaxJournalBytes, 'x'));
  journal::Open(path.string());
  journal::Note("après");
  EXPECT_EQ(fs::file_size(dir_.Path() / "journal.1.log"), base::kMaxJournalBytes);
  EXPECT_EQ(Lines(path).size(), 1u);
  journal::Close();

  lumivane::testing::WriteFile(dir_.Path() / "fichier", "pas un dossier");
  journal::Open((dir_.Path() / "fichier" / "journal.log").string());
  journal::Note("perdu");  // nothing happens, nothing is thrown

  ::setenv("LUMIVANE_JOURNAL", "off", 1);
  EXPECT_EQ(journal::DefaultPath(), "");
  ::setenv("LUMIVANE_JOURNAL", "/tmp/j.log", 1);
  EXPECT_EQ(journal::DefaultPath(), "/tmp/j.log");
  ::unsetenv("LUMIVANE_JOURNAL");
  ::setenv("XDG_STATE_HOME", "/etat", 1);
  EXPECT_EQ(journal::DefaultPath(), "/etat/lumivane/journal.log");
  ::unsetenv("XDG_STATE_HOME");
}

// Two modules writing at once: every line arrives whole.
TEST_F(JournalTest, TwoProcessesNeverMixTheirLines) {
  const fs::path path = dir_.Path() / "journal.log";
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      journal::Open(path.string());
      const std::string event = "ligne " + std::string(300, static_cast<char>('a' + getpid() % 26));
      for (int i = 0; i < 1000; ++i) journal::Note(event);
      _exit(0);
    }
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
  }
  const auto lines = Lines(path);
  ASSERT_EQ(lines.size(), 2000u);
  const std::regex whole(R"(^\S+ [0-9a-f]{6} ligne ([a-z])\1{299}$)");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

}  // namespace
}  // namespace lumivane::report
