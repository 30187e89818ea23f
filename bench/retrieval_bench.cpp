// Times one press of "Récupérer le devis" (RecupererDevis) against in-process
// servers playing the retrieval URL, the quote service and the picture
// server, for quotes of 10 and 200 lines that all have a picture, with and
// without latency injected into every answer. Each case runs in a child
// process of its own so that its peak memory is its own.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

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
  std::size_t exchange_bytes = 0;
};

Result RunCase(int lines, int latency_ms, int repetitions) {
  std::string picture(kPictureBytes, '\0');
  std::mt19937 random(7);
  for (char& c : picture) c = static_cast<char>(random());

  lumivane::testing::HttpTestServer server;
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
  answer = QuoteAnswer(lines, server.BaseUrl());

  Result result;
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
  return result;
}

}  // namespace

int main() {
  std::printf("%-6s %-10s %12s %14s %14s\n", "lines", "latency", "time (ms)", "peak RSS (KiB)",
              "exchange (B)");
  for (const int latency : {0, 50}) {
    for (const int lines : {10, 200}) {
      std::fflush(stdout);
      const pid_t child = fork();
      if (child < 0) return 1;
      if (child == 0) {
        const Result r = RunCase(lines, latency, latency == 0 ? 3 : 1);
        std::printf("%-6d %-10s %12.1f %14ld %14zu\n", lines,
                    (std::to_string(latency) + " ms").c_str(), r.best_ms, r.peak_kib,
                    r.exchange_bytes);
        std::fflush(stdout);
        _exit(0);
      }
      int status = 0;
      waitpid(child, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
    }
  }
  std::printf(
      "(%zu KiB per picture; best of 3 runs without latency, 1 run with; latency is "
      "added to every answer)\n",
      kPictureBytes / 1024);
  return 0;
}
