#include "config/configuration.h"
#include "recorders.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane::config {
namespace {

using ::lumivane::testing::RecorderMessages;

namespace fs = std::filesystem;

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() /
              ("lumivane-config-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
    path_ = (folder_ / "config.ini").string();
  }
  void TearDown() override { fs::remove_all(folder_); }

  void Write(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good());
  }

  // Loads the file; fails the test when it reports the file missing.
  Configuration Load(Configuration start = {}) {
    EXPECT_FALSE(ChargerConfiguration(path_, start, messages_));
    EXPECT_TRUE(messages_.shown.empty());
    return start;
  }

  fs::path folder_;
  std::string path_;
  RecorderMessages messages_;
};

std::string Utf16Bytes(std::u16string_view text, bool bigEndian) {
  std::string bytes;
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

const std::string kFull =
    "[General]\r\nVersion=1\r\nConfigurateur=lumivane\r\n"
    "[Utilisateur]\r\nIdentifiant=marie@exemple.fr\r\nMotDePasse=secret\r\n"
    "[Update]\r\nDevisId=D-42\r\n";

TEST_F(ConfigurationTest, MissingFileShowsTheMessageAndChangesNothing) {
  Configuration fields{"7", "autre", "a@b", "pw", "J"};
  EXPECT_TRUE(ChargerConfiguration(path_, fields, messages_));
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0], "Le configurateur Lumivane n'est pas configuré. Le fichier : " +
                                    path_ + " n'existe pas.");
  EXPECT_EQ(fields.Version, "7");
  EXPECT_EQ(fields.Configurateur, "autre");
  EXPECT_EQ(fields.Identifiant, "a@b");
  EXPECT_EQ(fields.MotDePasse, "pw");
  EXPECT_EQ(fields.JetonPasserelle, "J");

  // A folder at the path is no configuration file either.
  fs::create_directory(path_);
  EXPECT_TRUE(ChargerConfiguration(path_, fields, messages_));
  EXPECT_EQ(messages_.shown.size(), 2u);
}

TEST_F(ConfigurationTest, EmptyPathGivesTwoBlanksInTheMessage) {
  Configuration fields;
  EXPECT_TRUE(ChargerConfiguration("", fields, messages_));
  ASSERT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(messages_.shown[0],
            "Le configurateur Lumivane n'est pas configuré. Le fichier :  n'existe pas.");
}

TEST_F(ConfigurationTest, EmptyFileGivesTheDefaults) {
  Write("");
  const auto fields = Load({"9", "x", "y", "z", "w"});
  EXPECT_EQ(fields.Version, "0");
  EXPECT_EQ(fields.Configurateur, "");
  EXPECT_EQ(fields.Identifiant, "");
  EXPECT_EQ(fields.MotDePasse, "");
  EXPECT_EQ(fields.JetonPasserelle, "");
}

TEST_F(ConfigurationTest, ReadsTheFiveValuesAndResetsAKeyThatDisappears) {
  Write(kFull);
  auto fields = Load();
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.Configurateur, "lumivane");
  EXPECT_EQ(fields.Identifiant, "marie@exemple.fr");
  EXPECT_EQ(fields.MotDePasse, "secret");
  EXPECT_EQ(fields.JetonPasserelle, "D-42");

  // Second load: Update section and Version gone, the others kept.
  Write("[General]\nConfigurateur=lumivane\n[Utilisateur]\nIdentifiant=x\nMotDePasse=y\n");
  fields = Load(fields);
  EXPECT_EQ(fields.Version, "0");
  EXPECT_EQ(fields.JetonPasserelle, "");
  EXPECT_EQ(fields.Identifiant, "x");

  // Third load after the file is deleted: message, fields as they were.
  fs::remove(path_);
  const auto before = fields;
  EXPECT_TRUE(ChargerConfiguration(path_, fields, messages_));
  EXPECT_EQ(messages_.shown.size(), 1u);
  EXPECT_EQ(fields.Version, before.Version);
  EXPECT_EQ(fields.Configurateur, before.Configurateur);
  EXPECT_EQ(fields.Identifiant, before.Identifiant);
  EXPECT_EQ(fields.MotDePasse, before.MotDePasse);
}

TEST_F(ConfigurationTest, ValuesAreTextAsWritten) {
  Write(
      "[General]\nVersion=1.0\nConfigurateur=\n"
      "[Utilisateur]\n"
      "MotDePasse=Ch@ssis&Volets ;2026# \"x\"\n");
  const auto fields = Load();
  EXPECT_EQ(fields.Version, "1.0");
  EXPECT_EQ(fields.Configurateur, "");
  // An inline ";" and "#" belong to the value, and so do quotes that do not
  // surround it.
  EXPECT_EQ(fields.MotDePasse, "Ch@ssis&Volets ;2026# \"x\"");
}

