// Times one press of "Récupérer le devis" (RecupererDevis) against in-process
// servers playing the retrieval URL, the quote service and the picture
// server, for quotes of 10, 50 and 200 lines that all have a picture, with
// and without latency injected into every answer, and compares each time
// with the network's critical path: 3 round trips (retrieval document, quote,
// the pictures all at once) plus the same retrieval without latency. Then
// times "Annuler": from the token set to the retrieval given up. Each case
// runs in a child process of its own so that its peak memory is its own.
//
// The servers answer requests concurrently (a pool of 64 threads, a listen
// backlog of 512, no Nagle delay), so that they are not what is measured.

#include <sys/resource.h>
#include <sys/socket.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <atomic>
#include <functional>

#include "http_test_server.h"
#include "platform/endpoints.h"
#include "platform/files.h"
#include "result/retrieval.h"
#include "temp_dir.h"

namespace {

using lumivane::platform::HttpClient;

constexpr std::size_t kPictureBytes = 200 * 1024;

struct BenchMessages : lumivane::platform::MessagePort {
  int shown = 0;
  void ShowMessage(const std::string&) override { ++shown; }
};

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

struct Result {
  double best_ms = 0;
  long peak_kib = 0;
  long growth_kib = 0;  // peak over the resident size just before the runs
  std::size_t exchange_bytes = 0;
};

long ResidentKib() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Servers that do not stand in the way: many workers, a long accept queue,
// small answers sent at once.
void Concurrent(lumivane::testing::HttpTestServer& server, int& listening) {
  server.server().new_task_queue = [] { return new httplib::ThreadPool(64); };
  server.server().set_tcp_nodelay(true);
  server.server().set_socket_options([&listening](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    listening = sock;
  });
}

Result RunCase(int lines, int latency_ms, int repetitions) {
  std::string picture(kPictureBytes, '\0');
  std::mt19937 random(7);
  for (char& c : picture) c = static_cast<char>(random());

  lumivane::testing::HttpTestServer server;
  int listening = -1;
  Concurrent(server, listening);
  const auto pause = [latency_ms] {
    if (latency_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(latency_ms));
  };
  const std::string retrieval =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Configurateur><Passerelle>bench</Passerelle>"
      "<Project>42</Project></Configurateur>";
  server.server().Get("/recuperation", [&](const httplib::Request&, httplib::Response& res) {
    pause();
    res.set_content(retrieval, "application/xml");
  });
  std::string answer;
  server.server().Post(lumivane::platform::kQuoteServicePath,
                       [&](const httplib::Request&, httplib::Response& res) {
                         pause();
                         res.set_content(answer, "application/json");
                       });
  server.server().Get(R"(/photos/\d+\.jpeg)", [&](const httplib::Request&, httplib::Response& res) {
    pause();
    res.set_content(picture, "image/jpeg");
  });
  server.Start();
  // The library listens with a backlog of 5: a burst of connections would
  // wait for SYN retries.
  if (listening >= 0) ::listen(listening, 512);
  answer = QuoteAnswer(lines, server.BaseUrl());

  Result result;
  const long before_kib = ResidentKib();
  for (int r = 0; r < repetitions; ++r) {
    lumivane::testing::TempDir dir;
    const std::string exchange = (dir.Path() / "echange.xml").string();
    struct FixedClock : lumivane::platform::Clock {
      lumivane::platform::LocalDateTime Now() override { return {2020, 6, 9, 14, 30, 5}; }
    } clock;
    BenchMessages messages;
    HttpClient http1(lumivane::platform::WindowClientSettings());
    HttpClient http2(lumivane::platform::WindowClientSettings());
    lumivane::quote::PictureDownloader pictures((dir.Path() / "images").string() + "/", clock, "/",
                                                messages);
    std::string devis_id;
    const auto start = std::chrono::steady_clock::now();
    const auto outcome = lumivane::result::RecupererDevis(
        {server.Url("/recuperation"), server.BaseUrl(), "jeton", exchange}, http1, http2, pictures,
        devis_id);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (outcome.kind != lumivane::result::RetrievalOutcome::Kind::Written || messages.shown != 0) {
      std::fprintf(stderr, "unexpected outcome: %s\n", outcome.message.c_str());
      std::exit(1);
    }
    result.exchange_bytes = lumivane::platform::ReadFileBytes(exchange).size();
    if (r == 0 || ms < result.best_ms) result.best_ms = ms;
  }
  server.Stop();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  result.peak_kib = usage.ru_maxrss;
  result.growth_kib = usage.ru_maxrss - before_kib;
  return result;
}

// From "Annuler" (the token set while 50 pictures are on their way from a
// server that takes 20 s each) to the retrieval given up.
double CancelMs() {
  lumivane::testing::HttpTestServer server;
  int listening = -1;
  Concurrent(server, listening);
  std::atomic<bool> stop{false};
  server.server().Get("/recuperation", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content("<Configurateur><Project>42</Project></Configurateur>", "application/xml");
  });
  std::string answer;
  server.server().Post(lumivane::platform::kQuoteServicePath,
                       [&](const httplib::Request&, httplib::Response& res) {
                         res.set_content(answer, "application/json");
                       });
  server.server().Get(R"(/photos/\d+\.jpeg)", [&](const httplib::Request&, httplib::Response& res) {
    for (int i = 0; i < 2000 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    res.set_content("x", "image/jpeg");
  });
  server.Start();
  if (listening >= 0) ::listen(listening, 512);
  answer = QuoteAnswer(50, server.BaseUrl());

  lumivane::testing::TempDir dir;
  struct FixedClock : lumivane::platform::Clock {
    lumivane::platform::LocalDateTime Now() override { return {2020, 6, 9, 14, 30, 5}; }
  } clock;
  BenchMessages messages;
  lumivane::platform::CancellationToken cancel;
  HttpClient http1(lumivane::platform::WindowClientSettings());
  HttpClient http2(lumivane::platform::WindowClientSettings());
  http1.SetCancellation(&cancel);
  http2.SetCancellation(&cancel);
  lumivane::quote::PictureDownloader pictures((dir.Path() / "images").string() + "/", clock, "/",
                                              messages);
  pictures.SetCancellation(&cancel);
  std::chrono::steady_clock::time_point pressed;
  std::thread annuler([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    pressed = std::chrono::steady_clock::now();
    cancel.Cancel();
  });
  std::string devis_id;
  try {
    lumivane::result::PreparerRecuperation(
        {server.Url("/recuperation"), server.BaseUrl(), "jeton",
         (dir.Path() / "echange.xml").string()},
        http1, http2, pictures, devis_id);
  } catch (const lumivane::platform::OperationAnnulee&) {
  }
  const auto given_up = std::chrono::steady_clock::now();
  annuler.join();
  stop = true;
  server.Stop();
  return std::chrono::duration<double, std::milli>(given_up - pressed).count();
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

}  // namespace

int main() {
  std::printf("%-6s %-8s %10s %14s %7s %14s %16s %13s\n", "lines", "latency", "time (ms)",
              "3L + T0 (ms)", "ratio", "peak RSS (KiB)", "growth (KiB)", "exchange (B)");
  for (const int lines : {10, 50, 200}) {
    // T0 goes through a pipe from its child to the case at 50 ms.
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return 1;
    for (const int latency : {0, 50}) {
      const bool ok = InChild([&] {
        const Result r = RunCase(lines, latency, latency == 0 ? 3 : 2);
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
      });
      if (!ok) return 1;
    }
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
  }
  if (!InChild([] { std::printf("\"Annuler\" to the retrieval given up: %.1f ms\n", CancelMs()); })) {
    return 1;
  }
  std::printf(
      "(%zu KiB per picture; best of 3 runs without latency, of 2 with; latency is added to "
      "every answer; HTTP/1.1, at most %zu connections to the picture server)\n",
      kPictureBytes / 1024, lumivane::quote::kPicturesPerHost);
  return 0;
}
