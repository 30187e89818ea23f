#include <algorithm>
#include <atomic>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "base/limits.h"
#include "http/failure.h"
#include "http/request_journal.h"
#include "http/transport.h"
#include "platform/windows/handle.h"
#include "platform/windows/wide.h"
#include "http/winhttp/winhttp_request.h"
#include "http/redirect.h"

namespace lumivane::http {
namespace {

// What the workers and the calling thread share during DownloadFiles. The
// workers hold it too: a worker abandoned in a WinHTTP call that does not
// give up when its handle is closed (Wine's synchronous calls wait for the
// server or the time-out) ends on its own later, without touching anything
// of the caller's.
struct Batch {
  Batch(const std::vector<http::FileDownload>& d, const http::HttpSettings& s,
        std::uint64_t max_total)
      : downloads(d), results(d.size()), settings(s), max_total_bytes(max_total) {}

  const std::vector<http::FileDownload> downloads;
  std::vector<http::FileDownloadResult> results;  // each written by its one worker
  const http::HttpSettings settings;
  // The bodies of the whole batch together: past the bound, every transfer
  // is abandoned.
  const std::uint64_t max_total_bytes;
  std::atomic<std::uint64_t> total{0};
  std::atomic<bool> too_large{false};
  // Set when the caller's token is, or when the caller leaves early: the
  // transfers under way are abandoned, no new one starts and no file is
  // created any more.
  base::CancellationToken abandon;
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;           // the next download to start
  std::deque<std::size_t> ended;  // downloads ended for good, not yet told
  std::exception_ptr failure;     // an unexpected error in a worker

  static void Work(const std::shared_ptr<Batch>& batch) {
    try {
      winhttp::Engine engine(batch->settings);
      engine.cancel = &batch->abandon;
      for (;;) {
        std::size_t index = 0;
        {
          const std::lock_guard lock(batch->mutex);
          if (batch->next >= batch->downloads.size() || batch->abandon.IsCancelled()) return;
          index = batch->next++;
        }
        batch->Download(engine, index);
        {
          const std::lock_guard lock(batch->mutex);
          batch->ended.push_back(index);
        }
        batch->changed.notify_all();
      }
    } catch (const base::OperationCancelled&) {
    } catch (...) {
      {
        const std::lock_guard lock(batch->mutex);
        if (!batch->failure) batch->failure = std::current_exception();
      }
      batch->abandon.Cancel();
      batch->changed.notify_all();
    }
  }

