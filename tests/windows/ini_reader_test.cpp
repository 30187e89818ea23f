// The configuration reader against the Windows INI reader that the hosts
// wrote their files for: every file of the corpus below is read by
// LireConfiguration and by GetPrivateProfileStringW, and each of the five
// values must come out the same, unless the difference is listed in
// kDeliberate with its reason.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "config/configuration.h"
#include "platform/windows/wide.h"
#include "temp_dir.h"

namespace lumivane::config {
namespace {

using namespace std::string_view_literals;
using lumivane::testing::TempDir;

// How a corpus text becomes the file's bytes: as written (ASCII, Windows-1252
// or any bytes), or the UTF-8 text behind a byte-order mark, in UTF-8 or
// UTF-16.
enum class Form { kBytes, kUtf8Bom, kUtf16Le, kUtf16Be };

struct IniFile {
  std::string_view name;
  Form form;
  std::string_view text;
};

// clang-format off
const IniFile kCorpus[] = {
  // Quotes.
  {"double quotes", Form::kBytes,
   "[General]\r\nVersion=\"1\"\r\nConfigurateur=\"lumivane\"\r\n[Utilisateur]\r\n"
   "Identifiant=\"a@b.fr\"\r\nMotDePasse=\"mot de passe\"\r\n[Update]\r\nDevisId=\"D-42\"\r\n"},
  {"single quotes", Form::kBytes,
   "[General]\r\nVersion='1'\r\nConfigurateur='lumivane'\r\n[Utilisateur]\r\n"
   "Identifiant='a@b.fr'\r\nMotDePasse='mot de passe'\r\n[Update]\r\nDevisId='D-42'\r\n"},
  {"quotes behind blanks, blanks inside quotes", Form::kBytes,
   "[General]\nVersion = \"1\" \t\nConfigurateur=\t' lumivane '\n[Utilisateur]\n"
   "Identifiant=\" \"\nMotDePasse=\"\"\n[Update]\nDevisId=''\n"},
  {"unmatched quotes", Form::kBytes,
   "[General]\nVersion=\"1\nConfigurateur=lumivane\"\n[Utilisateur]\nIdentifiant=\"a@b.fr'\n"
   "MotDePasse=\"\n[Update]\nDevisId='\n"},
  {"quotes inside values", Form::kBytes,
   "[General]\nVersion=\"\"1\"\"\nConfigurateur=\"a\"b\"\n[Utilisateur]\n"
   "MotDePasse=mot \"de\" passe\nIdentifiant=\"a\" ; x\n[Update]\nDevisId=`D`\n"},
  {"nested quotes", Form::kBytes,
   "[General]\nVersion='\"1\"'\nConfigurateur=\"'lumivane'\"\n[Utilisateur]\nMotDePasse=\"'\"\n"},
  {"quoted names", Form::kBytes,
   "[\"General\"]\nVersion=1\n[Utilisateur]\n\"MotDePasse\"=a\n'Identifiant'=b\n"},
  // Sections.
  {"section given twice", Form::kBytes,
   "[General]\nVersion=1\n[Utilisateur]\nIdentifiant=a\n[General]\nConfigurateur=second\n"
   "Version=2\n[Utilisateur]\nMotDePasse=x\n[Update]\nDevisId=D\n"},
  {"section given twice in another case", Form::kBytes,
   "[UTILISATEUR]\nIdentifiant=a\n[utilisateur]\nIdentifiant=b\nMotDePasse=c\n"
   "[General]\n[GENERAL]\nVersion=1\n"},
  {"blanks and tabs around section names", Form::kBytes,
   "[ General ]\nVersion=1\n[\tUtilisateur\t]\nMotDePasse=a\n  [Update]  \nDevisId=x\n"
   "\t[\x1AGeneral]\nConfigurateur=y\n"},
  {"text after the closing bracket", Form::kBytes,
   "[General] ; commentaire\nVersion=1\n[Utilisateur]]\nMotDePasse=a\n[Update]x]\nDevisId=x\n"
   "[Update] x\nDevisId=y\n"},
  {"brackets inside section names", Form::kBytes,
   "[Gen]eral]\nVersion=1\n[[General]]\nConfigurateur=x\n[Util[isateur]\nMotDePasse=a\n"},
  {"section line without closing bracket", Form::kBytes,
   "[General]\nVersion=1\n[Update\nDevisId=sans\n[Utilisateur]\n [Update\nMotDePasse=m\n"
   "[Update=x]\nIdentifiant=i\n"},
  {"keys before any section, empty section name", Form::kBytes,
   "Version=9\nMotDePasse=z\n[]\nVersion=8\n[ ]\nConfigurateur=q\n[General]\nConfigurateur=c\n"},
  {"comment lines", Form::kBytes,
   "[General]\n;Version=2\n  ; x\n#Version=3\n\t# y\nVersion=1 ;c\n[Utilisateur]\n"
   "#MotDePasse=h\nMotDePasse=a#b\n  ;Identifiant=z\nIdentifiant=i;j\n"},
  {"commented section lines", Form::kBytes,
   "[General]\nVersion=1\n;[Utilisateur]\nMotDePasse=a\n#[Update]\nDevisId=b\n"},
  {"names in any letter case", Form::kBytes,
   "[GENERAL]\nVERSION=1\nconfigurateur=x\n[uTiLiSaTeUr]\nmotdepasse=a\nIDENTIFIANT=i\n"
   "[update]\ndevisid=d\n"},
  {"look-alike letters in names", Form::kUtf16Le,
   "[General]\nVer\xC5\xBFion=1\nConfigurateur=a\n[Utilisateur]\n\xC4\xB0" "dentifiant=x\n"
   "MOTDEPASSE=m\n[\xC3\x9Cpdate]\nDevisId=u\n"},
  // Keys.
  {"key line without equals before the key", Form::kBytes,
   "[General]\nVersion\nVersion=1\nConfigurateur \nConfigurateur=x\n[Utilisateur]\n"
   "  MotDePasse  \nMotDePasse=pw\nIdentifiant\n[Update]\nDevisId\n"},
  {"key line without equals after the key", Form::kBytes,
   "[General]\nVersion=1\nVersion\n[Utilisateur]\nMotDePasse=pw\nMotDePasse\n"},
  {"blanks around names and the equals sign", Form::kBytes,
   "[General]\n \t Version \t = \t 1 \t \nConfigurateur= a b \n[Utilisateur]\n"
   "MotDePasse\t=\t\t\nIdentifiant = = x\n"},
  {"equals signs in values", Form::kBytes,
   "[General]\nVersion==1\nConfigurateur=a=b\n[Utilisateur]\nMotDePasse==\nIdentifiant=x==\n"},
  {"lines of an equals sign alone or an empty name", Form::kBytes,
   "[General]\n=\n=1\n= x\nVersion=1\n[Update]\n=1\n=2\nDevisId=x\n"},
  {"names with inner blanks or another separator", Form::kBytes,
   "[General]\nVer sion=2\nVersion 1\nVersion:1\n[Utilisateur]\nMot De Passe=x\n"
   "MotDePasse: y\nMotDePasse=z\n"},
  {"first of two identical keys", Form::kBytes,
   "[General]\nVersion=1\nversion=2\nVERSION=3\n[Utilisateur]\nMotDePasse=\nMotDePasse=b\n"},
  // Blanks.
  {"vertical tab, form feed and Ctrl-Z around values", Form::kBytes,
   "[General]\nVersion=\v1\f\nConfigurateur=\x1A" "lumivane\x1A\n[Utilisateur]\n"
   "\x1AMotDePasse\x1A=\x1A" "ab\x1A\nIdentifiant=\f\v a \v\f\n"},
  {"controls and no-break spaces around values", Form::kBytes,
   "[General]\nVersion=\xA0" "1\xA0\nConfigurateur=\x1Cx\x1F\n[Utilisateur]\n"
   "MotDePasse=\x01m\x7F\nIdentifiant=\x85i\x85\n"},
  {"Unicode blanks around values", Form::kUtf16Le,
   "[General]\nVersion=\xE3\x80\x80" "1\xE3\x80\x80\nConfigurateur=\xE2\x80\x83x\xE2\x80\x83\n"
   "[Utilisateur]\nMotDePasse=\xC2\x85m\xC2\x85\nIdentifiant=\xC2\xA0i\xC2\xA0\n"
   "[Update]\nDevisId=\xEF\xBB\xBF" "d\xEF\xBB\xBF\n"},
  {"values of blanks only", Form::kBytes,
   "[General]\nVersion=   \nConfigurateur=\t\n[Utilisateur]\nMotDePasse= \t \x1A\n"},
  // NUL.
  {"NUL inside values", Form::kBytes,
   "[General]\nVersion=1\0" "2\nConfigurateur=ab\0cd\n[Utilisateur]\nIdentifiant=x\0\n"
   "MotDePasse=\0y\n[Update]\nDevisId=\0\0\0\n"sv},
  {"NUL inside names", Form::kBytes,
   "[General]\nVer\0sion=5\nVersion\0=7\nVersion=1\n[Util\0isateur]\nMotDePasse=a\n"
   "[Update\0]\nDevisId=d\n"sv},
  {"NUL at line starts and after a section", Form::kBytes,
   "[General]\0\nVersion=1\n\0[Utilisateur]\nMotDePasse=a\n\0Identifiant=b\n"sv},
  {"NUL behind blanks and quotes", Form::kBytes,
   "[General \0 ]\nVersion=1\n[General]\nVersion= \0 1\nConfigurateur=\"a\"\0x\n"
   "[Utilisateur]\nMotDePasse=\"a\" \0\nIdentifiant= \0\n"sv},
  {"NUL in UTF-16", Form::kUtf16Le,
   "[General]\nVersion=1\0" "2\n[Utilisateur]\nMotDePasse=a\0b\n"sv},
  // Line ends.
  {"CR LF", Form::kBytes,
   "[General]\r\nVersion=1\r\nConfigurateur=lumivane\r\n\r\n[Utilisateur]\r\nIdentifiant=a@b\r\n"},
  {"LF", Form::kBytes, "[General]\nVersion=1\nConfigurateur=lumivane\n[Update]\nDevisId=D\n"},
  {"CR alone", Form::kBytes, "[General]\rVersion=1\rConfigurateur=x\r[Update]\rDevisId=D\r"},
  {"line ends mixed", Form::kBytes,
   "[General]\nVersion=1\rConfigurateur=x\n[Update]\r\nDevisId=D\r\r\n[Utilisateur]\n\rMotDePasse=m"},
  {"no line end at the end", Form::kBytes, "[General]\r\nVersion=1"},
  {"blank and empty lines", Form::kBytes,
   "\n\n  \n[General]\n\t\n\nVersion=1\n \n[Utilisateur]\n\n\nMotDePasse=m\n\n"},
  // Encodings.
  {"Windows-1252 letters", Form::kBytes,
   "[General]\nConfigurateur=H\xE9l\xE8ne \x80 \x8C\x9C \xFF\n[Utilisateur]\n"
   "MotDePasse=cr\xE8me br\xFBl\xE9" "e\n"},
  {"Windows-1252 bytes the code page leaves undefined", Form::kBytes,
   "[General]\nConfigurateur=\x81\x8D\x8F\x90\x9D\n"},
  {"Windows-1252 bytes that form UTF-8", Form::kBytes,
   "[General]\nConfigurateur=\xC3\xA9t\xC3\xA9\n[Utilisateur]\nMotDePasse=caf\xC3\xA9\n"},
  {"UTF-8 without byte-order mark", Form::kBytes,
   "[General]\nVersion=1\nConfigurateur=H\xC3\xA9l\xC3\xA8ne \xE2\x82\xAC\n[Utilisateur]\n"
   "MotDePasse=\xF0\x9F\x98\x80\n"},
  {"UTF-8 with byte-order mark", Form::kUtf8Bom,
   "[General]\nVersion=1\nConfigurateur=H\xC3\xA9l\xC3\xA8ne \xE2\x82\xAC\n[Utilisateur]\n"
   "MotDePasse=\"\xF0\x9F\x98\x80\"\nIdentifiant=\xE7\xAA\x93@\xE4\xBE\x8B.fr\n"},
  {"UTF-8 byte-order mark, then Windows-1252 bytes", Form::kBytes,
   "\xEF\xBB\xBF[General]\nVersion=1\nConfigurateur=H\xE9l\xE8ne\n"},
  {"two UTF-8 byte-order marks", Form::kBytes,
   "\xEF\xBB\xBF\xEF\xBB\xBF[General]\nVersion=1\n[Update]\nDevisId=D\n"},
  {"UTF-16 little-endian", Form::kUtf16Le,
   "[General]\r\nVersion=1\r\nConfigurateur=H\xC3\xA9l\xC3\xA8ne \xE2\x82\xAC\r\n[Utilisateur]\r\n"
   "MotDePasse=\"\xF0\x9F\x98\x80 \xE7\xAA\x93\"\r\n[Update]\r\nDevisId='D'\r\n"},
  {"UTF-16 big-endian", Form::kUtf16Be,
   "[General]\r\nVersion=1\r\nConfigurateur=H\xC3\xA9l\xC3\xA8ne \xE2\x82\xAC\r\n[Utilisateur]\r\n"
   "MotDePasse=\xF0\x9F\x98\x80\r\n"},
  {"UTF-16 byte-order mark inside values", Form::kUtf16Le,
   "[General]\nVersion=\xEF\xBB\xBF" "1\nConfigurateur=a\xEF\xBB\xBF" "b\n"},
  {"UTF-16 surrogates without their pair", Form::kBytes,
   "\xFF\xFE[\0G\0e\0n\0e\0r\0a\0l\0]\0\n\0V\0e\0r\0s\0i\0o\0n\0=\0" "1\0\n\0"
   "C\0o\0n\0f\0i\0g\0u\0r\0a\0t\0e\0u\0r\0=\0a\0\x00\xD8" "b\0\x00\xDC\n\0"sv},
  {"UTF-16 of odd length", Form::kBytes,
   "\xFF\xFE[\0G\0e\0n\0e\0r\0a\0l\0]\0\n\0V\0e\0r\0s\0i\0o\0n\0=\0" "1\0\n\0x"sv},
  {"UTF-16 without byte-order mark", Form::kBytes,
   "[\0G\0e\0n\0e\0r\0a\0l\0]\0\n\0V\0e\0r\0s\0i\0o\0n\0=\0" "1\0\n\0"sv},
  {"two UTF-16 byte-order marks", Form::kBytes,
   "\xFF\xFE\xFF\xFE[\0G\0e\0n\0e\0r\0a\0l\0]\0\n\0V\0e\0r\0s\0i\0o\0n\0=\0" "1\0\n\0"sv},
  {"empty file", Form::kBytes, ""},
  {"byte-order mark alone", Form::kUtf8Bom, ""},
  // Files as hosts write them.
  {"host file", Form::kBytes,
   "; Configuration du module\r\n[General]\r\n; doit valoir 1\r\nVersion=1\r\n"
   "Configurateur=lumivane\r\n\r\n[Utilisateur]\r\nIdentifiant=marie.dupont@menuiserie-exemple.fr\r\n"
   "MotDePasse=Ch@ssis&Volets 2026#\r\n\r\n[Update]\r\nDevisId=D-2026-0042\r\n"},
  {"host file with a quoted password and other sections", Form::kBytes,
   "[Chemins]\r\nImages=C:\\Devis\\images\r\n[General]\r\nVersion=\"1\"\r\nConfigurateur=lumivane\r\n"
   "[Utilisateur]\r\nIdentifiant=\"r\xE9gis@exemple.fr\"\r\nMotDePasse=\" ;pass=word; \"\r\n"
   "[Fen\xEAtre]\r\nLargeur=800\r\n"},
};
// clang-format on

// Where the module reads a file otherwise than Windows does, on purpose.
struct Deliberate {
  std::string_view file;
  std::string_view key;
  std::string_view module_value;
  std::string_view reason;
};

constexpr std::string_view kUtf8Reason =
    "UTF-8 without byte-order mark is read as UTF-8 (Windows reads it in the ANSI code page and "
    "turns each accented letter into two or three others): today's editors write UTF-8 without "
    "mark, and a Windows-1252 text is almost never valid UTF-8";
constexpr std::string_view kMarkedReason =
    "a file marked UTF-8 but holding bytes that are not (an editor saved Windows-1252 letters "
    "after the mark) is read as Windows-1252, where Windows puts U+FFFD in their place, which no "
    "gateway accepts in an identifier or a password";

const Deliberate kDeliberate[] = {
    {"UTF-8 without byte-order mark", "Configurateur", "Hélène €", kUtf8Reason},
    {"UTF-8 without byte-order mark", "MotDePasse", "😀", kUtf8Reason},
    {"Windows-1252 bytes that form UTF-8", "Configurateur", "été", kUtf8Reason},
    {"Windows-1252 bytes that form UTF-8", "MotDePasse", "café", kUtf8Reason},
    {"UTF-8 byte-order mark, then Windows-1252 bytes", "Configurateur", "Hélène", kMarkedReason},
};

struct Key {
  const wchar_t* section;
  const wchar_t* name;
  const wchar_t* default_value;
  std::string_view text;
  std::string Configuration::*field;
};

const Key kKeys[] = {
    {L"General", L"Version", L"0", "Version", &Configuration::Version},
    {L"General", L"Configurateur", L"", "Configurateur", &Configuration::Configurateur},
    {L"Utilisateur", L"Identifiant", L"", "Identifiant", &Configuration::Identifiant},
    {L"Utilisateur", L"MotDePasse", L"", "MotDePasse", &Configuration::MotDePasse},
    {L"Update", L"DevisId", L"", "DevisId", &Configuration::JetonPasserelle},
};

std::string Bytes(const IniFile& file) {
  if (file.form == Form::kBytes) return std::string(file.text);
  if (file.form == Form::kUtf8Bom) return "\xEF\xBB\xBF" + std::string(file.text);
  const bool big_endian = file.form == Form::kUtf16Be;
  std::string bytes;
  for (const wchar_t unit : L"\uFEFF" + platform::windows::Wide(file.text)) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += big_endian ? high : low;
    bytes += big_endian ? low : high;
  }
  return bytes;
}

std::string WindowsValue(const std::filesystem::path& path, const Key& key) {
  std::wstring buffer(1 << 20, L'\0');
  const DWORD length =
      GetPrivateProfileStringW(key.section, key.name, key.default_value, buffer.data(),
                               static_cast<DWORD>(buffer.size()), path.c_str());
  return platform::windows::Utf8(std::wstring_view(buffer.data(), length));
}

TEST(IniReaderTest, ReadsEveryFileOfTheCorpusAsGetPrivateProfileString) {
  // The 8-bit files of the corpus are Windows-1252, as the hosts write them.
  ASSERT_EQ(GetACP(), 1252u);

  std::vector<IniFile> corpus(std::begin(kCorpus), std::end(kCorpus));
  // Lines of any length: a 100 000-byte value, 40 000 blanks before "=" and
  // inside a section line.
  const std::string long_lines = "[Utilisateur]\nMotDePasse=" + std::string(100000, 'k') +
                                 "\nIdentifiant=\"" + std::string(5000, 'i') + "\"\n[" +
                                 std::string(40000, ' ') + "General]\nVersion" +
                                 std::string(40000, ' ') + "=1\n";
  corpus.push_back({"long lines", Form::kBytes, long_lines});
  ASSERT_GE(corpus.size(), 40u);

  const TempDir dir;
  int number = 0;
  for (const IniFile& file : corpus) {
    const std::string bytes = Bytes(file);
    // A file name of its own each time: Windows keeps the last files it read.
    const auto path = dir.Write("case-" + std::to_string(++number) + ".ini", bytes);
    const Configuration module = LireConfiguration(bytes);
    for (const Key& key : kKeys) {
      const std::string windows = WindowsValue(path, key);
      const std::string& ours = module.*key.field;
      const auto listed = std::ranges::find_if(kDeliberate, [&](const Deliberate& d) {
        return d.file == file.name && d.key == key.text;
      });
      if (listed == std::end(kDeliberate)) {
        EXPECT_EQ(ours, windows) << "file \"" << file.name << "\", key " << key.text;
      } else {
        EXPECT_EQ(ours, listed->module_value) << "file \"" << file.name << "\", key " << key.text;
        EXPECT_NE(ours, windows) << "file \"" << file.name << "\", key " << key.text
                                 << ": listed as deliberate, but Windows reads the same";
      }
    }
  }
  for (const Deliberate& listed : kDeliberate) {
    EXPECT_TRUE(
        std::ranges::any_of(corpus, [&](const IniFile& f) { return f.name == listed.file; }))
        << "deliberate difference for a file not in the corpus: " << listed.file;
  }
}

}  // namespace
}  // namespace lumivane::config
