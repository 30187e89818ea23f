// One module's pictures as a process of its own, for the tests of modules
// sharing a pictures folder. A fresh program rather than a fork of the test:
// a fork taken while the test's HTTP server thread holds an allocator lock
// deadlocks the child.
//
//   picture_module FOLDER EXCHANGE [--precharger] [--signaler PATH]
//                  [--attendre PATH] [--ensuite supprimer|remettre|echange|rester] URL...
//
// Preloads the URLs (--precharger), names each of them as line 42's picture
// and prints the stored names, one a line, then "nomme"; creates the
// --signaler file, waits up to a minute for the --attendre file, then does
// the --ensuite step. "rester" prints "pret" and waits to be killed.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "quote/pictures.h"
#include "recorders.h"
#include "temp_dir.h"

namespace {

using ::lumivane::testing::FixedClock;
using ::lumivane::testing::RecorderMessages;

namespace fs = std::filesystem;

struct Options {
  std::string folder, exchange, signal, wait_for, then;
  bool preload = false;
  std::vector<std::string> urls;
};

bool Parse(int argc, char** argv, Options& options) {
  if (argc < 3) return false;
  options.folder = argv[1];
  options.exchange = argv[2];
  for (int i = 3; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool operand = i + 1 < argc;
    if (arg == "--precharger") {
      options.preload = true;
    } else if (arg == "--signaler" && operand) {
      options.signal = argv[++i];
    } else if (arg == "--attendre" && operand) {
      options.wait_for = argv[++i];
    } else if (arg == "--ensuite" && operand) {
      options.then = argv[++i];
    } else if (arg.starts_with("--")) {
      return false;
    } else {
      options.urls.push_back(arg);
    }
  }
  return true;
}

bool WaitFor(const fs::path& path) {
  for (int i = 0; i < 1200 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return fs::exists(path);
}

int Run(const Options& options) {
  FixedClock clock;
  RecorderMessages messages;
  lumivane::quote::PictureDownloader pictures(options.folder, clock, "/", messages);
  if (options.preload) pictures.Prefetch(options.urls);
  for (const std::string& url : options.urls) {
    std::cout << pictures.TelechargerImage(url, "42").value_or("") << '\n';
  }
  std::cout << "nomme" << std::endl;
  if (!options.signal.empty()) lumivane::testing::WriteFile(options.signal, "");
  if (!options.wait_for.empty() && !WaitFor(options.wait_for)) return 3;
  if (options.then == "supprimer") {
    pictures.RemoveStoredPictures();
  } else if (options.then == "remettre") {
    pictures.HandOver();
  } else if (options.then == "echange") {
    lumivane::platform::ReplaceFileContents(options.exchange, "<x/>");
  }
  if (options.then == "rester" || options.then == "echange") {
    std::cout << "pret" << std::endl;
    for (;;) ::pause();
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: picture_module FOLDER EXCHANGE [options] URL...\n");
    return 2;
  }
  return Run(options);
}
