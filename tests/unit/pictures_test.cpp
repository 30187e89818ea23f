#include "quote/pictures.h"
#include "http/http.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "http_test_server.h"
#include "platform/files.h"
#include "recorders.h"
#include "text/date_format.h"
#include "text/user_texts.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using lumivane::quote::NumberForFileName;
using lumivane::quote::PictureDownloader;
using lumivane::quote::TimeStamp;
using lumivane::text::DateSeparatorFromFormat;
// What ends a folder given without its separator.
const std::string kSep(1, lumivane::platform::kPathSeparator);

namespace {

using ::testing::HasSubstr;

using ::lumivane::testing::FixedClock;
using ::lumivane::testing::RecorderMessages;

const std::string kPictureFailed =
    lumivane::text::UserMessage(lumivane::text::UserText::kPictureFailed);
const std::string kImage("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff", 18);

// Only a 200 with a body that is not a web page is a picture: any image
// format passes, whatever the module may not know of it.
struct PictureAnswer {
  std::string name;
  int status;
  std::string body;
  std::string error;  // the failure's text before " : <address>", empty for a picture
};
const std::vector<PictureAnswer> kPictureAnswers = {
    {"jpeg", 200, "\xFF\xD8\xFF\xE0 JFIF", ""},
    {"svg", 200, "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\"/>", ""},
    {"inconnu", 200, "image 3", ""},
    {"vide", 200, "", "Le serveur a répondu sans image (réponse vide)"},
    {"portail", 200, "\xEF\xBB\xBF \r\n\t<!doctype HTML><title>Connexion</title>",
     "Le serveur a répondu par une page web au lieu d'une image"},
    {"session", 200, "<HTML><body>Session expirée</body></HTML>",
     "Le serveur a répondu par une page web au lieu d'une image"},
    {"sans-contenu", 204, "", "Le serveur a répondu 204 No Content"},
    {"moitie", 206, "\xFF\xD8\xFF\xE0", "Le serveur a répondu 206 Partial Content"},
    {"inchangee", 304, "", "Le serveur a répondu 304 Not Modified"},
    {"choix", 300, "<html>a.jpeg b.jpeg</html>", "Le serveur a répondu 300 Multiple Choice"},
    {"sans-location", 302, "<html>Moved</html>", "Le serveur a répondu 302 Found"},
};

class PicturesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_.server().Get("/image.png", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kImage, "image/png");
    });
    server_.server().Get("/absente.png", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("introuvable", "text/plain");
    });
    // Picture n answers after (8 - n) * 40 ms: the last asked comes first.
    server_.server().Get(R"(/lente/(\d))", [](const httplib::Request& req, httplib::Response& res) {
      const int n = std::stoi(req.matches[1]);
      std::this_thread::sleep_for(std::chrono::milliseconds((8 - n) * 40));
      res.set_content("image " + std::to_string(n), "image/jpeg");
    });
    // Fails once with 503, then answers.
    server_.server().Get("/capricieuse.jpeg",
                         [this](const httplib::Request&, httplib::Response& res) {
                           if (capricieuse_++ == 0) {
                             res.status = 503;
                             return;
                           }
                           res.set_content("enfin", "image/jpeg");
                         });
    server_.server().Get("/bloquee.jpeg", [this](const httplib::Request&, httplib::Response& res) {
      for (int i = 0; i < 1000 && !released_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      res.set_content("trop tard", "image/jpeg");
    });
    server_.server().Get("/grande.jpeg", [](const httplib::Request&, httplib::Response& res) {
      res.set_content(std::string(64 * 1024, 'g'), "image/jpeg");
    });
    // Picture n of a huge quote; every 125th is missing.
    server_.server().Get(R"(/n/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
      const int n = std::stoi(req.matches[1]);
      if (n % 125 == 0) {
        res.status = 404;
        return;
      }
      res.set_content("image " + std::to_string(n), "image/jpeg");
    });
    // A body that arrives a little at a time, for ten seconds.
    server_.server().Get("/goutte.jpeg", [this](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("image/jpeg", [this](std::size_t, httplib::DataSink& sink) {
        for (int i = 0; i < 200 && !released_; ++i) {
          sink.write("goutte", 6);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        sink.done();
        return true;
      });
    });
    for (const PictureAnswer& answer : kPictureAnswers) {
      server_.server().Get("/reponse/" + answer.name,
                           [&answer](const httplib::Request&, httplib::Response& res) {
                             res.status = answer.status;
                             if (!answer.body.empty()) res.set_content(answer.body, "image/jpeg");
                           });
    }
    server_.Start();
  }
  void TearDown() override {
    released_ = true;
    server_.Stop();
  }

  PictureDownloader Downloader(const std::string& folder) {
    lumivane::http::HttpSettings settings;
    settings.max_body_bytes = 16 * 1024;
    settings.connect_timeout_seconds = 5;
    settings.stall_timeout_seconds = 5;
    return PictureDownloader(folder, clock_, "/", messages_, settings);
  }

  std::vector<std::string> Files(const fs::path& folder) const {
    std::vector<std::string> names;
    if (!fs::exists(folder)) return names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::atomic<int> capricieuse_{0};
  std::atomic<bool> released_{false};
  lumivane::testing::HttpTestServer server_;
  lumivane::testing::TempDir dir_;
  FixedClock clock_;
  RecorderMessages messages_;
};

