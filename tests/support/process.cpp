#include "process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace lumivane::testing {
namespace {

constexpr Duration kPoll = 5ms;
// After the exit, how long the readers may take to reach the end of the pipes.
constexpr Duration kDrain = 1s;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The program file that execve gets: argv[0] itself when it holds a slash,
// otherwise the first match on our PATH.
std::string ResolveProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) {
    return name;
  }
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / name;
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate.string();
    }
  }
  throw std::runtime_error("program not found on PATH: " + name);
}

}  // namespace

Environment CurrentEnvironment() {
  Environment env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    auto equals = text.find('=');
    if (equals != std::string::npos) {
      env[text.substr(0, equals)] = text.substr(equals + 1);
    }
  }
  return env;
}

struct Process::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  std::string out, err;
  bool out_done = false, err_done = false;
  std::atomic<bool> stop{false};
  int out_fd = -1, err_fd = -1;
  std::thread out_reader, err_reader;

  void Read(int fd, std::string& into, bool& done) {
    char buffer[4096];
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      int ready = ::poll(&p, 1, 50);
      if (ready == 0) {
        if (stop) break;
        continue;
      }
      if (ready < 0 && errno == EINTR) continue;
      ssize_t n = ready < 0 ? -1 : ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      std::lock_guard lock(mutex);
      into.append(buffer, static_cast<std::size_t>(n));
      changed.notify_all();
    }
    std::lock_guard lock(mutex);
    done = true;
    changed.notify_all();
  }

  bool WaitDrained(Duration timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return out_done && err_done; });
  }
};

Process Process::Start(const std::vector<std::string>& argv, ProcessOptions options) {
  if (argv.empty()) {
    throw std::invalid_argument("Process::Start without a program");
  }
  // Everything the child needs is prepared before fork: after it, only
  // async-signal-safe calls.
  const std::string program = ResolveProgram(argv[0]);
  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env_text;
  for (const auto& [name, value] : options.environment) env_text.push_back(name + "=" + value);
  std::vector<char*> env;
  for (auto& entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);

  try {
    return Launch([&](int report) {
      for (auto [ours, theirs] : options.descriptors) {
        if (ours == theirs) {
          ::fcntl(ours, F_SETFD, 0);
        } else {
          ::dup2(ours, theirs);
        }
      }
      if (options.working_directory.empty() || ::chdir(options.working_directory.c_str()) == 0) {
        ::execve(program.c_str(), args.data(), env.data());
      }
      int error = errno;
      (void)!::write(report, &error, sizeof error);
    });
  } catch (const std::system_error& error) {
    throw std::runtime_error("cannot start " + program + ": " + error.code().message());
  }
}

std::vector<Process> Process::ForkEach(const std::vector<std::function<int()>>& bodies) {
  std::vector<Process> children;
  for (const std::function<int()>& body : bodies) {
    children.push_back(Spawn([&](int report) {
      ::close(report);
      int code = 125;
      try {
        code = body();
      } catch (...) {
      }
      std::fflush(nullptr);
      ::_exit(code);
    }));
  }
  for (Process& child : children) child.StartReaders();
  return children;
}

Process Process::Fork(const std::function<int()>& body) {
  return std::move(ForkEach({body}).front());
}

