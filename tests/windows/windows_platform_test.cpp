// The Windows platform layer where it differs from Linux: UTF-16 paths, long
// paths, files held by other programs, error texts, the process's folder and
// arguments, the shell browser.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/browser.h"
#include "platform/system_error.h"
#include "platform/files.h"
#include "base/limits.h"
#include "report/journal.h"
#include "platform/process.h"
#include "temp_dir.h"

namespace lumivane::platform {
namespace {

using ::testing::HasSubstr;

namespace fs = std::filesystem;
using lumivane::testing::TempDir;
using namespace std::chrono_literals;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path FromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::vector<std::string> Entries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(Utf8(entry.path().filename()));
  return names;
}

// A handle on `path` that shares nothing: no other program may read, write,
// rename or delete the file while it is open.
HANDLE OpenExclusively(const fs::path& path) {
  return CreateFileW(path.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WindowsFilesTest, AccentsAndBlanksInFolderAndFileNames) {
  const TempDir dir;
  const std::string folder = Utf8(dir.Path()) + "\\Devis été 2026 ü 窓";
  ASSERT_TRUE(fs::create_directory(FromUtf8(folder)));
  const std::string path = folder + "\\échange à blancs.xml";
  const std::string bytes("<?xml?>\r\n\xE9\0\xFF", 11);

  EXPECT_FALSE(FileExists(path));
  ReplaceFileContents(path, bytes);
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadFileBytes(path), bytes);
  ReplaceFileContents(path, "court");
  EXPECT_EQ(ReadFileBytes(path), "court");
  // Forward slashes name the same file.
  EXPECT_EQ(ReadFileBytes(Utf8(dir.Path()) + "/Devis été 2026 ü 窓/échange à blancs.xml"), "court");
  EXPECT_EQ(Entries(FromUtf8(folder)), std::vector<std::string>{"échange à blancs.xml"});
  EXPECT_FALSE(FileExists(folder));  // a folder is not a file
}

TEST(WindowsFilesTest, FoldersWithAccentsAreCreatedOnce) {
  const TempDir dir;
  const std::string folder = Utf8(dir.Path()) + "\\Société à Noël\\";
  EXPECT_FALSE(FolderExists(folder));
  EXPECT_EQ(CreateFolder(folder, false), std::nullopt);
  EXPECT_EQ(CreateFolder(folder, false), std::nullopt);  // already there
  EXPECT_TRUE(FolderExists(folder));
  EXPECT_EQ(CheckWritableFolder(folder), std::nullopt);
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"Société à Noël"});
  // A file in the way; a missing parent, made only when asked for.
  ReplaceFileContents(Utf8(dir.Path()) + "\\fichier", "x");
  EXPECT_EQ(CreateFolder(Utf8(dir.Path()) + "\\fichier", true), "ce n'est pas un dossier");
  EXPECT_EQ(CreateFolder(Utf8(dir.Path()) + "\\fichier\\images", true), "ce n'est pas un dossier");
  EXPECT_EQ(CreateFolder(Utf8(dir.Path()) + "\\absent\\images", false),
            "fichier ou dossier introuvable (code 3)");
  EXPECT_EQ(CreateFolder(Utf8(dir.Path()) + "/Lumivane/été/images/", true), std::nullopt);
  EXPECT_TRUE(FolderExists(Utf8(dir.Path()) + "\\Lumivane\\été\\images"));
  EXPECT_NE(CheckWritableFolder(Utf8(dir.Path()) + "\\absent"), std::nullopt);
}

TEST(WindowsFilesTest, PicturesAreMovedCopiedAndRemoved) {
  const TempDir dir;
  const std::string folder = Utf8(dir.Path()) + "\\images é\\";
  ASSERT_EQ(CreateFolder(folder, false), std::nullopt);
  const std::string temporary = TemporaryPathIn(folder);
  EXPECT_EQ(temporary.rfind(folder, 0), 0u);
  EXPECT_NE(temporary, TemporaryPathIn(folder));
  EXPECT_TRUE(IsModuleName(temporary.substr(folder.size()), kTemporarySuffix));
  ReplaceFileContents(temporary, "jpeg");
  const std::string picture = folder + "1.jpg";
  const std::string copy = folder + "2.jpg";
  ReplaceFileContents(picture, "ancienne");
  // A name in use is never taken over.
  EXPECT_FALSE(MoveFileToFreeName(temporary, picture));
  EXPECT_EQ(ReadFileBytes(picture), "ancienne");
  RemoveFile(picture);
  EXPECT_TRUE(MoveFileToFreeName(temporary, picture));
  CopyToNewFile(picture, copy);
  EXPECT_THROW(CopyToNewFile(picture, copy), FileError);  // never over a file
  SyncFolder(folder);
  EXPECT_EQ(ReadFileBytes(picture), "jpeg");
  EXPECT_EQ(ReadFileBytes(copy), "jpeg");
  EXPECT_EQ(FileSize(copy), 4u);
  EXPECT_FALSE(FileExists(temporary));
  EXPECT_THROW(MoveFileToFreeName(temporary, folder + "3.jpg"), FileError);
  RemoveEmptyFolder(folder);  // not empty: stays
  EXPECT_TRUE(FolderExists(folder));
  RemoveFile(picture);
  RemoveFile(copy);
  RemoveFile(copy);  // already gone
  RemoveEmptyFolder(folder);
  EXPECT_FALSE(FolderExists(folder));
}

