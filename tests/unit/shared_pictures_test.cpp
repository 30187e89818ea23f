// Modules sharing one pictures folder, as real processes: two retrieving the
// same quote in the same second, and runs killed at each stage followed by
// another run.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http_test_server.h"
#include "platform/files.h"
#include "quote/pictures.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
using lumivane::quote::PictureDownloader;
using lumivane::testing::ReadFile;

struct FixedClock : lumivane::platform::Clock {
  lumivane::platform::LocalDateTime Now() override { return {2020, 6, 9, 14, 30, 5}; }
};

struct NoMessages : lumivane::report::MessagePort {
  void ShowMessage(const std::string&) override {}
};

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
    for (const pid_t child : children_) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
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

  // A module process: `body` runs, then it writes `done` and waits to be
  // killed (or returns when `stay` is false).
  pid_t Module(const std::function<void(PictureDownloader&)>& body, bool stay) {
    const pid_t child = fork();
    if (child == 0) {
      {
        FixedClock clock;
        NoMessages messages;
        PictureDownloader pictures(Folder(), clock, "/", messages);
        pictures.SetFichierEchange((dir_.Path() / "echange.xml").string());
        body(pictures);
        if (stay) {
          lumivane::testing::WriteFile(dir_.Path() / "pret", "");
          for (;;) ::pause();
        }
      }
      _exit(0);
    }
    children_.push_back(child);
    return child;
  }

  void Kill(pid_t child) {
    ASSERT_TRUE(WaitFor(dir_.Path() / "pret"));
    fs::remove(dir_.Path() / "pret");
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    std::erase(children_, child);
  }

  static bool WaitFor(const fs::path& path) {
    for (int i = 0; i < 200 && !fs::exists(path); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return fs::exists(path);
  }

  // The next run's retrieval: its folder chosen, one picture downloaded.
  void NextRun() {
    FixedClock clock;
    NoMessages messages;
    PictureDownloader pictures(Folder(), clock, "/", messages);
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
  std::vector<pid_t> children_;
  std::atomic<bool> stopping_{false};
};

// Two modules retrieving the same quote in the same second: 120 distinct
// names, each picture its own module's; the module whose exchange file
// failed removes its own pictures and nothing of the other's.
TEST_F(SharedPicturesTest, TwoModulesAtOnceKeepEachOthersPictures) {
  for (const std::string module : {"a", "b"}) {
    Module(
        [&](PictureDownloader& pictures) {
          const auto urls = Urls(module, 60);
          pictures.Precharger(urls);
          std::string names;
          for (const std::string& url : urls) names += *pictures.TelechargerImage(url, "42") + "\n";
          lumivane::testing::WriteFile(dir_.Path() / (module + ".noms"), names);
          if (module == "a") {
            // Once the other module has named all of its own: a name freed
            // here could otherwise rightly go to it.
            ASSERT_TRUE(WaitFor(dir_.Path() / "b.noms"));
            pictures.SupprimerImagesEnregistrees();
          } else {
            pictures.Remettre();
          }
        },
        false);
  }
  for (const pid_t child : children_) ::waitpid(child, nullptr, 0);
  children_.clear();
  std::set<std::string> all;
  for (const std::string module : {"a", "b"}) {
    std::istringstream names(ReadFile(dir_.Path() / (module + ".noms")).value_or(""));
    int n = 0;
    for (std::string path; std::getline(names, path);) {
      ++n;
      EXPECT_TRUE(all.insert(path).second) << path;
      if (module == "b") {
        EXPECT_EQ(ReadFile(path), "b " + std::to_string(n)) << path;
      } else {
        EXPECT_FALSE(fs::exists(path)) << path;
      }
    }
    EXPECT_EQ(n, 60);
  }
  EXPECT_EQ(Files().size(), 60u);
}

// A run killed while bodies arrive, after naming pictures, or after writing
// its exchange file: the next retrieval removes what no host has seen, and
// keeps what an exchange file names or a living run still writes.
TEST_F(SharedPicturesTest, ARunKilledAtAnyStageLeavesNothingBehind) {
  // Killed while downloading: its temporary files stay until they are a
  // day old, as another run may still be writing them.
  const pid_t downloading = Module(
      [&](PictureDownloader& pictures) { pictures.Precharger({server_.Url("/lente.jpeg")}); },
      true);
  for (int i = 0; i < 200 && Files().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  lumivane::testing::WriteFile(dir_.Path() / "pret", "");
  Kill(downloading);
  ASSERT_EQ(Files().size(), 1u);
  NextRun();
  ASSERT_EQ(Files().size(), 1u);
  const fs::path left = Folder() + *Files().begin();
  fs::last_write_time(left, fs::file_time_type::clock::now() - std::chrono::hours(25));
  NextRun();
  EXPECT_TRUE(Files().empty());

  // Killed after naming three pictures, its exchange file not written: a
  // living run's pictures are left alone, a dead one's removed.
  const auto named = [&](PictureDownloader& pictures) {
    for (const std::string& url : Urls("tue", 3)) pictures.TelechargerImage(url, "42");
  };
  const pid_t naming = Module(named, true);
  ASSERT_TRUE(WaitFor(dir_.Path() / "pret"));
  NextRun();
  EXPECT_EQ(Files().size(), 4u);  // three pictures and the run's record
  Kill(naming);
  NextRun();
  EXPECT_TRUE(Files().empty());

  // Killed once its exchange file was written: the host may read them.
  const pid_t written = Module(
      [&](PictureDownloader& pictures) {
        named(pictures);
        lumivane::platform::ReplaceFileContents((dir_.Path() / "echange.xml").string(), "<x/>");
      },
      true);
  Kill(written);
  NextRun();
  EXPECT_EQ(Files(),
            (std::set<std::string>{"20200609_143005-2_42.jpeg", "20200609_143005-3_42.jpeg",
                                   "20200609_143005_42.jpeg"}));
}

}  // namespace
