// Modules sharing one pictures folder, as real processes: two retrieving the
// same quote in the same second, and runs killed at each stage followed by
// another run.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "process.h"
#include "quote/pictures.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using lumivane::testing::Process;
using namespace std::chrono_literals;

struct FixedClock : lumivane::platform::Clock {
  lumivane::platform::LocalDateTime Now() override { return {2020, 6, 9, 14, 30, 5}; }
};

struct NoMessages : lumivane::report::MessagePort {
  void ShowMessage(const std::string&) override {}
};

// Generous: the sanitizer build downloads sixty pictures slowly.
constexpr auto kModuleWait = 90s;

class SharedPicturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // /m/<module>/<n>: each module's pictures tell whose they are.
    server_.server().Get(
        R"(/m/(\w+)/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
          res.set_content(req.matches[1].str() + " " + req.matches[2].str(), "image/jpeg");
        });
    server_.server().Get("/lente.jpeg", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("image/jpeg", [this](std::size_t, httplib::DataSink& sink) {
        while (!stopping_) {
          sink.write("lente", 5);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
      });
    });
    server_.Start();
  }
  void TearDown() override {
    stopping_ = true;
    for (Process& module : modules_) module.Stop(SIGKILL, 10s);
    server_.Stop();
  }

  std::string Folder() const { return (dir_.Path() / "images").string() + "/"; }

  std::vector<std::string> Urls(const std::string& module, int count) const {
    std::vector<std::string> urls;
    for (int n = 1; n <= count; ++n) {
      urls.push_back(server_.Url("/m/" + module + "/" + std::to_string(n)));
    }
    return urls;
  }

  // A module process (see picture_module.cpp for its arguments).
  Process& Module(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{LUMIVANE_PICTURE_MODULE, Folder(),
                                  (dir_.Path() / "echange.xml").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return modules_.emplace_back(Process::Start(argv));
  }

  static bool Ready(Process& module) {
    return module
        .WaitForStdoutLine([](const std::string& line) { return line == "pret"; }, kModuleWait)
        .has_value();
  }

  // The next run's retrieval: its folder chosen, one picture downloaded.
  void NextRun() {
    FixedClock clock;
    NoMessages messages;
    lumivane::quote::PictureDownloader pictures(Folder(), clock, "/", messages);
    pictures.Precharger({server_.Url("/m/suivant/1")});
  }

  std::set<std::string> Files() const {
    std::set<std::string> names;
    if (!fs::exists(Folder())) return names;
    for (const auto& entry : fs::directory_iterator(Folder())) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  lumivane::testing::HttpTestServer server_;
  lumivane::testing::TempDir dir_;
  std::vector<Process> modules_;
  std::atomic<bool> stopping_{false};
};

// Two modules retrieving the same quote in the same second: 120 distinct
// names, each picture its own module's; the module whose exchange file
// failed removes its own pictures and nothing of the other's.
TEST_F(SharedPicturesTest, TwoModulesAtOnceKeepEachOthersPictures) {
  const std::string b_named = (dir_.Path() / "b.noms").string();
  modules_.reserve(2);
  // Module a removes its own once b has named all of its pictures: a name
  // freed earlier could rightly go to b.
  std::vector<std::string> a{"--precharger", "--attendre", b_named, "--ensuite", "supprimer"};
  std::vector<std::string> b{"--precharger", "--signaler", b_named, "--ensuite", "remettre"};
  for (const auto& url : Urls("a", 60)) a.push_back(url);
  for (const auto& url : Urls("b", 60)) b.push_back(url);
  Process& module_a = Module(a);
  Process& module_b = Module(b);
  ASSERT_EQ(module_a.WaitForExit(kModuleWait), 0) << module_a.Stderr();
  ASSERT_EQ(module_b.WaitForExit(kModuleWait), 0) << module_b.Stderr();

  std::set<std::string> all;
  for (Process* module : {&module_a, &module_b}) {
    auto lines = module->StdoutLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "nomme");
    lines.pop_back();
    ASSERT_EQ(lines.size(), 60u);
    for (std::size_t n = 1; n <= lines.size(); ++n) {
      const std::string& path = lines[n - 1];
      EXPECT_TRUE(all.insert(path).second) << path;
      if (module == &module_b) {
        EXPECT_EQ(lumivane::testing::ReadFile(path), "b " + std::to_string(n)) << path;
      } else {
        EXPECT_FALSE(fs::exists(path)) << path;
      }
    }
  }
  EXPECT_EQ(Files().size(), 60u);
}

// A run killed while bodies arrive, after naming pictures, or after writing
// its exchange file: the next retrieval removes what no host has seen, and
// keeps what an exchange file names or a living run still writes.
TEST_F(SharedPicturesTest, ARunKilledAtAnyStageLeavesNothingBehind) {
  modules_.reserve(3);
  // Killed while downloading: its temporary files stay until they are a
  // day old, as another run may still be writing them.
  Process& downloading = Module({"--precharger", server_.Url("/lente.jpeg")});
  for (int i = 0; i < 1800 && Files().empty(); ++i) std::this_thread::sleep_for(50ms);
  downloading.Stop(SIGKILL, 10s);
  ASSERT_EQ(Files().size(), 1u);
  NextRun();
  ASSERT_EQ(Files().size(), 1u);
  const fs::path left = Folder() + *Files().begin();
  fs::last_write_time(left, fs::file_time_type::clock::now() - std::chrono::hours(25));
  NextRun();
  EXPECT_TRUE(Files().empty());

  // Killed after naming three pictures, its exchange file not written: a
  // living run's pictures are left alone, a dead one's removed.
  std::vector<std::string> named{"--ensuite", "rester"};
  for (const auto& url : Urls("tue", 3)) named.push_back(url);
  Process& naming = Module(named);
  ASSERT_TRUE(Ready(naming)) << naming.Stderr();
  NextRun();
  EXPECT_EQ(Files().size(), 4u);  // three pictures and the run's record
  naming.Stop(SIGKILL, 10s);
  NextRun();
  EXPECT_TRUE(Files().empty());

  // Killed once its exchange file was written: the host may read them.
  named[1] = "echange";
  Process& written = Module(named);
  ASSERT_TRUE(Ready(written)) << written.Stderr();
  written.Stop(SIGKILL, 10s);
  NextRun();
  EXPECT_EQ(Files(),
            (std::set<std::string>{"20200609_143005-2_42.jpeg", "20200609_143005-3_42.jpeg",
                                   "20200609_143005_42.jpeg"}));
}

}  // namespace