// A run's private folder: made new, its held file told from one whose run
// ended, removed only while it holds nothing but the user's own files.
TEST(WindowsFilesTest, PrivateFoldersHeldToldAndRemoved) {
  const TempDir dir;
  const std::string folder = Utf8(dir.Path()) + "\\privé.staging";
  ASSERT_TRUE(CreatePrivateFolder(folder));
  EXPECT_FALSE(CreatePrivateFolder(folder));
  const std::string path = folder + "\\held";
  using State = HeldFile::Probe::State;
  EXPECT_EQ(HeldFile::Look(path).state, State::kUnknown);
  {
    HeldFile held;
    EXPECT_TRUE(held.Create(path));
    held.Append("held\n");
    EXPECT_EQ(HeldFile::Look(path).state, State::kHeld);
    EXPECT_THROW(HeldFile().Create(path), FileError);
  }
  const HeldFile::Probe ended = HeldFile::Look(path);
  EXPECT_EQ(ended.state, State::kFree);
  EXPECT_EQ(ended.contents, "held\n");

  const std::vector<FolderEntry> entries = EntriesOf(Utf8(dir.Path()), "priv");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].kind, FolderEntry::Kind::kFolder);
  EXPECT_TRUE(entries[0].own);
  ASSERT_TRUE(CreatePrivateFolder(folder + "\\dedans"));
  EXPECT_FALSE(RemoveOwnFolderOfFiles(folder));  // a folder inside: kept
  EXPECT_TRUE(FileExists(path));
  RemoveEmptyFolder(folder + "\\dedans");
  EXPECT_TRUE(RemoveOwnFolderOfFiles(folder));
  EXPECT_FALSE(FolderExists(folder));
}

TEST(WindowsFilesTest, PathsLongerThanTheClassicLimit) {
  const TempDir dir;
  std::wstring folder = L"\\\\?\\" + dir.Path().wstring();
  std::string utf8_folder = Utf8(dir.Path());
  // Five levels of 60 characters: well past 260.
  for (int level = 0; level < 5; ++level) {
    const std::string name = "niveau " + std::to_string(level) + " " + std::string(50, 'e') + "é";
    folder += L"\\" + FromUtf8(name).wstring();
    utf8_folder += "\\" + name;
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << GetLastError();
  }
  const std::string path = utf8_folder + "\\échange.xml";
  ASSERT_GT(path.size(), 300u);
  ReplaceFileContents(path, "long");
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(ReadFileBytes(path), "long");
  ReplaceFileContents(path, "encore");
  EXPECT_EQ(ReadFileBytes(path), "encore");
}

TEST(WindowsFilesTest, ReplacementWaitsForAnotherProgramToLetGoOfTheTarget) {
  const TempDir dir;
  const fs::path target = dir.Path() / "echange.xml";
  ReplaceFileContents(Utf8(target), "avant");

  // Held for a moment, as an indexer or an antivirus does: the rename is
  // tried again until the file is free.
  HANDLE held = OpenExclusively(target);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    std::this_thread::sleep_for(300ms);
    CloseHandle(held);
  });
  ReplaceFileContents(Utf8(target), "après");
  release.join();
  EXPECT_EQ(ReadFileBytes(Utf8(target)), "après");

  // Held for good: an error after about a second, the target untouched and
  // no temporary file left.
  held = OpenExclusively(target);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const auto start = std::chrono::steady_clock::now();
  try {
    ReplaceFileContents(Utf8(target), "jamais");
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    const std::string text = error.what();
    EXPECT_THAT(text, HasSubstr("Impossible d'écrire le fichier " + Utf8(target) + " : ")) << text;
    EXPECT_THAT(text, HasSubstr("(code ")) << text;
  }
  EXPECT_GT(std::chrono::steady_clock::now() - start, 500ms);
  CloseHandle(held);
  EXPECT_EQ(ReadFileBytes(Utf8(target)), "après");
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"echange.xml"});
}