// What the Windows INI reader does and the hosts' files rely on; the Windows
// suite holds the reader to GetPrivateProfileString on a whole corpus.
TEST(LireConfigurationTest, FollowsTheWindowsReader) {
  // One pair of matching quotes around the value, after its blanks, goes.
  auto fields = LireConfiguration(
      "[General]\nVersion=\"1\"\nConfigurateur= 'lumivane' \n"
      "[Utilisateur]\nMotDePasse=\"\"mot de passe\" \"\nIdentifiant=\"a@b.fr'\n"
      "[Update]\nDevisId=\"\n");
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.Configurateur, "lumivane");
  EXPECT_EQ(fields.MotDePasse, "\"mot de passe\" ");
  EXPECT_EQ(fields.Identifiant, "\"a@b.fr'");
  EXPECT_EQ(fields.JetonPasserelle, "\"");

  // Only the first section of a name is read; a key line without "=" is the
  // key without a value, which gives its default; Ctrl-Z is a blank.
  fields = LireConfiguration(
      "[General]\nVersion\nVersion=1\n[Utilisateur]\nIdentifiant=\x1A premier\x1A\n"
      "MotDePasse \nMotDePasse=pw\n[general]\nConfigurateur=second\n"
      "[UTILISATEUR]\nIdentifiant=second\n[Update]x]\nDevisId=D\n[Update] ; c\nDevisId=E\n");
  EXPECT_EQ(fields.Version, "0");
  EXPECT_EQ(fields.Configurateur, "");
  EXPECT_EQ(fields.Identifiant, "premier");
  EXPECT_EQ(fields.MotDePasse, "");
  EXPECT_EQ(fields.JetonPasserelle, "E");

  // A name or a value ends at a NUL; the line goes on after it.
  using namespace std::string_literals;
  fields = LireConfiguration(
      "[General]\nVersion=1\0002\nConfigurateur=\"ab\"\0cd\n[Util\0x]\nMotDePasse=a\n"
      "[Utilisateur]\nIdentifiant\0=x\nMotDePasse= \0 y\n"s);
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.Configurateur, "ab");
  EXPECT_EQ(fields.Identifiant, "x");
  EXPECT_EQ(fields.MotDePasse, "");
}

TEST_F(ConfigurationTest, NamesIgnoreCaseAndBlanksAndTheFirstDuplicateWins) {
  Write(
      "Version=9\n"
      "; commentaire\n"
      "# autre commentaire\n"
      "  [ general ]  \n"
      "   VERSION   =   1   \n"
      "version=2\n"
      "[Utilisateur]\n"
      "Identifiant=premier\n"
      "MotDePasse: deux-points\n"
      "    MotDePasse = indenté = encore\n"
      "[General]\n"
      "Version=3\n"
      "ConfigURATEUR = second\n"
      "[UTILISATEUR]\n"
      "identifiant=second\n"
      ";MotDePasse=commenté\n"
      "[Update\n"
      "DevisId=sans-crochet\n");
  const auto fields = Load();
  // Keys before the first section, after a section line without "]" and in
  // "name: value" form belong to no section read here.
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.JetonPasserelle, "");
  // A second section of a name already seen is not read.
  EXPECT_EQ(fields.Configurateur, "");
  EXPECT_EQ(fields.Identifiant, "premier");
  // An indented line is a key line of its own; the value runs to the end.
  EXPECT_EQ(fields.MotDePasse, "indenté = encore");
}

TEST_F(ConfigurationTest, LongValueAndLongLinesAreReadWhole) {
  const std::string longValue(300, 'k');
  Write("[Utilisateur]\nIdentifiant=" + longValue + "\n; " + std::string(400, 'c') +
        "\nMotDePasse=" + longValue + "x\n[Update]\nDevisId=D1\n");
  auto fields = Load();
  EXPECT_EQ(fields.Identifiant, longValue);
  EXPECT_EQ(fields.MotDePasse, longValue + "x");
  EXPECT_EQ(fields.JetonPasserelle, "D1");

  // The "=" or the "]" far into the line, and a value of 100 000 bytes.
  const std::string pad(250, ' ');
  const std::string hugeValue(100000, 'h');
  Write("[" + pad + "Utilisateur" + pad + "]\nMotDePasse" + pad + "=" + pad + "secret\n" +
        "Identifiant=" + hugeValue + "\n[General]\n" + pad + "Version" + pad + "=1\n");
  fields = Load();
  EXPECT_EQ(fields.MotDePasse, "secret");
  EXPECT_TRUE(fields.Identifiant == hugeValue) << fields.Identifiant.size();
  EXPECT_EQ(fields.Version, "1");
}

TEST_F(ConfigurationTest, LinesEndWithLfCrLfOrCrAlone) {
  for (const std::string eol : {"\n", "\r\n", "\r"}) {
    Write("; commentaire" + eol + "[General]" + eol + "Version=1" + eol + "Configurateur=lumivane" +
          eol + eol + "[Utilisateur]" + eol + "Identifiant=a@b" + eol + "MotDePasse=pw");
    const auto fields = Load();
    EXPECT_EQ(fields.Version, "1") << ::testing::PrintToString(eol);
    EXPECT_EQ(fields.Configurateur, "lumivane") << ::testing::PrintToString(eol);
    EXPECT_EQ(fields.Identifiant, "a@b") << ::testing::PrintToString(eol);
    EXPECT_EQ(fields.MotDePasse, "pw") << ::testing::PrintToString(eol);
  }
  // Ends mixed in one file.
  Write("[General]\rVersion=1\r\nConfigurateur=x\n\r[Update]\r\rDevisId=D\r\n");
  const auto fields = Load();
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.Configurateur, "x");
  EXPECT_EQ(fields.JetonPasserelle, "D");
}

