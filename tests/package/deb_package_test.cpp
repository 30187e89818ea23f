// The Debian package as a user gets it: made by cpack from this build,
// unpacked into a scratch root (dpkg-deb -x), its module run by an ordinary
// user through the whole road against the sandbox. The module sits in a
// root-owned usr/bin where that user cannot create images/, so the pictures
// must land in the user's own data folder.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "module_run.h"
#include "process.h"
#include "sandbox.h"
#include "temp_dir.h"
#include "xvfb_display.h"

namespace lumivane::testing {
namespace {

using ::testing::HasSubstr;

namespace fs = std::filesystem;

const char* const kConfiguration =
    "[General]\nVersion=1\nConfigurateur=lumivane\n\n"
    "[Utilisateur]\nIdentifiant=demo@lumivane.test\nMotDePasse=demo\n";

// The unprivileged user the module runs as (Debian's nobody / nogroup).
constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

Completed RunTool(const std::vector<std::string>& argv, Duration timeout = 60s) {
  auto done = RunToEnd(argv, {}, timeout);
  if (!done) throw std::runtime_error(argv.at(0) + " did not finish");
  return *done;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Gives `folder` and everything in it to the unprivileged user.
void GiveToNobody(const fs::path& folder) {
  ASSERT_EQ(::chown(folder.c_str(), kNobody, kNogroup), 0) << folder;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), kNobody, kNogroup), 0) << entry.path();
  }
}

class DebPackage : public ::testing::Test {
 protected:
  // One package for the test program: cpack runs once.
  static void SetUpTestSuite() {
    output_ = new TempDir();
    auto made = RunToEnd({LUMIVANE_CPACK, "-G", "DEB", "--config", LUMIVANE_CPACK_CONFIG, "-B",
                          output_->Path().string()},
                         {}, 180s);
    if (!made || made->exit_code != 0) {
      cpack_failure_ = made ? made->out + made->err : "cpack did not finish in 180 s";
      return;
    }
    for (const auto& entry : fs::directory_iterator(output_->Path())) {
      if (entry.path().extension() == ".deb") package_ = entry.path();
    }
  }
  static void TearDownTestSuite() {
    delete output_;
    output_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(cpack_failure_.empty()) << cpack_failure_;
    ASSERT_FALSE(package_.empty()) << "cpack made no .deb in " << output_->Path();
  }

  std::string Field(const std::string& name) const {
    auto field = RunTool({"dpkg-deb", "-f", package_.string(), name});
    EXPECT_EQ(field.exit_code, 0) << field.err;
    while (!field.out.empty() && field.out.back() == '\n') field.out.pop_back();
    return field.out;
  }

  static inline TempDir* output_ = nullptr;
  static inline fs::path package_;
  static inline std::string cpack_failure_;
};

TEST_F(DebPackage, HoldsTheModuleAndItsGuideWithComputedDependencies) {
  EXPECT_EQ(Field("Package"), "module-lumivane");
  EXPECT_EQ(Field("Version"), LUMIVANE_VERSION);
  // dpkg-shlibdeps found the libraries the module links.
  const std::string depends = Field("Depends");
  for (const char* library : {"libqt6widgets6", "libqt6gui6", "libqt6core6", "libcurl4",
                              "libpugixml1v5", "libc6", "ca-certificates"}) {
    EXPECT_THAT(depends, HasSubstr(library)) << library << " not in: " << depends;
  }

  auto listing = RunTool({"dpkg-deb", "--contents", package_.string()});
  ASSERT_EQ(listing.exit_code, 0) << listing.err;
  std::vector<std::string> files;
  for (const auto& line : Lines(listing.out)) {
    if (line.empty() || line[0] == 'd') continue;  // folders
    files.push_back(line.substr(line.rfind(' ') + 1));
  }
  EXPECT_EQ(files, (std::vector<std::string>{"./usr/bin/Module_Lumivane",
                                             "./usr/share/doc/module-lumivane/README.md",
                                             "./usr/share/doc/module-lumivane/changelog.gz",
                                             "./usr/share/doc/module-lumivane/copyright",
                                             "./usr/share/doc/module-lumivane/docs/window.png",
                                             "./usr/share/man/man1/Module_Lumivane.1.gz"}))
      << listing.out;
}

