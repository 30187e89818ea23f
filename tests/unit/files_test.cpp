#include "platform/files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "process.h"
#include "temp_dir.h"

namespace fs = std::filesystem;
using lumivane::platform::FileError;
using lumivane::platform::FileExists;
using lumivane::platform::ReadFileBytes;
using lumivane::platform::ReplaceFileContents;

namespace {

using ::testing::HasSubstr;

class FilesTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  static void WriteDirect(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }

  std::vector<std::string> Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }

  const lumivane::testing::TempDir temp_;
  const fs::path& dir_ = temp_.Path();
};

TEST_F(FilesTest, ReplacesWholeContentWithExactBytesAndLeavesNoTemporaryFile) {
  const std::string path = Path("echange.xml");
  const std::string binary("a\0b\r\n\xE9\xFF", 7);
  ReplaceFileContents(path, binary);
  EXPECT_EQ(ReadFileBytes(path), binary);

  // A shorter content replaces a longer one entirely: no tail is left.
  WriteDirect(path, std::string(5000, 'x'));
  ReplaceFileContents(path, "court");
  EXPECT_EQ(ReadFileBytes(path), "court");

  ReplaceFileContents(path, "");
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(Entries(), std::vector<std::string>{"echange.xml"});
}

// The host's file keeps its mode; one the host made read-only is never
// replaced, whoever runs the module (root too), with the usual message.
TEST_F(FilesTest, TheHostsFileKeepsItsModeAndAReadOnlyOneIsRefused) {
  const std::string path = Path("echange.xml");
  WriteDirect(path, "avant");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ReplaceFileContents(path, "après");
  EXPECT_EQ(ReadFileBytes(path), "après");
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  try {
    ReplaceFileContents(path, "jamais");
    ADD_FAILURE() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Impossible d'écrire le fichier " + path + " : accès refusé (code 13)");
  }
  EXPECT_EQ(ReadFileBytes(path), "après");
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_EQ(Entries(), std::vector<std::string>{"echange.xml"});
}

TEST_F(FilesTest, FailedWriteLeavesEarlierFileExactlyAsItWas) {
  const std::string path = Path("echange.xml");
  const std::string earlier = "<?xml version=\"1.0\"?><Configurateur/>\r\n";
  WriteDirect(path, earlier);

  // The child may write at most 4 KiB per file: the 1 MiB text cannot be
  // written, the write fails half-way through.
  lumivane::testing::Process child = lumivane::testing::Process::Fork([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      ReplaceFileContents(path, std::string(1 << 20, 'y'));
    } catch (const FileError& e) {
      std::fputs(e.what(), stdout);
      return 0;
    }
    return 1;
  });
  EXPECT_EQ(child.WaitForExit(lumivane::testing::kWait), 0) << "1: no error, 125: another error";
  EXPECT_THAT(child.Stdout(), HasSubstr(path));
  EXPECT_EQ(ReadFileBytes(path), earlier);
  EXPECT_EQ(Entries(), std::vector<std::string>{"echange.xml"});
}

TEST_F(FilesTest, TargetInMissingFolderThrowsNamingTheFile) {
  const std::string path = Path("absent/echange.xml");
  try {
    ReplaceFileContents(path, "x");
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_THAT(std::string(e.what()), HasSubstr(path)) << e.what();
  }
  EXPECT_FALSE(fs::exists(dir_ / "absent"));
}

TEST_F(FilesTest, ReadingAndExistence) {
  const std::string path = Path("config.ini");
  WriteDirect(path, "[General]\n");
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(Path("absent.ini")));
  EXPECT_FALSE(FileExists(dir_.string()));  // a folder is not a file
  EXPECT_FALSE(FileExists(""));
  EXPECT_THROW(ReadFileBytes(Path("absent.ini")), FileError);
}

// Paths are bytes: a name that is not UTF-8 names exactly that file, and the
// reasons a write fails are given in French with the system's code.
TEST_F(FilesTest, PathsAreBytesAndReasonsAreFrench) {
  const std::string latin1 = Path(
      "\xE9"
      "change.xml");
  ReplaceFileContents(latin1, "x");
  EXPECT_EQ(Entries(), std::vector<std::string>{"\xE9"
                                                "change.xml"});
  EXPECT_EQ(ReadFileBytes(latin1), "x");
  EXPECT_TRUE(FileExists(latin1));

  const std::pair<std::string, std::string> failures[] = {
      {Path("absent/echange.xml"), "fichier ou dossier introuvable (code 2)"},
      {Path(std::string(300, 'n')), "nom de fichier trop long (code 36)"},
      {Path("\xE9"
            "change.xml/x"),
       "un élément du chemin n'est pas un dossier (code 20)"},
  };
  for (const auto& [path, reason] : failures) {
    try {
      ReplaceFileContents(path, "x");
      ADD_FAILURE() << "no error for " << path;
    } catch (const FileError& e) {
      EXPECT_THAT(std::string(e.what()), HasSubstr(reason)) << e.what();
    }
  }
}

}  // namespace
