#include "report/journal.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "base/limits.h"
#include "process.h"
#include "report/messages.h"
#include "temp_dir.h"

namespace lumivane::report {
namespace {

namespace fs = std::filesystem;
using lumivane::testing::Process;
using lumivane::testing::ReadFile;
using lumivane::testing::TempDir;
using namespace std::chrono_literals;

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
  CopyMessageToJournalAndStderr("Ouvrez https://h.exemple/c?jeton=T-secret\n2e ligne");
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

// Runs `write` in two processes at once, as two modules would, to its end.
void InTwoProcesses(const std::function<void()>& write) {
  const std::function<int()> body = [&] {
    write();
    return 0;
  };
  std::vector<Process> children = Process::ForkEach({body, body});
  for (Process& child : children) ASSERT_EQ(child.WaitForExit(60s), 0) << child.Stderr();
}

// Two modules writing at once: every line arrives whole.
TEST_F(JournalTest, TwoProcessesNeverMixTheirLines) {
  const fs::path path = dir_.Path() / "journal.log";
  ASSERT_NO_FATAL_FAILURE(InTwoProcesses([&] {
    journal::Open(path.string());
    const std::string event = "ligne " + std::string(300, static_cast<char>('a' + getpid() % 26));
    for (int i = 0; i < 1000; ++i) journal::Note(event);
  }));
  const auto lines = Lines(path);
  ASSERT_EQ(lines.size(), 2000u);
  const std::regex whole(R"(^\S+ [0-9a-f]{6} ligne ([a-z])\1{299}$)");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

// Two modules filling one journal across its rotation: every line is in
// journal.log or journal.1.log, whole, and each module's lines in order.
TEST_F(JournalTest, TwoProcessesAcrossTheRotationKeepEveryLine) {
  const fs::path path = dir_.Path() / "journal.log";
  lumivane::testing::WriteFile(path, std::string(base::kMaxJournalBytes - 200 * 1024, 'x') + "\n");
  ASSERT_NO_FATAL_FAILURE(InTwoProcesses([&] {
    journal::Open(path.string());
    const char letter = static_cast<char>('a' + getpid() % 26);
    for (int i = 0; i < 1000; ++i) {
      journal::Note("ligne " + std::to_string(i) + " " + std::string(200, letter));
    }
  }));
  std::vector<std::string> lines = Lines(dir_.Path() / "journal.1.log");
  const auto current = Lines(path);
  lines.insert(lines.end(), current.begin(), current.end());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), std::string(base::kMaxJournalBytes - 200 * 1024, 'x'));
  const std::regex whole(R"(^\S+ ([0-9a-f]{6}) ligne (\d+) ([a-z])\3{199}$)");
  std::map<std::string, int> next;  // per run, the next line expected
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, whole)) << lines[i];
    EXPECT_EQ(std::stoi(match[2]), next[match[1]]++) << lines[i];
  }
  ASSERT_EQ(next.size(), 2u);
  for (const auto& [run, count] : next) EXPECT_EQ(count, 1000) << run;
}

// What is not a regular file is left alone at once, never waited on: a
// named pipe nobody reads, a device, a folder.
TEST_F(JournalTest, WhatIsNotARegularFileIsLeftAloneAtOnce) {
  const fs::path pipe = dir_.Path() / "tuyau";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  fs::create_directories(dir_.Path() / "dossier");
  for (const fs::path& path : {pipe, fs::path("/dev/null"), dir_.Path() / "dossier"}) {
    Process child = Process::Fork([&] {
      journal::Open(path.string());
      journal::Note("perdu");
      return 0;
    });
    // A journal that blocks keeps the child past the wait.
    EXPECT_EQ(child.WaitForExit(lumivane::testing::kWait), 0) << path;
  }
  // A reader on the pipe: the journal still refuses it.
  const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  journal::Open(pipe.string());
  journal::Note("perdu");
  char byte = 0;
  EXPECT_LE(::read(reader, &byte, 1), 0);
  ::close(reader);
}

}  // namespace
}  // namespace lumivane::report
