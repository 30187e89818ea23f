// Times one press of "Récupérer le devis" (RecupererDevis) against servers
// playing the retrieval URL, the quote service and the picture server, for
// quotes of 10, 50 and 200 lines that all have a picture, with and without
// latency injected into every answer, and compares each time with the
// network's critical path: 3 round trips (retrieval document, quote, the
// pictures all at once) plus the same retrieval without latency. Then times
// "Annuler": from the token set to the retrieval given up.
//
//   retrieval_bench                     (Linux) every case, each in a child
//                                       process of its own with its own
//                                       in-process server, so that its peak
//                                       memory is its own; prints the table
//   retrieval_bench --serve             (Linux) serves every case until
//                                       SIGTERM or SIGINT; prints its base
//                                       URL first
//   retrieval_bench --against URL [--ca FILE] --lines N --latency MS
//   retrieval_bench --against URL [--ca FILE] --cancel
//                                       (both systems) one case against a
//                                       server started with --serve, or a
//                                       proxy in front of it (FILE: its
//                                       certificate authority); prints
//                                       "time_ms peak_kib growth_kib bytes",
//                                       or the cancel time in ms
//
// scripts/bench runs the table on Linux; with --windows, the Windows build's
// cases under Wine against a Linux server; with --http2, the Linux build's
// through an HTTP/2 proxy (nghttpx) in front of that server.
//
// The servers answer requests concurrently (a pool of 64 threads, a listen
// backlog of 512, no Nagle delay), so that they are not what is measured.
// A case is addressed by its path: /case/<latency ms or "stall">/<lines>/...

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "http_test_server.h"
#include "http/http.h"
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "http/endpoints.h"
#include "platform/files.h"
#include "result/retrieval.h"
#include "temp_dir.h"

namespace {

using lumivane::http::HttpClient;

constexpr std::size_t kPictureBytes = 200 * 1024;
constexpr int kCancelLines = 50;

struct BenchMessages : lumivane::report::MessagePort {
  int shown = 0;
  void ShowMessage(const std::string&) override { ++shown; }
};

struct FixedClock : lumivane::platform::Clock {
  lumivane::platform::LocalDateTime Now() override { return {2020, 6, 9, 14, 30, 5}; }
};

// The certificate authority of a TLS proxy in front of the bench server.
std::string extra_ca_file;

lumivane::http::HttpSettings WindowSettings() {
  auto settings = lumivane::http::WindowClientSettings();
  settings.extra_ca_file = extra_ca_file;
  return settings;
}

lumivane::http::HttpSettings PictureSettings() {
  lumivane::http::HttpSettings settings;
  settings.extra_ca_file = extra_ca_file;
  return settings;
}

std::string CaseUrl(const std::string& base, const std::string& latency, int lines) {
  return base + "/case/" + latency + "/" + std::to_string(lines);
}

struct Memory {
  long resident_kib = 0;
  long peak_kib = 0;
};

Memory ProcessMemory() {
  Memory memory;
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    memory.resident_kib = static_cast<long>(counters.WorkingSetSize / 1024);
    memory.peak_kib = static_cast<long>(counters.PeakWorkingSetSize / 1024);
  }
#else
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  memory.resident_kib = resident * (sysconf(_SC_PAGESIZE) / 1024);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  memory.peak_kib = usage.ru_maxrss;
#endif
  return memory;
}

struct Result {
  double best_ms = 0;
  long peak_kib = 0;
  long growth_kib = 0;  // peak over the resident size of the idle module
  std::size_t exchange_bytes = 0;
};

// One case, best of `repetitions`, against a server of ServeEveryCase.
Result RunCase(const std::string& base, int lines, int latency_ms, int repetitions) {
  Result result;
  const std::string url = CaseUrl(base, std::to_string(latency_ms), lines);
  {
    // The idle module has made its gateway call: the HTTP stack and its
    // system libraries are loaded before "Récupérer le devis" is pressed.
    HttpClient gateway(WindowSettings());
    gateway.Get(url + "/recuperation");
  }
  const long before_kib = ProcessMemory().resident_kib;
  for (int r = 0; r < repetitions; ++r) {
    lumivane::testing::TempDir dir;
    const std::string exchange = (dir.Path() / "echange.xml").string();
    FixedClock clock;
    BenchMessages messages;
    HttpClient http1(WindowSettings());
    HttpClient http2(WindowSettings());
    lumivane::quote::PictureDownloader pictures((dir.Path() / "images").string() + "/", clock, "/",
                                                messages, PictureSettings());
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = lumivane::result::RecupererDevis(
        {url + "/recuperation", url, "jeton", exchange}, http1, http2, pictures);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (outcome.kind != lumivane::result::RetrievalOutcome::Kind::Written || messages.shown != 0) {
      std::fprintf(stderr, "unexpected outcome: %s\n", outcome.message.c_str());
      std::exit(1);
    }
    result.exchange_bytes = lumivane::platform::ReadFileBytes(exchange).size();
    if (r == 0 || ms < result.best_ms) result.best_ms = ms;
  }
  result.peak_kib = ProcessMemory().peak_kib;
  result.growth_kib = result.peak_kib - before_kib;
  return result;
}