TEST_F(PicturesTest, StoresTheBytesUnderStampAndNumberInACreatedFolder) {
  const fs::path folder = dir_.Path() / "images";
  PictureDownloader pictures = Downloader(folder.string() + "/");
  const std::optional<std::string> path =
      pictures.TelechargerImage(server_.Url("/image.png"), "42");
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, folder.string() + "/20200609_143005_42.jpeg");
  EXPECT_EQ(lumivane::testing::ReadFile(*path), kImage);
  EXPECT_TRUE(messages_.shown.empty());
  pictures.HandOver();
  EXPECT_EQ(Files(folder), std::vector<std::string>{"20200609_143005_42.jpeg"});
}

TEST_F(PicturesTest, FailedDownloadsShowTheMessageOnceEachAndWriteNothing) {
  const fs::path folder = dir_.Path() / "images";
  {
    PictureDownloader pictures = Downloader(folder.string());
    for (const std::string& url :
         {server_.Url("/absente.png"), server_.Url("/grande.jpeg"),
          std::string("http://127.0.0.1:1/image.png"), std::string("C:\\images\\a.jpeg")}) {
      messages_.shown.clear();
      EXPECT_FALSE(pictures.TelechargerImage(url, "42")) << url;
      EXPECT_EQ(messages_.shown, std::vector<std::string>{kPictureFailed}) << url;
    }
  }
  // The folder made for them stays (another module may have chosen it
  // meanwhile), with nothing of this run's in it.
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_TRUE(Files(folder).empty());
}

TEST_F(PicturesTest, NamesNeverCollideAndFilesThereAreNeverReplaced) {
  const fs::path folder = dir_.Path() / "images";
  dir_.Write("images/20200609_143005_42.jpeg", "ancienne image d'un autre lancement");
  PictureDownloader pictures = Downloader(folder.string());
  const std::string url = server_.Url("/image.png");
  EXPECT_EQ(pictures.TelechargerImage(url, "42"),
            folder.string() + kSep + "20200609_143005-2_42.jpeg");
  EXPECT_EQ(pictures.TelechargerImage(url, "42"),
            folder.string() + kSep + "20200609_143005-3_42.jpeg");
  dir_.Write("images/20200609_143005-4_42.jpeg", "prise par un autre module");
  EXPECT_EQ(pictures.TelechargerImage(url, "42"),
            folder.string() + kSep + "20200609_143005-5_42.jpeg");
  clock_.now.second = 6;
  EXPECT_EQ(pictures.TelechargerImage(url, "42"),
            folder.string() + kSep + "20200609_143006_42.jpeg");
  EXPECT_EQ(lumivane::testing::ReadFile(folder / "20200609_143005_42.jpeg"),
            "ancienne image d'un autre lancement");
  EXPECT_EQ(lumivane::testing::ReadFile(folder / "20200609_143005-4_42.jpeg"),
            "prise par un autre module");
  EXPECT_EQ(Files(folder).size(), 7u);  // and this run's private folder
  // A failed retrieval removes its own pictures only.
  pictures.RemoveStoredPictures();
  EXPECT_EQ(Files(folder),
            (std::vector<std::string>{"20200609_143005-4_42.jpeg", "20200609_143005_42.jpeg"}));
}