// The file's access list as the system tells it, in SDDL.
std::wstring AccessList(const fs::path& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(path.wstring().c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                            nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return L"unreadable";
  }
  wchar_t* text = nullptr;
  ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                       DACL_SECURITY_INFORMATION, &text, nullptr);
  std::wstring list = text != nullptr ? text : L"none";
  LocalFree(text);
  LocalFree(descriptor);
  return list;
}

// What the host set on its exchange file stays across a replacement: its
// attributes and its access list; one marked read-only is refused, left as
// it was.
TEST(WindowsFilesTest, TheHostsFileKeepsItsAttributesAndAccessList) {
  const TempDir dir;
  const fs::path target = dir.Path() / FromUtf8("échange.xml");
  ReplaceFileContents(Utf8(target), "avant");
  // Everyone may do anything, users may read: not what a new file gets.
  PSECURITY_DESCRIPTOR wanted = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;FA;;;WD)(A;;FR;;;BU)", SDDL_REVISION_1, &wanted, nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted));
  ASSERT_EQ(SetNamedSecurityInfoW(target.wstring().data(), SE_FILE_OBJECT,
                                  DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  LocalFree(wanted);
  const DWORD hidden = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesW(target.wstring().c_str(), hidden));
  const std::wstring access_list = AccessList(target);
  ReplaceFileContents(Utf8(dir.Path() / "autre.xml"), "nouveau");
  ASSERT_NE(AccessList(dir.Path() / "autre.xml"), access_list) << "the test shows nothing";

  ReplaceFileContents(Utf8(target), "après");
  EXPECT_EQ(ReadFileBytes(Utf8(target)), "après");
  EXPECT_EQ(GetFileAttributesW(target.wstring().c_str()), hidden);
  EXPECT_EQ(AccessList(target), access_list);

  ASSERT_TRUE(SetFileAttributesW(target.wstring().c_str(), hidden | FILE_ATTRIBUTE_READONLY));
  try {
    ReplaceFileContents(Utf8(target), "jamais");
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Impossible d'écrire le fichier " + Utf8(target) + " : accès refusé (code 5)");
  }
  EXPECT_EQ(ReadFileBytes(Utf8(target)), "après");
  EXPECT_EQ(GetFileAttributesW(target.wstring().c_str()), hidden | FILE_ATTRIBUTE_READONLY);
  std::vector<std::string> names = Entries(dir.Path());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"autre.xml", "échange.xml"}));
  SetFileAttributesW(target.wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsFilesTest, FailuresNameTheFileAndLeaveNothingBehind) {
  const TempDir dir;
  const std::string missing_folder = Utf8(dir.Path() / "absent" / "echange.xml");
  try {
    ReplaceFileContents(missing_folder, "x");
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible d'écrire le fichier " + missing_folder +
                                             " : fichier ou dossier introuvable (code 3)");
  }
  // A folder in the target's place: the rename fails, the temporary goes.
  fs::create_directory(dir.Path() / "dossier");
  EXPECT_THROW(ReplaceFileContents(Utf8(dir.Path() / "dossier"), "x"), FileError);
  EXPECT_EQ(Entries(dir.Path()), std::vector<std::string>{"dossier"});

  try {
    ReadFileBytes(Utf8(dir.Path() / "absent.ini"));
    ADD_FAILURE() << "no error";
  } catch (const FileError& error) {
    EXPECT_EQ(std::string(error.what()), "Impossible de lire le fichier " +
                                             Utf8(dir.Path() / "absent.ini") +
                                             " : fichier ou dossier introuvable (code 2)");
  }
  EXPECT_FALSE(FileExists(""));
}

TEST(SystemErrorTextTest, FrenchTextWithTheCode) {
  EXPECT_EQ(SystemErrorText(ERROR_DISK_FULL), "plus d'espace libre sur le disque (code 112)");
  EXPECT_EQ(SystemErrorText(4242), "erreur système (code 4242)");
}

TEST(ProcessTest, ExecutableFolderHoldsTheRunningProgram) {
  const std::string folder = ExecutableFolder();
  EXPECT_TRUE(FileExists(folder + "\\windows_platform_test.exe")) << folder;
  EXPECT_NE(folder.back(), '\\');
  const std::string pictures = UserPicturesFolder();
  EXPECT_TRUE(pictures.ends_with("\\Lumivane\\images")) << pictures;
  EXPECT_TRUE(FolderExists(pictures.substr(0, pictures.size() - 16))) << pictures;
}