// From "Annuler" (the token set while 50 pictures are on their way from a
// server that takes 20 s each) to the retrieval given up.
double CancelMs(const std::string& base) {
  lumivane::testing::TempDir dir;
  FixedClock clock;
  BenchMessages messages;
  lumivane::base::CancellationToken cancel;
  HttpClient http1(WindowSettings());
  HttpClient http2(WindowSettings());
  http1.SetCancellation(&cancel);
  http2.SetCancellation(&cancel);
  lumivane::quote::PictureDownloader pictures((dir.Path() / "images").string() + "/", clock, "/",
                                              messages, PictureSettings());
  pictures.SetCancellation(&cancel);
  std::chrono::steady_clock::time_point pressed;
  std::thread annuler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pressed = std::chrono::steady_clock::now();
    cancel.Cancel();
  });
  const std::string url = CaseUrl(base, "stall", kCancelLines);
  const auto outcome = lumivane::result::RecupererDevis(
      {url + "/recuperation", url, "jeton", (dir.Path() / "echange.xml").string()}, http1, http2,
      pictures);
  const auto given_up = std::chrono::steady_clock::now();
  annuler.join();
  if (outcome.kind != lumivane::result::RetrievalOutcome::Kind::Cancelled) {
    std::fprintf(stderr, "unexpected outcome: %s\n", outcome.message.c_str());
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(given_up - pressed).count();
}

#ifndef _WIN32

std::string QuoteAnswer(int lines, const std::string& picture_base) {
  std::string xml = "<Sales_Header><No>D-BENCH</No><GeneralData_Sales_Lines>";
  for (int i = 1; i <= lines; ++i) {
    xml += "<Line><GeneralData><Unit_Price>" + std::to_string(100 + i) +
           ".50</Unit_Price><Quantity>" + std::to_string(i % 7 + 1) + "</Quantity><Picture_Path>" +
           picture_base + "/photos/" + std::to_string(i) +
           ".jpeg</Picture_Path><Designation>Fen\xC3\xAAtre PVC 2 vantaux " + std::to_string(i) +
           "</Designation></GeneralData><Informations_supp><Information_supp>"
           "<Description>Ligne " +
           std::to_string(i) +
           " \xE2\x82\xAC</Description></Information_supp></Informations_supp></Line>";
  }
  xml += "</GeneralData_Sales_Lines></Sales_Header>";
  return nlohmann::json{{"GetDataQuoteResult", xml}}.dump();
}

