#include "report/standard_error.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "base/limits.h"
#include "platform/standard_error.h"
#include "report/journal.h"

namespace lumivane::report {
namespace {

struct Queue {
  std::mutex mutex;
  std::condition_variable changed;
  std::string waiting;   // lines not yet handed to the system
  bool writing = false;  // the writer holds lines the system has not taken yet
  bool started = false;
  std::atomic<bool> loss_noted{false};
};

// Never destroyed, its thread never joined: at the module's exit the writer
// may be held by a full pipe for good, and must still find its queue.
Queue& TheQueue() {
  static Queue* const queue = new Queue;
  return *queue;
}

// Says once in the journal that standard error misses lines.
void NoteLoss(Queue& queue, const char* why) {
  if (!queue.loss_noted.exchange(true)) journal::Note(std::string("erreur standard : ") + why);
}

void WriteForEver(Queue& queue) {
  std::unique_lock lock(queue.mutex);
  for (;;) {
    queue.changed.wait(lock, [&] { return !queue.waiting.empty(); });
    const std::string lines = std::exchange(queue.waiting, {});
    queue.writing = true;
    lock.unlock();
    const auto outcome = platform::WriteToStandardError(lines);
    if (outcome == platform::StandardErrorWrite::kFailed) {
      NoteLoss(queue, "écriture refusée, des lignes y manquent");
    }
    lock.lock();
    queue.writing = false;
    queue.changed.notify_all();
  }
}

// False when the line is dropped: the queue is full, or no writer can run.
bool Enqueue(Queue& queue, std::string_view line) {
  const std::lock_guard lock(queue.mutex);
  const std::size_t size = line.size() + platform::kStandardErrorLineEnd.size();
  if (queue.waiting.size() + size > base::kStandardErrorQueueBytes) return false;
  if (!queue.started) {
    try {
      std::thread(WriteForEver, std::ref(queue)).detach();
    } catch (const std::system_error&) {
      return false;
    }
    queue.started = true;
  }
  queue.waiting.append(line).append(platform::kStandardErrorLineEnd);
  queue.changed.notify_all();
  return true;
}

}  // namespace

void QueueForStandardError(std::string_view line) {
  Queue& queue = TheQueue();
  if (!Enqueue(queue, line))
    NoteLoss(queue, "le processus hôte ne la lit pas, des lignes y manquent");
}

void DrainStandardError() {
  Queue& queue = TheQueue();
  std::unique_lock lock(queue.mutex);
  queue.changed.wait_for(lock, std::chrono::milliseconds(base::kStandardErrorDrainMilliseconds),
                         [&] { return queue.waiting.empty() && !queue.writing; });
}

}  // namespace lumivane::report