TEST_F(PicturesTest, HostileQuoteNumbersStayInsideTheFolder) {
  const fs::path folder = dir_.Path() / "images";
  PictureDownloader pictures = Downloader(folder.string());
  const std::string url = server_.Url("/image.png");
  clock_.now.second = 1;
  EXPECT_EQ(pictures.TelechargerImage(url, "../x"),
            folder.string() + kSep + "20200609_143001_.._x.jpeg");
  clock_.now.second = 2;
  EXPECT_EQ(pictures.TelechargerImage(url, "a/b"),
            folder.string() + kSep + "20200609_143002_a_b.jpeg");
  clock_.now.second = 3;
  EXPECT_EQ(pictures.TelechargerImage(url, "C:\\x"),
            folder.string() + kSep + "20200609_143003_C__x.jpeg");
  pictures.HandOver();
  EXPECT_EQ(Files(folder).size(), 3u);
  EXPECT_EQ(Files(dir_.Path()), std::vector<std::string>{"images"});
}

// A quote number of 5,000 characters still gives names a file system takes:
// at most 150 bytes, the number's start kept, never a character cut in two,
// the "-2" rule unchanged.
TEST_F(PicturesTest, LongQuoteNumbersGiveNamesOfAtMost150Bytes) {
  const fs::path folder = dir_.Path() / "images";
  PictureDownloader pictures = Downloader(folder.string());
  const std::string numero = "\xC3\xA9" + std::string(4998, '7');  // "é777…"
  const auto first = pictures.TelechargerImage(server_.Url("/image.png"), numero);
  const auto second = pictures.TelechargerImage(server_.Url("/image.png"), numero);
  ASSERT_TRUE(first && second);
  // The names as the module gives them (UTF-8 on every system).
  const std::string a = first->substr(first->find_last_of("/\\") + 1);
  const std::string b = second->substr(second->find_last_of("/\\") + 1);
  EXPECT_EQ(a, "20200609_143005_\xC3\xA9" + std::string(127, '7') + ".jpeg");
  EXPECT_EQ(b, "20200609_143005-2_\xC3\xA9" + std::string(125, '7') + ".jpeg");
  pictures.HandOver();
  EXPECT_EQ(Files(folder), (std::vector<std::string>{b, a}));

  EXPECT_EQ(lumivane::quote::PictureFileName("s", "", std::string(148, 'x') + "\xC3\xA9"),
            "s_" + std::string(143, 'x') + ".jpeg");
  EXPECT_EQ(lumivane::quote::PictureFileName("s", "", "\xE2\x82\xAC\xE2\x82\xAC").size(), 13u);
}

// An executable whose folder cannot be found stores no picture anywhere else
// (not at the root), and says so.
TEST_F(PicturesTest, NoFolderIsAnErrorBeforeAnyDownload) {
  PictureDownloader pictures = Downloader("");
  try {
    pictures.TelechargerImage(server_.Url("/image.png"), "42");
    FAIL() << "no error";
  } catch (const lumivane::platform::FileError& e) {
    EXPECT_THAT(std::string(e.what()), HasSubstr("introuvable")) << e.what();
  }
}

