#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <cstdint>
#include <vector>

#include "base/limits.h"
#include "http/failure.h"
#include "http/redirect.h"
#include "http/request_journal.h"
#include "http/transport.h"
#include "http/curl/curl_transfer.h"

namespace lumivane::http {
namespace {

using Clock = std::chrono::steady_clock;

// Pictures that have arrived reach the disk here, beside the transfers:
// several flushed at once (the file system commits them together), each file
// then closed. At most kAtOnce wait, so that the files open stay bounded.
class Flusher {
 public:
  Flusher() = default;
  ~Flusher() { Wait(); }
  Flusher(const Flusher&) = delete;
  Flusher& operator=(const Flusher&) = delete;

  // Takes `fd`; the system's code of a failure goes to `*error` (0 else).
  void Add(int fd, int* error) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ < kAtOnce; });
    ++pending_;
    queue_.push_back({fd, error});
    if (threads_.size() < kAtOnce) threads_.emplace_back([this] { Work(); });
    changed_.notify_all();
  }

  // Every file added so far flushed and closed.
  void Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return pending_ == 0; });
    stopping_ = true;
    changed_.notify_all();
    lock.unlock();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    stopping_ = false;
  }

 private:
  static constexpr std::size_t kAtOnce = 8;

  void Work() {
    std::unique_lock lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      const auto [fd, error] = queue_.front();
      queue_.pop_front();
      lock.unlock();
      int code = ::fsync(fd) != 0 ? errno : 0;
      if (::close(fd) != 0 && code == 0) code = errno;
      lock.lock();
      *error = code;
      --pending_;
      changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::pair<int, int*>> queue_;
  std::size_t pending_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

struct Job {
  const http::FileDownload* download = nullptr;
  http::FileDownloadResult* result = nullptr;
  std::optional<http::RedirectChain> chain;  // where the transfer goes, after its redirects
  curl::Easy easy;
  curl::Transfer transfer;
  bool active = false;
  bool final = false;
  Clock::time_point retry_at{};
  Clock::time_point started{};
  std::size_t counted = 0;  // of transfer.received, in the batch's total
  int flush_error = 0;      // the system's code when its file could not be flushed
};

// Every transfer of one batch in one multi handle.
class Batch {
 public:
  Batch(const std::vector<http::FileDownload>& downloads, const http::HttpSettings& settings,
        std::size_t at_once, std::uint64_t max_total_bytes,
        const std::function<void(std::size_t)>& done)
      : settings_(settings),
        done_(done),
        at_once_(std::max<std::size_t>(at_once, 1)),
        max_total_bytes_(max_total_bytes),
        results_(downloads.size()),
        jobs_(downloads.size()) {
    multi_ = curl::NewMulti();
    curl_multi_setopt(multi_.get(), CURLMOPT_MAX_HOST_CONNECTIONS, static_cast<long>(at_once));
    curl_multi_setopt(multi_.get(), CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
    for (std::size_t i = 0; i < downloads.size(); ++i) {
      jobs_[i].download = &downloads[i];
      jobs_[i].result = &results_[i];
    }
  }

  // Whatever happens, no handle stays in the multi handle, no file open.
  ~Batch() {
    for (Job& job : jobs_) {
      if (job.active) curl_multi_remove_handle(multi_.get(), job.easy.get());
      if (job.transfer.fd >= 0) ::close(job.transfer.fd);
    }
  }
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // Drives the transfers until every one has ended for good.
  std::vector<http::FileDownloadResult> Run(const base::CancellationToken* cancel) {
    while (finished_ < jobs_.size()) {
      int running = 0;
      if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) throw std::bad_alloc();
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
        if (message->msg == CURLMSG_DONE) Ended(message->easy_handle, message->data.result);
      }
      if (cancel != nullptr && cancel->IsCancelled()) throw base::OperationCancelled();
      CountReceived();
      const int wait = StartDue();
      if (finished_ < jobs_.size()) curl_multi_poll(multi_.get(), nullptr, 0, wait, nullptr);
    }
    flusher_.Wait();
    for (Job& job : jobs_) {
      if (job.flush_error != 0) FailFile(job, job.flush_error);
    }
    return std::move(results_);
  }

 private:
  void FailFile(Job& job, int code) {
    job.result->ok = false;
    job.result->file_error = true;
    job.result->error = http::FileWriteText(job.download->path, code);
  }

  // The bytes received since last counted, by every transfer in flight.
  void CountReceived() {
    for (Job* job : in_flight_) {
      total_ += job->transfer.received - job->counted;
      job->counted = job->transfer.received;
    }
    if (max_total_bytes_ != 0 && total_ > max_total_bytes_) throw DownloadsTooLarge{};
  }

  void Finish(Job& job) {
    job.final = true;
    total_ += job.transfer.received - job.counted;
    job.counted = job.transfer.received;
    std::erase(in_flight_, &job);
    job.easy.reset();
    if (job.transfer.fd >= 0 && job.result->ok) {
      flusher_.Add(job.transfer.fd, &job.flush_error);
    } else if (job.transfer.fd >= 0) {
      ::close(job.transfer.fd);
    }
    job.transfer.fd = -1;
    http::NoteRequest("GET", job.download->url, job.result->status, job.transfer.received,
                      job.started, job.result->ok ? std::string() : job.result->error,
                      job.result->attempts);
    ++finished_;
    if (done_) done_(finished_);
  }

  void Add(Job& job) {
    CURL* h = job.easy.get();
    curl::SetOption(h, CURLOPT_URL, job.chain->url().c_str());
    // Over TLS the server may offer HTTP/2, which says so in the handshake:
    // the transfers wait for it and go over that one connection rather than
    // opening more. Plain http is HTTP/1.1 here, and waiting would only hold
    // the other transfers back until the first answer has come.
    curl::SetOption(h, CURLOPT_PIPEWAIT, job.chain->parts().scheme == "https" ? 1L : 0L);
    total_ += job.transfer.received - job.counted;
    job.transfer.Reset();
    job.counted = job.transfer.received;
    if (curl_multi_add_handle(multi_.get(), h) != CURLM_OK) throw std::bad_alloc();
    job.active = true;
  }

  // A download's first try: its file is created now, never over another.
  void Prepare(Job& job) {
    job.started = Clock::now();
    in_flight_.push_back(&job);
    try {
      job.chain.emplace("GET", job.download->url, settings_);
    } catch (const http::HttpError& error) {
      job.result->error = error.what();
      return Finish(job);
    }
    job.transfer.fd =
        ::open(job.download->path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (job.transfer.fd < 0) {
      FailFile(job, errno);
      return Finish(job);
    }
    job.easy = curl::NewEasy();
    CURL* h = job.easy.get();
    curl::ConfigureHandle(h, settings_, &job.transfer);
    curl::SetOption(h, CURLOPT_HTTPGET, 1L);
    curl::SetOption(h, CURLOPT_PRIVATE, static_cast<void*>(&job));
    ++job.result->attempts;
    Add(job);
  }

  // A transfer ended: done, a redirect to follow, a second try, or a failure.
  void Ended(CURL* handle, CURLcode result) {
    void* owner = nullptr;
    curl_easy_getinfo(handle, CURLINFO_PRIVATE, &owner);
    Job& job = *static_cast<Job*>(owner);
    curl_multi_remove_handle(multi_.get(), job.easy.get());
    job.active = false;
    const long status = job.transfer.Status();
    job.result->status = status;
    if (job.transfer.write_errno != 0) {
      FailFile(job, job.transfer.write_errno);
      return Finish(job);
    }
    if (result == CURLE_OK && FollowRedirect(job, status)) return;
    if (result == CURLE_OK && status < 400) {
      job.result->error =
          http::PictureAnswerText(status, job.transfer.ReasonPhrase(), job.transfer.head,
                                  job.transfer.received, job.chain->url());
      job.result->ok = job.result->error.empty();
      return Finish(job);
    }
    const http::FailureDetail failure =
        result == CURLE_OK ? http::FailureDetail{http::Failure::kStatus} : job.transfer.Map(result);
    if (http::ShouldRetry(job.result->attempts, failure.kind, status)) {
      return Retry(job);
    }
    job.result->error = result == CURLE_OK
                            ? http::StatusText(status, job.transfer.ReasonPhrase(),
                                               job.chain->url(), job.transfer.Peer())
                            : http::FailureText(failure, settings_, job.chain->url());
    Finish(job);
  }

  // True when the answer was a redirect: followed, or refused and finished.
  bool FollowRedirect(Job& job, long status) {
    try {
      if (!job.chain->Follow(status, job.transfer.RedirectTarget())) return false;
      Add(job);
    } catch (const http::HttpError& error) {
      job.result->error = error.what();
      Finish(job);
    }
    return true;
  }

  // The body so far is dropped; the second try starts afresh from the URL
  // the download was given.
  void Retry(Job& job) {
    if (::ftruncate(job.transfer.fd, 0) != 0 || ::lseek(job.transfer.fd, 0, SEEK_SET) != 0) {
      FailFile(job, errno);
      return Finish(job);
    }
    job.chain.emplace("GET", job.download->url, settings_);
    job.retry_at = Clock::now() + std::chrono::milliseconds(base::kRetryPauseMilliseconds);
  }

  // Starts the second tries whose pause is over; the time to wait for the
  // next one, at most the cancellation poll.
  // Then the next downloads while fewer than `at_once_` are in flight.
  int StartDue() {
    int wait = base::kCancellationPollMilliseconds;
    const auto now = Clock::now();
    for (Job* job : std::vector<Job*>(in_flight_)) {
      if (job->active) continue;
      if (job->retry_at <= now) {
        ++job->result->attempts;
        Add(*job);
        wait = 0;
      } else {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(job->retry_at - now);
        wait = std::min<int>(wait, static_cast<int>(left.count()) + 1);
      }
    }
    while (in_flight_.size() < at_once_ && next_ < jobs_.size()) {
      Prepare(jobs_[next_++]);
      wait = 0;
    }
    return wait;
  }

  const http::HttpSettings& settings_;
  const std::function<void(std::size_t)>& done_;
  const std::size_t at_once_;
  const std::uint64_t max_total_bytes_;
  std::uint64_t total_ = 0;
  std::size_t next_ = 0;         // the next download to start
  std::vector<Job*> in_flight_;  // started, not ended for good: each with its file
  curl::Multi multi_;
  std::vector<http::FileDownloadResult> results_;
  std::vector<Job> jobs_;
  std::size_t finished_ = 0;
  Flusher flusher_;  // declared last: waited for first, while the jobs live
};

}  // namespace

std::vector<http::FileDownloadResult> DownloadFiles(
    const std::vector<http::FileDownload>& downloads, const http::HttpSettings& settings,
    std::size_t at_once, std::uint64_t max_total_bytes, const base::CancellationToken* cancel,
    const std::function<void(std::size_t)>& done) {
  Batch batch(downloads, settings, at_once, max_total_bytes, done);
  return batch.Run(cancel);
}

}  // namespace lumivane::http
