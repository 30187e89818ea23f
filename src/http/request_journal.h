#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "base/cancellation.h"
#include "http/http.h"

namespace lumivane::http {

// One line of the support journal per request, the same on every system: the
// method and the address without its query string, then the status, the size
// and the time, or what failed, and the number of tries when more than one.
void NoteRequest(const char* method, const std::string& url, long status, std::size_t bytes,
                 std::chrono::steady_clock::time_point start, const std::string& failure,
                 int attempts = 1);

// Runs `perform` (the request with its redirects) and notes it: with the
// status and the bytes it left in `status` and `bytes`, once it returns or
// fails, or as "annulée" when the user stopped it.
template <typename Perform>
std::string NotedRequest(const char* method, const std::string& url, const long& status,
                         const std::size_t& bytes, Perform perform) {
  const auto start = std::chrono::steady_clock::now();
  try {
    std::string answer = perform();
    NoteRequest(method, url, status, bytes, start, {});
    return answer;
  } catch (const base::OperationCancelled&) {
    NoteRequest(method, url, 0, 0, start, "annulée");
    throw;
  } catch (const HttpError& error) {
    NoteRequest(method, url, status, bytes, start, error.what());
    throw;
  }
}

}  // namespace lumivane::http
