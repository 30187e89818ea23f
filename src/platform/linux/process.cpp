#include "platform/process.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace lumivane::platform {

std::string ExecutableFolder() {
  std::string target(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", target.data(), target.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < target.size()) {
      target.resize(static_cast<std::size_t>(n));
      break;
    }
    if (target.size() >= 1u << 16) return {};
    target.resize(target.size() * 2);
  }
  // An executable removed while it runs is named "<path> (deleted)": its
  // folder is still the right one.
  const std::size_t slash = target.rfind('/');
  if (target.empty() || target.front() != '/' || slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : target.substr(0, slash);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

std::string UserPicturesFolder() {
  // Only absolute paths count, as the XDG rules say.
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data != nullptr && data[0] == '/') return std::string(data) + "/lumivane/images";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share/lumivane/images";
  return {};
}

std::string SystemDescription() {
  utsname system{};
  if (::uname(&system) != 0) return "Linux";
  return std::string(system.sysname) + " " + system.release + " " + system.machine;
}

}  // namespace lumivane::platform