Process Process::Spawn(const std::function<void(int report)>& in_child) {
  int out[2], err[2], status[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 ||
      ::pipe2(status, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

  pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    for (int fd : {out[0], out[1], err[0], err[1], status[0], status[1], null_fd}) ::close(fd);
    throw std::runtime_error(std::string("fork: ") + std::strerror(error));
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::dup2(null_fd, 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    in_child(status[1]);
    ::_exit(127);
  }

  ::setpgid(pid, pid);  // also here, so that the group exists before we signal it
  ::close(null_fd);
  ::close(out[1]);
  ::close(err[1]);
  ::close(status[1]);
  int error = 0;
  ssize_t got;
  do {
    got = ::read(status[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  ::close(status[0]);

  Process process;
  process.pid_ = pid;
  process.shared_ = std::make_unique<Shared>();
  process.shared_->out_fd = out[0];
  process.shared_->err_fd = err[0];
  process.start_error_ = got == sizeof error ? error : 0;
  return process;
}

void Process::StartReaders() {
  Shared* shared = shared_.get();
  shared->out_reader =
      std::thread([shared] { shared->Read(shared->out_fd, shared->out, shared->out_done); });
  shared->err_reader =
      std::thread([shared] { shared->Read(shared->err_fd, shared->err, shared->err_done); });
}

Process Process::Launch(const std::function<void(int report)>& in_child) {
  Process process = Spawn(in_child);
  process.StartReaders();
  if (process.start_error_ != 0) {
    process.WaitForExit(kWait);
    throw std::system_error(process.start_error_, std::generic_category());
  }
  return process;
}

Process::Process() = default;

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      exit_code_(std::exchange(other.exit_code_, std::nullopt)),
      start_error_(other.start_error_),
      shared_(std::move(other.shared_)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = std::exchange(other.pid_, -1);
    exit_code_ = std::exchange(other.exit_code_, std::nullopt);
    start_error_ = other.start_error_;
    shared_ = std::move(other.shared_);
  }
  return *this;
}

Process::~Process() { Release(); }

void Process::Release() {
  if (pid_ > 0 && !exit_code_) Reap();
  if (shared_ && shared_->out_reader.joinable()) {
    shared_->WaitDrained(kDrain);
    shared_->stop = true;
    shared_->out_reader.join();
    shared_->err_reader.join();
  }
  if (shared_) {
    ::close(shared_->out_fd);
    ::close(shared_->err_fd);
    shared_.reset();
  }
  pid_ = -1;
}

void Process::Reap() {
  // Whatever the process left behind in its group goes with it: signalled
  // before the process is reaped, while the group's number cannot yet be
  // another's.
  ::kill(-pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

pid_t Process::Pid() const { return pid_; }

bool Process::Running() { return !WaitForExit(0ms).has_value(); }

std::optional<int> Process::WaitForExit(Duration timeout) {
  if (exit_code_ || pid_ <= 0) {
    return exit_code_;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    siginfo_t info{};
    const int done = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    if (done == 0 && info.si_pid == pid_) {
      Reap();
      shared_->WaitDrained(kDrain);
      return exit_code_;
    }
    if (done < 0 && errno != EINTR) {
      throw std::runtime_error(std::string("waitid: ") + std::strerror(errno));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    }
    std::this_thread::sleep_for(kPoll);
  }
}

void Process::Stop(int signal, Duration grace) {
  if (pid_ <= 0 || exit_code_) return;
  ::kill(-pid_, signal);
  if (!WaitForExit(grace)) {
    Release();
  }
}

std::string Process::Stdout() const {
  if (!shared_) return {};
  std::lock_guard lock(shared_->mutex);
  return shared_->out;
}

std::string Process::Stderr() const {
  if (!shared_) return {};
  std::lock_guard lock(shared_->mutex);
  return shared_->err;
}

std::vector<std::string> Process::StderrLines() const { return SplitLines(Stderr()); }
std::vector<std::string> Process::StdoutLines() const { return SplitLines(Stdout()); }

std::optional<std::string> Process::WaitForStdoutLine(
    const std::function<bool(const std::string&)>& match, Duration timeout) {
  std::optional<std::string> found;
  if (!shared_) return found;
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait_for(lock, timeout, [&] {
    for (auto& line : SplitLines(shared_->out)) {
      if (match(line)) {
        found = line;
        return true;
      }
    }
    return shared_->out_done;
  });
  return found;
}

bool Process::WaitForStderr(const std::function<bool(const std::vector<std::string>&)>& ready,
                            Duration timeout) {
  bool met = false;
  if (!shared_) return met;
  std::unique_lock lock(shared_->mutex);
  shared_->changed.wait_for(lock, timeout, [&] {
    met = ready(SplitLines(shared_->err));
    return met || shared_->err_done;
  });
  return met;
}

std::optional<Completed> RunToEnd(const std::vector<std::string>& argv, ProcessOptions options,
                                  Duration timeout) {
  Process process = Process::Start(argv, std::move(options));
  auto code = process.WaitForExit(timeout);
  if (!code) {
    return std::nullopt;
  }
  return Completed{*code, process.Stdout(), process.Stderr()};
}

}  // namespace lumivane::testing