// Debian's own checker finds no error and no warning; its informational
// tags (hardening, spelling of French words) are not asked for.
TEST_F(DebPackage, PassesLintian) {
  auto lintian = RunToEnd({"lintian", "--no-tag-display-limit", package_.string()}, {}, 180s);
  if (!lintian) FAIL() << "lintian did not finish in 180 s";
  if (lintian->exit_code == 127) {
    GTEST_SKIP() << "lintian is missing (scripts/setup installs it)";
  }
  std::vector<std::string> findings;
  for (const auto& line : Lines(lintian->out)) {
    if (line.rfind("E: ", 0) == 0 || line.rfind("W: ", 0) == 0) findings.push_back(line);
  }
  EXPECT_TRUE(findings.empty()) << lintian->out << lintian->err;
  // The changelog's newest entry is this version.
  auto changelog = RunTool({"sh", "-c",
                            "dpkg-deb --fsys-tarfile '" + package_.string() +
                                "' | tar -xOf - ./usr/share/doc/module-lumivane/changelog.gz | "
                                "gzip -dc | head -n 1"});
  EXPECT_EQ(changelog.out,
            std::string("module-lumivane (") + LUMIVANE_VERSION + ") unstable; urgency=medium\n");
}

TEST_F(DebPackage, InstalledModuleRunByAnOrdinaryUserPutsThePicturesInItsDataFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the module as another user";
  TempDir root;
  ASSERT_EQ(::chmod(root.Path().c_str(), 0755), 0);
  auto unpacked = RunTool({"dpkg-deb", "-x", package_.string(), root.Path().string()});
  ASSERT_EQ(unpacked.exit_code, 0) << unpacked.err;
  const fs::path installed = root.Path() / "usr/bin/Module_Lumivane";
  ASSERT_TRUE(fs::exists(installed));

  Sandbox sandbox;
  ModuleOptions options;
  options.config = kConfiguration;
  options.gateway_url = options.quote_service_url = sandbox.BaseUrl();
  ModuleRun run(SharedDisplay(), options);
  const fs::path home = run.Folder() / "home";
  fs::create_directories(home);
  ASSERT_NO_FATAL_FAILURE(GiveToNobody(run.Folder()));
  ASSERT_EQ(::chmod(run.Folder().c_str(), 0755), 0);

  // setpriv and env exec the module: the process id stays the module's.
  run.StartCommand({"setpriv", "--reuid=" + std::to_string(kNobody),
                    "--regid=" + std::to_string(kNogroup), "--clear-groups", "env", "-u",
                    "XDG_DATA_HOME", "HOME=" + home.string(), installed.string(),
                    run.ExchangePath().string(), run.ConfigPath().string()});
  ASSERT_TRUE(run.WaitForBrowser()) << run.Diagnostics();
  ASSERT_TRUE(run.ClickRecuperer());
  ASSERT_EQ(run.WaitForExit(), 0) << run.Diagnostics();
  EXPECT_TRUE(run.Messages().empty()) << run.Diagnostics();

  // The sandbox's sample quote: two lines with a picture, one without.
  auto exchange = run.ExchangeBytes();
  ASSERT_TRUE(exchange) << run.Diagnostics();
  const fs::path pictures = home / ".local/share/lumivane/images";
  std::vector<std::string> images;
  const std::regex image("<Image>([^<]*)</Image>");
  for (std::sregex_iterator it(exchange->begin(), exchange->end(), image), end; it != end; ++it) {
    images.push_back((*it)[1]);
  }
  ASSERT_EQ(images.size(), 3u) << *exchange;
  EXPECT_EQ(images[2], "");
  for (const std::string& path : {images[0], images[1]}) {
    EXPECT_EQ(fs::path(path).parent_path(), pictures) << *exchange;
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0) << path;
    EXPECT_EQ(info.st_uid, kNobody) << path;
    EXPECT_GT(info.st_size, 0) << path;
  }
  EXPECT_FALSE(fs::exists(installed.parent_path() / "images"));
}

}  // namespace
}  // namespace lumivane::testing