TEST_F(ConfigurationTest, EncodingsAreReadAsUtf8) {
  // Windows-1252: "Hélène" and "crème" with é = E9, è = E8.
  Write("[General]\r\nConfigurateur=H\xE9l\xE8ne\r\n[Utilisateur]\r\nMotDePasse=cr\xE8me\r\n");
  auto fields = Load();
  EXPECT_EQ(fields.Configurateur, "Hélène");
  EXPECT_EQ(fields.MotDePasse, "crème");

  Write("[General]\nConfigurateur=Hélène\n");
  fields = Load();
  EXPECT_EQ(fields.Configurateur, "Hélène");

  Write("\xEF\xBB\xBF[General]\nVersion=1\nConfigurateur=Hélène\n");
  fields = Load();
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.Configurateur, "Hélène");

  // UTF-16 with its byte-order mark, as Notepad writes "Unicode" files.
  const std::u16string text =
      u"\uFEFF[General]\r\nVersion=1\r\nConfigurateur=Hélène €\r\n"
      u"[Utilisateur]\r\nMotDePasse=\U0001F600 ok\r\n";
  for (const bool bigEndian : {false, true}) {
    Write(Utf16Bytes(text, bigEndian));
    fields = Load();
    EXPECT_EQ(fields.Version, "1") << bigEndian;
    EXPECT_EQ(fields.Configurateur, "Hélène €") << bigEndian;
    EXPECT_EQ(fields.MotDePasse, "😀 ok") << bigEndian;
  }
}

// Windows has no permission bits that keep the owner from reading a file.
#ifndef _WIN32
TEST_F(ConfigurationTest, UnreadableFileIsNamedAndClosesTheModule) {
  Write(kFull);
  fs::permissions(path_, fs::perms::none);
  // Root reads every file whatever its permissions; /proc/self/mem exists
  // but fails at its first read.
  const std::string path = ::geteuid() == 0 ? "/proc/self/mem" : path_;
  Configuration fields;
  EXPECT_TRUE(ChargerConfiguration(path, fields, messages_));
  EXPECT_EQ(messages_.shown, std::vector<std::string>{"Le fichier de configuration " + path +
                                                      " n'a pas pu être lu."});
}
#endif

TEST(LireConfigurationTest, ReadsBytesWithoutAFile) {
  const auto fields = LireConfiguration(kFull);
  EXPECT_EQ(fields.Version, "1");
  EXPECT_EQ(fields.MotDePasse, "secret");
  EXPECT_EQ(fields.JetonPasserelle, "D-42");
  // Fragments and lone marks give the defaults.
  for (const std::string& bytes :
       {std::string(), std::string("\0", 1), std::string("["), std::string("[]"), std::string("="),
        std::string("\r"), std::string("\xFF\xFE"), std::string("\xFE\xFF\xD8"),
        std::string("\xEF\xBB\xBF"), std::string("[General]\n=1")}) {
    const auto defaults = LireConfiguration(bytes);
    EXPECT_EQ(defaults.Version, "0") << ::testing::PrintToString(bytes);
    EXPECT_EQ(defaults.Configurateur + defaults.Identifiant + defaults.MotDePasse +
                  defaults.JetonPasserelle,
              "")
        << ::testing::PrintToString(bytes);
  }
}

TEST_F(ConfigurationTest, DevicesFifosAndFilesOverOneMebibyteAreUnreadable) {
  const auto expectUnreadable = [this](const std::string& path) {
    Configuration fields{"7", "autre", "a@b", "pw", "J"};
    messages_.shown.clear();
    // The module closes after the message, as for a missing file.
    EXPECT_TRUE(ChargerConfiguration(path, fields, messages_)) << path;
    EXPECT_EQ(messages_.shown, std::vector<std::string>{"Le fichier de configuration " + path +
                                                        " n'a pas pu être lu."});
    EXPECT_EQ(fields.Version, "7");
    EXPECT_EQ(fields.MotDePasse, "pw");
  };

  // Exactly 1 MiB is read; one byte more is refused.
  const std::string head = "[General]\nVersion=1\n;";
  const std::size_t mebibyte = 1024 * 1024;
  Write(head + std::string(mebibyte - head.size() - 1, 'c') + "\n");
  EXPECT_EQ(Load().Version, "1");
  Write(head + std::string(mebibyte - head.size(), 'c') + "\n");
  expectUnreadable(path_);

  // Devices and FIFOs are POSIX files.
#ifndef _WIN32
  expectUnreadable("/dev/zero");
  expectUnreadable("/dev/null");
  // A FIFO without a writer: opening it for reading would wait forever.
  const std::string fifo = (folder_ / "fifo.ini").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  expectUnreadable(fifo);
#endif
}

}  // namespace
}  // namespace lumivane::config
