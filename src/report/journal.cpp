#include "report/journal.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <thread>

#include "base/limits.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/journal_file.h"
#include "report/secrets.h"
#include "text/display.h"
#include "text/journal_line.h"

namespace lumivane::report::journal {
namespace {

using Lock = platform::JournalFile::Lock;

struct State {
  std::mutex mutex;
  std::string path;
  std::string run_id;
  platform::JournalFile file;
  bool opened = false;
  // The last wait for the lock ran out: later lines try it once only, until
  // it is taken again, so that a lock held for minutes costs one wait.
  bool lock_kept_by_another = false;
  // The system refused the lock (no locks on that file system): not tried
  // again.
  bool no_locks = false;
};

// Never destroyed: a transfer abandoned on its own thread may still end
// while the module exits, and finds the journal closed, never gone.
State& Journal() {
  static State* const state = new State;
  return *state;
}

std::string Now() {
  const platform::LocalTimeStamp now = platform::LocalTimeNow();
  return text::JournalTime(now.time.year, now.time.month, now.time.day, now.time.hour,
                           now.time.minute, now.time.second, now.millisecond,
                           now.utc_offset_minutes);
}

void Disable(State& state) {
  state.file.Close();
  state.path.clear();
}

// The lock, tried again for a moment while another module holds it, never
// waited for beyond that.
Lock TryLockBriefly(State& state) {
  if (state.no_locks) return Lock::kRefused;
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(
                            state.lock_kept_by_another ? 0 : base::kJournalLockWaitMilliseconds);
  for (;;) {
    const Lock got = state.file.TryLock();
    state.no_locks = got == Lock::kRefused;
    state.lock_kept_by_another = got == Lock::kBusy;
    if (got != Lock::kBusy || std::chrono::steady_clock::now() >= deadline) return got;
    std::this_thread::sleep_for(std::chrono::milliseconds(base::kJournalLockRetryMilliseconds));
  }
}

// Takes the lock that the modules appending to the journal share, on the
// file now at the path: another module's rotation may have renamed the one
// held away meanwhile. Nothing when no file can be held any more; kBusy or
// kRefused when the line goes without the lock.
std::optional<Lock> LockCurrent(State& state) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const Lock got = TryLockBriefly(state);
    if (state.file.IsAt(state.path)) return got;
    state.file.Unlock();
    if (!state.file.Open(state.path)) return std::nullopt;
  }
  return TryLockBriefly(state);
}

// Under the lock, past the limit, the file becomes journal.1.log (replacing
// the one before) and a new one starts; a module waiting for the lock then
// finds the new file at the path and never rotates the same file twice.
void Rotate(State& state) {
  const auto size = state.file.Size();
  if (!size || *size < base::kMaxJournalBytes) return;
  if (!platform::RenameReplacing(state.path, text::RotatedJournalPath(state.path))) return;
  state.file.Unlock();
  if (state.file.Open(state.path)) (void)LockCurrent(state);
}

}  // namespace

std::string DefaultPath() {
  if (const auto chosen = platform::EnvironmentVariable("LUMIVANE_JOURNAL");
      chosen && !chosen->empty()) {
    return *chosen == "off" ? std::string() : *chosen;
  }
  const std::string folder = platform::StateFolder();
  return folder.empty() ? std::string() : folder + platform::kPathSeparator + "journal.log";
}

void Open(const std::string& path) {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  if (state.opened) return;
  state.opened = true;
  state.lock_kept_by_another = state.no_locks = false;
  if (path.empty()) return;
  const std::size_t separator = path.find_last_of(platform::kPathSeparators);
  if (separator != std::string::npos && separator > 0) {
    (void)platform::CreateFolder(path.substr(0, separator), true);
  }
  if (!state.file.Open(path)) return;  // off for this run, without a word to the user
  state.path = path;
  state.run_id = text::NewRunId();
}

void Note(std::string_view event) {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  if (!state.file.IsOpen()) return;
  const std::optional<Lock> file_lock = LockCurrent(state);
  if (!file_lock) return Disable(state);
  // Another module holds the lock: the line is appended without it (one
  // write, never mixed with theirs) and the file is never rotated; where the
  // system keeps no locks at all, the journal still rotates.
  if (*file_lock != Lock::kBusy) Rotate(state);
  if (!state.file.IsOpen()) return Disable(state);
  const bool written = state.file.Append(text::JournalLine(Now(), state.run_id, Masked(event)));
  state.file.Unlock();
  if (!written) Disable(state);
}

void NoteMessage(std::string_view message) {
  Note("message : " + text::EscapeControls(text::WithoutQueryStrings(message)));
}

void Close() {
  State& state = Journal();
  const std::lock_guard lock(state.mutex);
  Disable(state);
  state.opened = false;
}

}  // namespace lumivane::report::journal
