#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumivane::testing {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// How long the harness waits for anything a working program does at once
// (a window, a message, an exit). A broken program fails the test after it.
inline constexpr Duration kWait = 8s;

// Environment of a child process, name -> value.
using Environment = std::map<std::string, std::string>;
Environment CurrentEnvironment();

struct ProcessOptions {
  Environment environment = CurrentEnvironment();
  std::string working_directory;  // empty: the current one
  // Open descriptors of this process handed to the child: {ours, child's number}.
  std::vector<std::pair<int, int>> descriptors;
};

// A child process in a process group of its own, standard input /dev/null,
// standard output and error captured. Killed (with its group) and reaped when
// destroyed.
class Process {
 public:
  // Throws std::runtime_error when the program cannot be started.
  static Process Start(const std::vector<std::string>& argv, ProcessOptions options = {});
  // A copy of this test process that runs `body` and exits with what it
  // returns (125 when it throws), without running exit handlers: for what
  // must happen in another process of the same program (two modules at once,
  // a limit set on one process only). Its assertions are not the test's:
  // `body` reports through its exit code and output. Only from a test with
  // no thread of its own running: a fork copies the locks other threads hold
  // at that moment, and the sanitizers' allocator does not release them in
  // the child.
  static Process Fork(const std::function<int()>& body);
  // One copy per body, all forked before any of their outputs is read (the
  // readers are threads).
  static std::vector<Process> ForkEach(const std::vector<std::function<int()>>& bodies);
  Process();  // no process: a place to move one into

  Process(Process&&) noexcept;
  Process& operator=(Process&&) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  pid_t Pid() const;
  bool Running();
  // The exit code (128 + signal number for a killed process), or nothing when
  // the process is still running after `timeout`. Once it has exited, the
  // output it wrote is all captured.
  std::optional<int> WaitForExit(Duration timeout);
  // Sends `signal` to the group, waits up to `grace` for the exit, then kills.
  void Stop(int signal, Duration grace);

  std::string Stdout() const;
  std::string Stderr() const;
  // Complete lines of standard error / output written so far.
  std::vector<std::string> StderrLines() const;
  std::vector<std::string> StdoutLines() const;
  // Waits until a complete line of standard output satisfies `match`.
  std::optional<std::string> WaitForStdoutLine(const std::function<bool(const std::string&)>& match,
                                               Duration timeout);
  // Waits until `ready` holds for the lines of standard error written so far;
  // false at once when standard error has been closed without it.
  bool WaitForStderr(const std::function<bool(const std::vector<std::string>&)>& ready,
                     Duration timeout);

 private:
  struct Shared;
  // Forks a child with the captured descriptors in place; `in_child` runs in
  // it, given the descriptor that reports a failed start (an errno), and
  // never returns.
  static Process Launch(const std::function<void(int report)>& in_child);
  // The same, without the threads that read its output: StartReaders()
  // starts them. A failed start is kept in start_error_.
  static Process Spawn(const std::function<void(int report)>& in_child);
  void StartReaders();
  // Kills what is left of the group, then waits for the process.
  void Reap();
  void Release();

  pid_t pid_ = -1;
  std::optional<int> exit_code_;
  int start_error_ = 0;
  std::unique_ptr<Shared> shared_;
};

// Runs a short-lived program to its end; nothing when it outlives `timeout`
// (it is then killed). The result holds the exit code and standard output.
struct Completed {
  int exit_code = -1;
  std::string out;
  std::string err;
};
std::optional<Completed> RunToEnd(const std::vector<std::string>& argv, ProcessOptions options,
                                  Duration timeout);

}  // namespace lumivane::testing
