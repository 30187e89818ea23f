// The configuration file reader.
//
// Checked: no crash; each of the five values is valid UTF-8 and holds no
// line break.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "oracle.h"

#if !LUMIVANE_FUZZ_CONFIG_FROM_BYTES
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

using lumivane::fuzz::Check;
using lumivane::fuzz::IsUtf8;
using lumivane::fuzz::Printable;

class NoMessages : public lumivane::platform::MessagePort {
 public:
  void ShowMessage(const std::string& text) override {
    lumivane::fuzz::Fail("message shown for an existing file: " + Printable(text));
  }
};

#if LUMIVANE_FUZZ_CONFIG_FROM_BYTES
bool Read(std::string_view bytes, lumivane::config::Configuration& fields) {
  fields = lumivane::config::LireConfiguration(bytes);
  return true;
}
#else
// The reader takes a path: the input goes through one temporary file,
// rewritten for every input and removed at exit.
const std::string& TemporaryFile() {
  static const std::string path = [] {
    const char* folder = std::getenv("TMPDIR");
    std::string name = std::string(folder && *folder ? folder : "/tmp") + "/fuzz_ini.XXXXXX";
    const int fd = mkstemp(name.data());
    Check(fd >= 0, "mkstemp: " + std::string(std::strerror(errno)));
    close(fd);
    std::atexit([] { std::remove(TemporaryFile().c_str()); });
    return name;
  }();
  return path;
}

bool Read(std::string_view bytes, lumivane::config::Configuration& fields) {
  const std::string& path = TemporaryFile();
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Check(file != nullptr, "cannot open " + path + ": " + std::strerror(errno));
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  Check(std::fclose(file) == 0 && written, "cannot write " + path);
  NoMessages messages;
  return !lumivane::config::ChargerConfiguration(path, fields, messages);
}
#endif

void CheckValue(const std::string& value, const char* name) {
  Check(IsUtf8(value), std::string(name) + " is not valid UTF-8: \"" + Printable(value) + "\"");
  Check(value.find_first_of("\r\n") == std::string::npos,
        std::string(name) + " holds a line break: \"" + Printable(value) + "\"");
}

void Run(const std::uint8_t* data, std::size_t size) {
  lumivane::config::Configuration fields;
  try {
    if (!Read(std::string_view(reinterpret_cast<const char*>(data), size), fields)) return;
  } catch (const std::exception&) {
    return;
  }
  CheckValue(fields.Version, "Version");
  CheckValue(fields.Configurateur, "Configurateur");
  CheckValue(fields.Identifiant, "Identifiant");
  CheckValue(fields.MotDePasse, "MotDePasse");
  CheckValue(fields.JetonPasserelle, "JetonPasserelle");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumivane::fuzz::RunWithStack(lumivane::fuzz::kStackBudget, [&] { Run(data, size); });
  return 0;
}
