#include "report/messages.h"
#include "text/display.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#endif

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/standard_error.h"
#include "report/standard_error.h"

namespace lumivane::text {
namespace {

// The process's standard error made a pipe that only the test reads, and
// only when it says so; put back at the end.
class PipeAsStandardError {
 public:
#ifdef _WIN32
  PipeAsStandardError() : saved_(GetStdHandle(STD_ERROR_HANDLE)) {
    CreatePipe(&read_, &write_, nullptr, 4096);
    SetStdHandle(STD_ERROR_HANDLE, write_);
  }
  ~PipeAsStandardError() {
    SetStdHandle(STD_ERROR_HANDLE, saved_);
    CloseHandle(read_);
    CloseHandle(write_);
  }
  // What the pipe holds now, without waiting.
  std::string Take() {
    std::string bytes;
    DWORD available = 0;
    while (PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      std::string chunk(available, '\0');
      DWORD got = 0;
      if (!ReadFile(read_, chunk.data(), available, &got, nullptr)) break;
      bytes.append(chunk, 0, got);
    }
    return bytes;
  }

 private:
  HANDLE saved_, read_ = nullptr, write_ = nullptr;
#else
  PipeAsStandardError() : saved_(::dup(2)) {
    std::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    // The module's end waits as a host's pipe makes it wait.
    ::fcntl(ends[1], F_SETFL, 0);
    ::dup2(ends[1], 2);
    ::close(ends[1]);
    read_ = ends[0];
  }
  ~PipeAsStandardError() {
    ::dup2(saved_, 2);
    ::close(saved_);
    ::close(read_);
  }
  std::string Take() {
    std::string bytes;
    char buffer[65536];
    for (ssize_t got; (got = ::read(read_, buffer, sizeof buffer)) > 0;) {
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
  }

 private:
  int saved_, read_ = -1;
#endif
};

// A host that does not read: every message returns at once, past the
// queue's room lines are dropped whole; once the host reads, the lines come
// in order, whole, each with the system's line end, and the end of the run
// waits for them.
TEST(StandardErrorTest, NeverWaitsForTheHostAndDropsWholeLines) {
  PipeAsStandardError pipe;
  const std::string padding(80, '-');
  constexpr int kLines = 4000;  // 400 KB: more than the pipe and the queue hold
  for (int i = 0; i < kLines; ++i) {
    report::WriteMessageToStderr("ligne " + std::to_string(i) + " " + padding);
  }

  std::string text;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      text += pipe.Take();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  report::DrainStandardError();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  stop = true;
  reader.join();
  text += pipe.Take();

  const std::string end(platform::kStandardErrorLineEnd);
  int lines = 0, last = -1;
  for (std::size_t start = 0, stop_at; (stop_at = text.find(end, start)) != std::string::npos;
       start = stop_at + end.size()) {
    const std::string line = text.substr(start, stop_at - start);
    const std::string number = line.substr(std::string("Module_Lumivane: ligne ").size());
    const int n = std::stoi(number);
    ASSERT_EQ(line, "Module_Lumivane: ligne " + std::to_string(n) + " " + padding);
    ASSERT_GT(n, last);
    last = n;
    ++lines;
  }
  EXPECT_TRUE(text.ends_with(end));
  EXPECT_TRUE(text.starts_with("Module_Lumivane: ligne 0 "));
  EXPECT_GT(lines, 0);
  EXPECT_LT(lines, kLines);
}

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
TEST(PourMessageTest, LongValuesLoseTheirMiddle) {
  using lumivane::text::PourMessage;
  const std::string exact(300, 'a');
  EXPECT_EQ(PourMessage(exact), exact);
  std::string accents;
  for (int i = 0; i < 1000; ++i) accents += "\xC3\xA9";  // 1000 "é", 2000 bytes
  const std::string shown = PourMessage("debut" + accents + "fin");
  EXPECT_TRUE(shown.starts_with("debut\xC3\xA9")) << shown;
  EXPECT_TRUE(
      shown.ends_with("\xC3\xA9"
                      "fin"))
      << shown;
  EXPECT_NE(shown.find("\xE2\x80\xA6"), std::string::npos);
  // 300 characters: 150 + "…" + 149, no character cut in two.
  EXPECT_EQ(shown.size(), 5 + 145 * 2 + 3 + 146 * 2 + 3u);
}

// No control character of a value reaches standard error raw: a NUL or an
// escape sequence from a server could hide or forge lines of the log.
TEST(StderrLineTest, ControlCharactersAreEscaped) {
  EXPECT_EQ(lumivane::text::StderrLine(std::string("a\0b\rc\td\x1B[2Je\x7F"
                                                   "f\xC2\x85g\n",
                                                   18)),
            "Module_Lumivane: a\\x00b\\rc\\td\\x1B[2Je\\x7Ff\\u0085g\\n");
}

}  // namespace
}  // namespace lumivane::text
