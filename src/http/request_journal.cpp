#include "http/request_journal.h"

#include "http/url.h"
#include "report/journal.h"

namespace lumivane::http {

void NoteRequest(const char* method, const std::string& url, long status, std::size_t bytes,
                 std::chrono::steady_clock::time_point start, const std::string& failure,
                 int attempts) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  std::string event = std::string("http : ") + method + " " + UrlForDisplay(url) + " : ";
  if (failure.empty()) {
    event += std::to_string(status) + ", " + std::to_string(bytes) + " octets";
  } else {
    event += failure;
  }
  event += ", " + std::to_string(ms) + " ms";
  if (attempts > 1) event += ", " + std::to_string(attempts) + " essais";
  report::journal::Note(event);
}

}  // namespace lumivane::http
