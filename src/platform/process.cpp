#include "platform/process.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace lumivane::platform {

std::string ExecutableFolder() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) {
      throw std::runtime_error(std::string("Dossier du programme introuvable : ") +
                               std::strerror(errno));
    }
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      break;
    }
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace lumivane::platform