// Serves every case: /case/<latency ms>/<lines>/recuperation, the quote
// service under /case/<latency ms>/<lines>, and its pictures below
// .../photos/; with "stall" for the latency, each picture takes 20 s (or
// until `stop`). The pictures' addresses are on the server the quote was
// asked of (a proxy in front of this one gives its own address and scheme).
// Servers that do not stand in the way: more workers than requests at once
// (an HTTP/2 proxy sends all 200 pictures' requests together), a long accept
// queue, small answers sent at once.
void ServeEveryCase(lumivane::testing::HttpTestServer& server, const std::atomic<bool>& stop) {
  static const std::string picture = [] {
    std::string bytes(kPictureBytes, '\0');
    std::mt19937 random(7);
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
  }();
  int listening = -1;
  server.server().new_task_queue = [] { return new httplib::ThreadPool(256); };
  server.server().set_tcp_nodelay(true);
  server.server().set_socket_options([&listening](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    listening = sock;
  });
  const auto pause = [&stop](const std::string& latency) {
    if (latency == "stall") {
      for (int i = 0; i < 2000 && !stop; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } else if (const int ms = std::atoi(latency.c_str()); ms > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
  };
  const std::string kCase = R"(/case/(\d+|stall)/(\d+))";
  server.server().Get(kCase + "/recuperation", [pause](const httplib::Request& req,
                                                       httplib::Response& res) {
    if (req.matches[1] != "stall") pause(req.matches[1]);
    res.set_content(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Configurateur><Passerelle>bench</Passerelle>"
        "<Project>42</Project></Configurateur>",
        "application/xml");
  });
  server.server().Post(kCase + lumivane::http::kQuoteServicePath, [pause](
                                                                      const httplib::Request& req,
                                                                      httplib::Response& res) {
    if (req.matches[1] != "stall") pause(req.matches[1]);
    const std::string scheme =
        req.has_header("X-Forwarded-Proto") ? req.get_header_value("X-Forwarded-Proto") : "http";
    const std::string base = CaseUrl(scheme + "://" + req.get_header_value("Host"), req.matches[1],
                                     std::atoi(req.matches[2].str().c_str()));
    res.set_content(QuoteAnswer(std::atoi(req.matches[2].str().c_str()), base), "application/json");
  });
  server.server().Get(kCase + R"(/photos/\d+\.jpeg)",
                      [pause](const httplib::Request& req, httplib::Response& res) {
                        pause(req.matches[1]);
                        res.set_content(picture, "image/jpeg");
                      });
  server.Start();
  // The library listens with a backlog of 5: a burst of connections would
  // wait for SYN retries.
  if (listening >= 0) ::listen(listening, 512);
}

// Runs `body` in a child process; what it prints is the case's line.
bool InChild(const std::function<void()>& body) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    body();
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int WholeTable() {
  std::printf("%-6s %-8s %10s %14s %7s %14s %16s %13s\n", "lines", "latency", "time (ms)",
              "3L + T0 (ms)", "ratio", "peak RSS (KiB)", "growth (KiB)", "exchange (B)");
  for (const int lines : {10, 50, 200}) {
    // T0 goes through a pipe from its child to the case at 50 ms.
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return 1;
    for (const int latency : {0, 50}) {
      const bool ok = InChild([&] {
        std::atomic<bool> stop{false};
        lumivane::testing::HttpTestServer server;
        ServeEveryCase(server, stop);
        const Result r = RunCase(server.BaseUrl(), lines, latency, latency == 0 ? 3 : 2);
        double t0 = r.best_ms;
        if (latency == 0) {
          if (::write(pipe_fds[1], &t0, sizeof t0) != sizeof t0) _exit(1);
        } else if (::read(pipe_fds[0], &t0, sizeof t0) != sizeof t0) {
          _exit(1);
        }
        const double critical = 3.0 * latency + t0;
        std::printf("%-6d %-8s %10.1f %14.1f %7.2f %14ld %16ld %13zu\n", lines,
                    (std::to_string(latency) + " ms").c_str(), r.best_ms, critical,
                    r.best_ms / critical, r.peak_kib, r.growth_kib, r.exchange_bytes);
        server.Stop();
      });
      if (!ok) return 1;
    }
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
  }
  const bool ok = InChild([] {
    std::atomic<bool> stop{false};
    lumivane::testing::HttpTestServer server;
    ServeEveryCase(server, stop);
    std::printf("\"Annuler\" to the retrieval given up: %.1f ms\n", CancelMs(server.BaseUrl()));
    stop = true;
    server.Stop();
  });
  if (!ok) return 1;
  std::printf(
      "(%zu KiB per picture; best of 3 runs without latency, of 2 with; latency is added to "
      "every answer; HTTP/1.1, at most %zu connections to the picture server)\n",
      kPictureBytes / 1024, lumivane::quote::kPictureTransfersAtOnce);
  return 0;
}

int Serve() {
  // Every thread started from here on leaves the two signals to sigwait.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::atomic<bool> stop{false};
  lumivane::testing::HttpTestServer server;
  ServeEveryCase(server, stop);
  std::printf("%s\n", server.BaseUrl().c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  stop = true;
  server.Stop();
  return 0;
}

#endif

int Usage() {
  std::fprintf(
      stderr,
      "usage: retrieval_bench [--serve | --against URL [--ca FILE] (--lines N --latency MS "
      "| --cancel)]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string against;
  int lines = -1;
  int latency = -1;
  bool cancel = false;
  bool serve = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--serve") {
      serve = true;
    } else if (arg == "--cancel") {
      cancel = true;
    } else if (arg == "--against" && has_value) {
      against = argv[++i];
    } else if (arg == "--ca" && has_value) {
      extra_ca_file = argv[++i];
    } else if (arg == "--lines" && has_value) {
      lines = std::atoi(argv[++i]);
    } else if (arg == "--latency" && has_value) {
      latency = std::atoi(argv[++i]);
    } else {
      return Usage();
    }
  }
  if (!against.empty()) {
    if (cancel) {
      std::printf("%.1f\n", CancelMs(against));
      return 0;
    }
    if (lines <= 0 || latency < 0) return Usage();
    const Result r = RunCase(against, lines, latency, latency == 0 ? 3 : 2);
    std::printf("%.1f %ld %ld %zu\n", r.best_ms, r.peak_kib, r.growth_kib, r.exchange_bytes);
    return 0;
  }
#ifdef _WIN32
  (void)serve;
  return Usage();
#else
  return serve ? Serve() : WholeTable();
#endif
}
