// Modules sharing one pictures folder, as real processes: two retrieving the
// same quote in the same second, and runs killed at each stage followed by
// another run.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

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
#include "recorders.h"
#include "temp_dir.h"

namespace {

using ::lumivane::testing::FixedClock;
using ::lumivane::testing::RecorderMessages;

namespace fs = std::filesystem;
using lumivane::testing::Process;
using namespace std::chrono_literals;

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
    RecorderMessages messages;
    lumivane::quote::PictureDownloader pictures(Folder(), clock, "/", messages);
    pictures.Prefetch({server_.Url("/m/suivant/1")});
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

// Runs killed while their bodies arrive or once their pictures are named,
// after a quote handed over whose exchange file the host then deleted: no
// later run removes a picture that reached the folder; a dead run's private
// folder goes, a living one's stays.
TEST_F(SharedPicturesTest, NoRunRemovesAnotherRunsPictures) {
  modules_.reserve(3);
  std::vector<std::string> delivered{"--ensuite", "remettre"};
  for (const auto& url : Urls("livre", 3)) delivered.push_back(url);
  Process& first = Module(delivered);
  ASSERT_EQ(first.WaitForExit(kModuleWait), 0) << first.Stderr();
  fs::remove(dir_.Path() / "echange.xml");
  const std::set<std::string> handed_over = Files();
  ASSERT_EQ(handed_over.size(), 3u);

  Process& downloading = Module({"--precharger", server_.Url("/lente.jpeg")});
  for (int i = 0; i < 1800 && Files().size() == 3; ++i) std::this_thread::sleep_for(50ms);
  ASSERT_EQ(Files().size(), 4u);
  NextRun();
  EXPECT_EQ(Files().size(), 4u);  // its run lives
  downloading.Stop(SIGKILL, 10s);
  NextRun();
  EXPECT_EQ(Files(), handed_over);

  std::vector<std::string> named{"--ensuite", "rester"};
  for (const auto& url : Urls("tue", 3)) named.push_back(url);
  Process& naming = Module(named);
  ASSERT_TRUE(Ready(naming)) << naming.Stderr();
  naming.Stop(SIGKILL, 10s);
  NextRun();
  // Named, never handed over: no exchange file names them, and they stay.
  std::set<std::string> expected = handed_over;
  for (const char* name :
       {"20200609_143005-4_42.jpeg", "20200609_143005-5_42.jpeg", "20200609_143005-6_42.jpeg"}) {
    expected.insert(name);
  }
  EXPECT_EQ(Files(), expected);
}

// What looks like the module's leftovers without provably being a dead
// run's own is kept: another user's, a link inside, a name not exactly of
// the module's form, a record of earlier versions, anything beside the
// exchange file but old temporary files.
TEST_F(SharedPicturesTest, OnlyADeadRunsOwnLeftoversAreRemoved) {
  const fs::path images = Folder();
  const fs::path outside = dir_.Path();
  fs::create_directories(images);
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(72);
  const auto file = [&](const fs::path& path, const std::string& bytes) {
    lumivane::testing::WriteFile(path.string(), bytes);
    fs::last_write_time(path, old);
  };
  const auto private_folder = [&](const fs::path& path) {
    fs::create_directory(path);
    file(path / "held", "held\n");
    file(path / "image-1", "jpeg");
  };
  file(images / "photo.jpeg", "p");
  file(images / ".lumivane-abcdefghijkl.images", "echange.xml\nphoto.jpeg\n");
  file(images / ".lumivane-mes notes.tmp", "n");
  file(images / ".lumivane-x.tmp", "n");
  file(images / ".lumivane-dddddddddddd.tmp", "dead");
  lumivane::testing::WriteFile((images / ".lumivane-ffffffffffff.tmp").string(), "young");
  private_folder(images / ".lumivane-cccccccccccc.staging");  // a dead run's
  private_folder(images / ".lumivane-bbbbbbbbbbbb.staging");
  fs::create_symlink("../photo.jpeg", images / ".lumivane-bbbbbbbbbbbb.staging" / "lien");
  private_folder(images / ".lumivane-gggggggggggg.staging");
  fs::create_directory(images / ".lumivane-gggggggggggg.staging" / "dossier");
  private_folder(outside / ".lumivane-hhhhhhhhhhhh.staging");
  file(outside / "notes.jpeg", "n");
  file(outside / ".lumivane-iiiiiiiiiiii.tmp", "dead");
  std::set<std::string> kept{"photo.jpeg",
                             ".lumivane-abcdefghijkl.images",
                             ".lumivane-mes notes.tmp",
                             ".lumivane-x.tmp",
                             ".lumivane-ffffffffffff.tmp",
                             ".lumivane-bbbbbbbbbbbb.staging",
                             ".lumivane-gggggggggggg.staging"};
  if (::geteuid() == 0) {  // another user's, as root can make them
    private_folder(images / ".lumivane-aaaaaaaaaaaa.staging");
    file(images / ".lumivane-eeeeeeeeeeee.tmp", "theirs");
    for (const char* name :
         {".lumivane-aaaaaaaaaaaa.staging", ".lumivane-aaaaaaaaaaaa.staging/held",
          ".lumivane-aaaaaaaaaaaa.staging/image-1", ".lumivane-eeeeeeeeeeee.tmp"}) {
      ASSERT_EQ(::lchown((images / name).c_str(), 4242, 4242), 0);
    }
    kept.insert({".lumivane-aaaaaaaaaaaa.staging", ".lumivane-eeeeeeeeeeee.tmp"});
  }

  lumivane::quote::RemoveLeftovers(outside.string() + "/", false);
  NextRun();
  EXPECT_EQ(Files(), kept);
  EXPECT_EQ(lumivane::testing::ReadFile((images / "photo.jpeg").string()), "p");
  EXPECT_TRUE(fs::exists(outside / "notes.jpeg"));
  EXPECT_TRUE(fs::exists(outside / ".lumivane-hhhhhhhhhhhh.staging" / "image-1"));
  EXPECT_FALSE(fs::exists(outside / ".lumivane-iiiiiiiiiiii.tmp"));
}

}  // namespace