// All pictures come at once, in whatever order the server sends them; their
// names follow the lines' order all the same, a picture used twice is fetched
// once and gives two files, and a transient failure is tried once more.
TEST_F(PicturesTest, DownloadedTogetherNamedInLineOrder) {
  const fs::path folder = dir_.Path() / "images";
  PictureDownloader pictures = Downloader(folder.string());
  std::vector<std::string> urls;
  for (int n = 1; n <= 7; ++n) urls.push_back(server_.Url("/lente/" + std::to_string(n)));
  urls.push_back(urls[0]);
  urls.push_back(server_.Url("/capricieuse.jpeg"));
  std::vector<std::size_t> progress;
  pictures.SetProgress([&](std::size_t done, std::size_t total) {
    EXPECT_EQ(total, 8u);
    progress.push_back(done);
  });
  pictures.Prefetch(urls);
  EXPECT_EQ(progress, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  // In this run's private folder only, until the lines claim them.
  ASSERT_EQ(Files(folder).size(), 1u);
  EXPECT_EQ(Files(folder / Files(folder)[0]).size(), 9u);  // and the file it holds

  std::vector<std::string> names;
  for (const std::string& url : urls) {
    const auto path = pictures.TelechargerImage(url, "42");
    ASSERT_TRUE(path) << url;
    names.push_back(fs::path(*path).filename().string());
  }
  pictures.Sync();
  pictures.HandOver();
  EXPECT_EQ(names[0], "20200609_143005_42.jpeg");
  for (std::size_t i = 1; i < names.size(); ++i) {
    EXPECT_EQ(names[i], "20200609_143005-" + std::to_string(i + 1) + "_42.jpeg");
  }
  for (int n = 1; n <= 7; ++n) {
    EXPECT_EQ(lumivane::testing::ReadFile(folder / names[n - 1]), "image " + std::to_string(n));
  }
  EXPECT_EQ(lumivane::testing::ReadFile(folder / names[7]), "image 1");
  EXPECT_EQ(lumivane::testing::ReadFile(folder / names[8]), "enfin");
  EXPECT_EQ(capricieuse_.load(), 2);
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(Files(folder).size(), 9u);  // no temporary file left
}

// "Annuler" during the downloads, some bodies arriving: they stop at once,
// and the folder is left as it was.
TEST_F(PicturesTest, CancelledDownloadsLeaveTheFolderAsItWas) {
  const fs::path folder = dir_.Path() / "images";
  fs::create_directories(folder);
  dir_.Write("images/autre.jpeg", "d'avant");
  lumivane::base::CancellationToken cancel;
  const auto start = std::chrono::steady_clock::now();
  {
    PictureDownloader pictures = Downloader(folder.string());
    pictures.SetCancellation(&cancel);
    std::thread annuler([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      cancel.Cancel();
    });
    std::vector<std::string> urls{server_.Url("/image.png"), server_.Url("/bloquee.jpeg")};
    for (int i = 0; i < 4; ++i) urls.push_back(server_.Url("/goutte.jpeg?" + std::to_string(i)));
    EXPECT_THROW(pictures.Prefetch(urls), lumivane::base::OperationCancelled);
    annuler.join();
  }
  // Well before the server would have answered (10 s).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  released_ = true;
  // On Windows, transfers abandoned on their own threads may leave the run's
  // private folder behind them, with no picture: the next retrieval removes
  // it, once they have let go of their files.
  std::vector<std::string> left = Files(folder);
  ASSERT_LE(left.size(), 2u);
  if (left.size() == 2) {
    for (int i = 0; i < 50 && Files(folder / left[1]).size() > 1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    PictureDownloader next = Downloader(folder.string());
    next.Prefetch({server_.Url("/image.png")});
  }
  EXPECT_EQ(Files(folder), std::vector<std::string>{"autre.jpeg"});
}

// 1,500 pictured lines: never more files open than transfers in flight (on
// Linux, under an open-file limit far below the lines), every picture
// stored; of the 12 failures, 5 shown one by one, then one box for the rest.
TEST_F(PicturesTest, AHugeQuoteRetrievesWholeWithAHandfulOfFailureBoxes) {
#ifndef _WIN32
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &before), 0);
  rlimit lowered = before;
  lowered.rlim_cur = 256;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
#endif
  const fs::path folder = dir_.Path() / "images";
  std::vector<std::string> urls;
  for (int n = 1; n <= 1500; ++n) urls.push_back(server_.Url("/n/" + std::to_string(n)));
  std::size_t stored = 0;
  {
    PictureDownloader pictures = Downloader(folder.string());
    pictures.Prefetch(urls);
    for (std::size_t i = 0; i < urls.size(); ++i) {
      const auto path = pictures.TelechargerImage(urls[i], "42");
      if (!path) continue;
      ++stored;
      if (i % 100 == 7) {
        EXPECT_EQ(lumivane::testing::ReadFile(*path), "image " + std::to_string(i + 1));
      }
    }
    pictures.ReportRemainingFailures();
    pictures.HandOver();
  }
#ifndef _WIN32
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &before), 0);
#endif
  EXPECT_EQ(stored, 1488u);
  EXPECT_EQ(Files(folder).size(), 1488u);
  std::vector<std::string> expected(5, kPictureFailed);
  expected.push_back(lumivane::quote::RemainingFailuresMessage(7));
  EXPECT_EQ(messages_.shown, expected);
}