  // The file of one download, created when its first byte arrives (or at the
  // end of an empty body), never over another file: a download abandoned
  // before leaves nothing. Abandoned after, the worker removes it itself (the
  // caller may have gone); others may remove it meanwhile.
  class File {
   public:
    File(const std::string& path, const base::CancellationToken& abandon)
        : path_(path), abandon_(abandon) {}
    ~File() {
      (void)Close();
      if (created_ && abandon_.IsCancelled()) {
        try {
          DeleteFileW(platform::windows::WindowsPath(path_).c_str());
        } catch (...) {
          // A name that cannot be converted was never created.
        }
      }
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool Write(const char* data, std::size_t size, DWORD& error) {
      if (!Open(error)) return false;
      if (head_.size() < http::kPictureHeadBytes) {
        head_.append(data, std::min(size, http::kPictureHeadBytes - head_.size()));
      }
      const DWORD failure =
          platform::windows::WriteAll(handle_.get(), std::string_view(data, size));
      if (failure == ERROR_SUCCESS) return true;
      error = failure;
      return false;
    }
    // Back to an empty file for a second try.
    bool Truncate(DWORD& error) {
      head_.clear();
      if (!handle_.valid()) return true;
      LARGE_INTEGER origin{};
      if (!SetFilePointerEx(handle_.get(), origin, nullptr, FILE_BEGIN) ||
          !SetEndOfFile(handle_.get())) {
        error = GetLastError();
        return false;
      }
      return true;
    }
    bool Open(DWORD& error) {
      if (handle_.valid()) return true;
      if (abandon_.IsCancelled()) throw base::OperationCancelled();
      handle_.reset(CreateFileW(platform::windows::WindowsPath(path_).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
      if (handle_.valid()) {
        created_ = true;
        return true;
      }
      error = GetLastError();
      return false;
    }
    // The picture reaches the disk here, on the worker, one file at a time.
    bool Flush(DWORD& error) {
      if (!handle_.valid() || FlushFileBuffers(handle_.get())) return true;
      error = GetLastError();
      return false;
    }
    // False (with the code) when the system reports a failure.
    bool Close(DWORD* error = nullptr) {
      const bool closed = handle_.Close();
      if (!closed && error != nullptr) *error = GetLastError();
      return closed;
    }

    // The body's first bytes, for http::PictureAnswerText.
    const std::string& head() const { return head_; }

   private:
    std::string path_;
    std::string head_;
    const base::CancellationToken& abandon_;
    platform::windows::FileHandle handle_;
    bool created_ = false;
  };

  // One download to its end: the body written to the file as it arrives, a
  // transient failure tried once more after a short pause.
  void Download(winhttp::Engine& engine, std::size_t index) {
    const http::FileDownload& download = downloads[index];
    http::FileDownloadResult& result = results[index];
    const auto start = std::chrono::steady_clock::now();
    const auto note = [&] {
      http::NoteRequest("GET", download.url, result.status, engine.received, start,
                        result.ok ? std::string() : result.error, result.attempts);
    };
    try {
      (void)http::CheckedRequestUrl(download.url, settings);
    } catch (const http::HttpError& error) {
      result.error = error.what();
      note();
      return;
    }
    File file(download.path, abandon);
    const winhttp::BodySink sink = [this, &file](const char* data, std::size_t size, DWORD& error) {
      if (max_total_bytes != 0 && (total += size) > max_total_bytes) {
        too_large = true;
        abandon.Cancel();
        changed.notify_all();
        throw base::OperationCancelled();
      }
      return file.Write(data, size, error);
    };
    DWORD file_error = ERROR_SUCCESS;
    for (;;) {
      ++result.attempts;
      try {
        (void)engine.Perform("GET", download.url, nullptr, {}, &sink);
        result.status = engine.response_code;
        result.error = http::PictureAnswerText(result.status, engine.reason, file.head(),
                                               engine.received, download.url);
        result.ok = result.error.empty();
        if (!file.Open(file_error) || (result.ok && !file.Flush(file_error))) result.ok = false;
        break;
      } catch (const winhttp::SinkFailure& failure) {
        result.status = engine.response_code;
        file_error = failure.code;
        break;
      } catch (const http::HttpError& error) {
        result.status = engine.response_code;
        result.error = error.what();
        if (!http::ShouldRetry(result.attempts, error.kind(), engine.response_code)) break;
      }
      // The body so far is dropped; the second try starts afresh.
      if (!file.Truncate(file_error)) break;
      const auto resume = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(base::kRetryPauseMilliseconds);
      while (std::chrono::steady_clock::now() < resume) {
        if (abandon.IsCancelled()) throw base::OperationCancelled();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (!file.Close(&file_error) && file_error == ERROR_SUCCESS) file_error = ERROR_WRITE_FAULT;
    if (file_error != ERROR_SUCCESS) {
      result.ok = false;
      result.file_error = true;
      result.error = http::FileWriteText(download.path, static_cast<int>(file_error));
    }
    note();
  }
};

}  // namespace

std::vector<http::FileDownloadResult> DownloadFiles(
    const std::vector<http::FileDownload>& downloads, const http::HttpSettings& settings,
    std::size_t at_once, std::uint64_t max_total_bytes, const base::CancellationToken* cancel,
    const std::function<void(std::size_t)>& done) {
  if (downloads.empty()) return {};
  const auto batch = std::make_shared<Batch>(downloads, settings, max_total_bytes);
  // A small pool of workers, each with its own WinHTTP session (and so its
  // own connection): `at_once` transfers at most. The pictures of a
  // quote come from one server, so the limit is taken for the whole batch.
  const std::size_t count = std::clamp<std::size_t>(at_once, 1, downloads.size());
  std::vector<std::thread> workers;
  // Whatever happens on this thread, the workers are told to stop. They are
  // waited for only when the batch ends normally; when the caller leaves
  // early, they end on their own (see Batch).
  struct Leave {
    Batch& batch;
    std::vector<std::thread>& workers;
    bool wait = false;
    ~Leave() {
      batch.abandon.Cancel();
      for (std::thread& worker : workers) {
        if (wait) {
          worker.join();
        } else {
          worker.detach();
        }
      }
    }
  } leave{*batch, workers};
  for (std::size_t i = 0; i < count; ++i) workers.emplace_back([batch] { Batch::Work(batch); });

  // Completions are told on this thread, one by one, as they come.
  std::size_t finished = 0;
  while (finished < downloads.size()) {
    std::deque<std::size_t> ended;
    {
      std::unique_lock lock(batch->mutex);
      batch->changed.wait_for(
          lock, std::chrono::milliseconds(base::kCancellationPollMilliseconds),
          [&] { return !batch->ended.empty() || batch->failure || batch->too_large; });
      if (batch->too_large) throw DownloadsTooLarge{};
      if (batch->failure) std::rethrow_exception(batch->failure);
      ended.swap(batch->ended);
    }
    for (std::size_t i = 0; i < ended.size(); ++i) {
      ++finished;
      if (done) done(finished);
    }
    if (cancel != nullptr && cancel->IsCancelled()) throw base::OperationCancelled();
  }
  // Every download has ended: the workers are about to return.
  leave.wait = true;
  std::lock_guard lock(batch->mutex);
  return batch->results;
}

}  // namespace lumivane::http
