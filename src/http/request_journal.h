#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace lumivane::http {

// One line of the support journal per request, the same on every system: the
// method and the address without its query string, then the status, the size
// and the time, or what failed, and the number of tries when more than one.
void NoteRequest(const char* method, const std::string& url, long status, std::size_t bytes,
                 std::chrono::steady_clock::time_point start, const std::string& failure,
                 int attempts = 1);

}  // namespace lumivane::http