// Past the bound of a batch's bodies together, every transfer stops.
TEST_F(PicturesTest, TheBodiesOfOneBatchAreBoundedTogether) {
  const fs::path folder = dir_.Path() / "images";
  fs::create_directories(folder);
  std::vector<lumivane::http::FileDownload> downloads;
  for (int i = 0; i < 6; ++i) {
    downloads.push_back({server_.Url("/grande.jpeg?" + std::to_string(i)),
                         lumivane::platform::TemporaryPathIn(folder.string() + "/")});
  }
  lumivane::http::HttpSettings settings;
  settings.max_body_bytes = 1024 * 1024;
  EXPECT_THROW(lumivane::http::DownloadFiles(downloads, settings, 2, 200 * 1024, nullptr, {}),
               lumivane::http::DownloadsTooLarge);
  // Without the bound, the same batch arrives whole; a file already there is
  // never written over.
  for (auto& download : downloads) lumivane::platform::RemoveFile(download.path);
  dir_.Write("images/" + fs::path(downloads[0].path).filename().string(), "d'un autre");
  const auto results = lumivane::http::DownloadFiles(downloads, settings, 2, 0, nullptr, {});
  EXPECT_TRUE(results[0].file_error);
  EXPECT_EQ(lumivane::testing::ReadFile(downloads[0].path), "d'un autre");
  for (std::size_t i = 1; i < results.size(); ++i) EXPECT_TRUE(results[i].ok) << i;
}

// 45 lines naming one 50 MiB picture would write 45 files, past the 2 GiB a
// quote's pictures may take together: the retrieval stops before any copy,
// and nothing of it is left.
TEST_F(PicturesTest, APictureCountsAsOftenAsItsLinesNameIt) {
  const std::string big(lumivane::base::kMaxPictureBytes, 'j');
  server_.server().Get("/grosse.jpeg", [&big](const httplib::Request&, httplib::Response& res) {
    res.set_content(big, "image/jpeg");
  });
  const fs::path folder = dir_.Path() / "images";
  PictureDownloader pictures(folder.string(), clock_, "/", messages_);
  const std::vector<std::string> urls(45, server_.Url("/grosse.jpeg"));
  try {
    pictures.Prefetch(urls);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(error.what(), lumivane::quote::PicturesTooLargeMessage());
  }
  pictures.RemoveStoredPictures();
  EXPECT_TRUE(Files(folder).empty());
}