// The support journal: one line per event with the local time and its
// offset; rotation past 1 MiB; the file named by LUMIVANE_JOURNAL; a journal
// that cannot be written changes nothing.
TEST(JournalTest, LinesRotationAndPlace) {
  const TempDir dir;
  const std::string path = Utf8(dir.Path()) + "\\État\\journal.log";
  ASSERT_EQ(CreateFolder(Utf8(dir.Path()) + "\\État", false), std::nullopt);
  ReplaceFileContents(path, std::string(base::kMaxJournalBytes, 'x'));
  report::journal::Open(path);
  report::journal::Note("première\nligne");
  report::journal::Note("seconde");
  report::journal::Close();
  EXPECT_EQ(ReadFileBytes(Utf8(dir.Path()) + "\\État\\journal.1.log").size(),
            base::kMaxJournalBytes);
  const std::string text = ReadFileBytes(path);
  const std::regex shape(
      R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d ([0-9a-f]{6}) première ligne\n\S+ \1 seconde\n)");
  EXPECT_TRUE(std::regex_match(text, shape)) << text;

  report::journal::Open(path + "\\dans un fichier\\journal.log");
  report::journal::Note("perdue");  // nothing happens, nothing is thrown
  report::journal::Close();

  _wputenv_s(L"LUMIVANE_JOURNAL", L"off");
  EXPECT_EQ(report::journal::DefaultPath(), "");
  _wputenv_s(L"LUMIVANE_JOURNAL", L"C:\\Support\\été.log");
  EXPECT_EQ(report::journal::DefaultPath(), "C:\\Support\\été.log");
  _wputenv_s(L"LUMIVANE_JOURNAL", L"");
  EXPECT_TRUE(report::journal::DefaultPath().ends_with("\\AppData\\Local\\Lumivane\\journal.log"))
      << report::journal::DefaultPath();
}

// Another program holds the journal's lock for good: each line is written
// without it, at once, never waited for.
TEST(JournalTest, ALockHeldElsewhereIsNotWaitedFor) {
  const TempDir dir;
  const std::string path = Utf8(dir.Path()) + "\\journal.log";
  const HANDLE other = CreateFileW(FromUtf8(path).wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  OVERLAPPED far_byte{};
  far_byte.OffsetHigh = 0x7FFFFFFF;
  ASSERT_TRUE(
      LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &far_byte));
  report::journal::Open(path);
  report::journal::Note("sans verrou");
  report::journal::Note("encore");
  report::journal::Close();
  far_byte = OVERLAPPED{};
  far_byte.OffsetHigh = 0x7FFFFFFF;
  UnlockFileEx(other, 0, 1, 0, &far_byte);
  CloseHandle(other);
  const std::string text = ReadFileBytes(path);
  EXPECT_THAT(text, HasSubstr(" sans verrou\n")) << text;
  EXPECT_THAT(text, HasSubstr(" encore\n")) << text;
}

// Starts the argument printer with `command_line` (UTF-16, as a host would
// build it) and gives what it wrote: one UTF-8 argument per line.
std::string ArgumentsSeenBy(const std::wstring& arguments) {
  const TempDir dir;
  const fs::path output = dir.Path() / "arguments.txt";
  const std::wstring program = FromUtf8(ExecutableFolder()).wstring() + L"\\print_arguments.exe";
  std::wstring command = L"\"" + program + L"\" \"" + output.wstring() + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return "CreateProcessW failed: " + std::to_string(GetLastError());
  }
  WaitForSingleObject(process.hProcess, 30000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ReadFileBytes(Utf8(output));
}

TEST(ProcessTest, ArgumentsArriveInUtf8WithQuotedBlanks) {
  EXPECT_EQ(ArgumentsSeenBy(L"\"C:\\Devis été\\échange 1.xml\" C:\\config\u7A93.ini"),
            "C:\\Devis été\\échange 1.xml\nC:\\config窓.ini\n");
  EXPECT_EQ(ArgumentsSeenBy(L"un \"\" trois"), "un\n\ntrois\n");
}

TEST(ShellBrowserTest, OnlyWebAddressesAreHandedToTheShell) {
  ShellBrowser browser;
  for (const char* refused : {"", "calc.exe", "file:///C:/Windows/win.ini",
                              "C:\\Windows\\notepad.exe", "ftp://h.example/", "http://"}) {
    EXPECT_FALSE(browser.Open(refused)) << refused;
  }
}

}  // namespace
}  // namespace lumivane::platform
