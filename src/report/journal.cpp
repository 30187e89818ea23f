#include "report/journal.h"

#include <mutex>

#include "base/limits.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/journal_file.h"
#include "text/display.h"
#include "text/journal_line.h"

namespace lumivane::report::journal {
namespace {

struct State {
  std::mutex mutex;
  std::string path;
  std::string run_id;
  platform::JournalFile file;
  bool opened = false;
};

State& Journal() {
  static State state;
  return state;
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

// Past the limit, the file becomes journal.1.log (replacing the one before).
// The file is closed first: Windows renames an open file only when every
// handle on it allows deletion.
void Rotate(State& state) {
  const auto size = state.file.Size();
  if (!size || *size < base::kMaxJournalBytes) return;
  state.file.Close();
  (void)platform::RenameReplacing(state.path, text::RotatedJournalPath(state.path));
  (void)state.file.Open(state.path);
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
  if (path.empty()) return;
  const std::size_t separator = path.find_last_of(platform::kPathSeparator == '/' ? "/" : "\\/");
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
  Rotate(state);
  if (!state.file.IsOpen()) return Disable(state);
  if (!state.file.Append(text::JournalLine(Now(), state.run_id, event))) Disable(state);
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