TEST_F(PicturesTest, OnlyAnAnswerHoldingAPictureIsStored) {
  const std::vector<PictureAnswer>& cases = kPictureAnswers;
  const fs::path folder = dir_.Path() / "images";
  fs::create_directories(folder);
  std::vector<lumivane::http::FileDownload> downloads;
  for (const PictureAnswer& c : cases) {
    downloads.push_back({server_.Url("/reponse/" + c.name),
                         lumivane::platform::TemporaryPathIn(folder.string() + "/")});
  }
  lumivane::http::HttpSettings settings;
  settings.max_body_bytes = 1024 * 1024;
  const auto results = lumivane::http::DownloadFiles(downloads, settings, 4, 0, nullptr, {});
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const PictureAnswer& c = cases[i];
    EXPECT_EQ(results[i].ok, c.error.empty()) << c.name;
    EXPECT_EQ(results[i].status, c.status) << c.name;
    EXPECT_EQ(results[i].error, c.error.empty() ? "" : c.error + " : " + downloads[i].url)
        << c.name;
    if (c.error.empty()) {
      EXPECT_EQ(lumivane::testing::ReadFile(downloads[i].path), c.body) << c.name;
    }
  }
}

TEST_F(PicturesTest, FolderThatCannotBeCreatedIsAnErrorNamingIt) {
  dir_.Write("fichier", "pas un dossier");
  const std::string folder = (dir_.Path() / "fichier" / "images").string() + "/";
  PictureDownloader pictures = Downloader(folder);
  try {
    pictures.TelechargerImage(server_.Url("/image.png"), "42");
    FAIL() << "no error";
  } catch (const lumivane::platform::FileError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Impossible de créer le dossier des images " + folder, 0),
              0u)
        << e.what();
  }
  EXPECT_TRUE(messages_.shown.empty());
}

TEST(TimeStamp, TwoDigitFieldsTwentyFourHourClockAndSeparators) {
  EXPECT_EQ(TimeStamp({2020, 6, 9, 9, 5, 3}, "/"), "20200609_090503");
  EXPECT_EQ(TimeStamp({2020, 12, 31, 21, 5, 3}, "/"), "20201231_210503");
  EXPECT_EQ(TimeStamp({2020, 6, 9, 0, 0, 0}, "-"), "2020-06-09_000000");
  EXPECT_EQ(TimeStamp({987, 1, 2, 23, 59, 59}, "."), "0987.01.02_235959");
}

TEST(NumberForFileName, ReplacesWhatNoFileNameCanHold) {
  EXPECT_EQ(NumberForFileName("D-2020.42 \xC3\xA9"), "D-2020.42 \xC3\xA9");
  EXPECT_EQ(NumberForFileName("\\/:*?\"<>|"), "_________");
  EXPECT_EQ(NumberForFileName(std::string("a\tb\x7F\x1F", 5) + '\0'), "a_b___");
}

// The date format of the C library's locales (Linux).
TEST(DateSeparator, FirstCharacterBetweenTheConversions) {
  EXPECT_EQ(DateSeparatorFromFormat("%d/%m/%Y"), "/");
  EXPECT_EQ(DateSeparatorFromFormat("%Y-%m-%d"), "-");
  EXPECT_EQ(DateSeparatorFromFormat("%d.%m.%Y"), ".");
  EXPECT_EQ(DateSeparatorFromFormat("%D"), "/");
  EXPECT_EQ(DateSeparatorFromFormat("%F"), "-");
  EXPECT_EQ(DateSeparatorFromFormat("%-d.%-m.%Y"), ".");
  EXPECT_EQ(DateSeparatorFromFormat("%x"), "/");
  EXPECT_EQ(DateSeparatorFromFormat(""), "/");
}

#ifndef _WIN32
// Under the C locale (Linux) the date format is %m/%d/%y.
TEST(DateSeparator, CLocaleGivesTheSlash) {
  const char* before = std::getenv("LC_ALL");
  const std::string saved = before != nullptr ? before : "";
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(lumivane::platform::SystemDateSeparator(), "/");
  if (before != nullptr) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
}
#endif

}  // namespace
