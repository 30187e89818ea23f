#pragma once

// The support journal's file: opened for appending only, shared with other
// modules that append, read, rotate or remove it meanwhile.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivane::platform {

class JournalFile {
 public:
  JournalFile() = default;
  ~JournalFile();
  JournalFile(const JournalFile&) = delete;
  JournalFile& operator=(const JournalFile&) = delete;

  // Opens (creating) `path` for appending; false when it cannot, or when
  // something else than a regular file is there (a pipe, a device, a
  // folder), which is never waited on.
  bool Open(const std::string& path);
  bool IsOpen() const;
  void Close();
  // The file's size, nothing when the system cannot tell.
  std::optional<std::uint64_t> Size() const;
  // One write at the end: the line lands whole, never mixed with another
  // module's lines. False when it did not.
  bool Append(std::string_view line);
  // One try, never waiting, for the lock that modules appending to this
  // file share: taken, held by another module (or another handle), or
  // refused by the system (no locks on that file system, an NFS without its
  // lock service).
  enum class Lock { kTaken, kBusy, kRefused };
  Lock TryLock();
  void Unlock();
  // Whether `path` still names the file held (not renamed away by another
  // module's rotation, nor replaced).
  bool IsAt(const std::string& path) const;

 private:
  std::intptr_t handle_ = -1;
};

// Renames `from` over `to` (replacing it); false when it failed.
bool RenameReplacing(const std::string& from, const std::string& to);

// The folder of the module's own state: $XDG_STATE_HOME/lumivane (by default
// ~/.local/state/lumivane) on Linux, %LOCALAPPDATA%\Lumivane on Windows.
// Empty when the system names none.
std::string StateFolder();

// An environment variable's value in UTF-8 (Windows: from the UTF-16
// environment); nothing when it is not set.
std::optional<std::string> EnvironmentVariable(const char* name);

}  // namespace lumivane::platform
