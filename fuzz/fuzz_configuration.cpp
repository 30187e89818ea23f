// The configuration file reader, on the file's bytes.
//
// Checked: no crash; each of the five values is valid UTF-8 and holds no
// line break.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "config/configuration.h"
#include "oracle.h"

namespace {

using lumivane::fuzz::Check;
using lumivane::fuzz::IsUtf8;
using lumivane::fuzz::Printable;

void CheckValue(const std::string& value, const char* name) {
  Check(IsUtf8(value), std::string(name) + " is not valid UTF-8: \"" + Printable(value) + "\"");
  Check(value.find_first_of("\r\n") == std::string::npos,
        std::string(name) + " holds a line break: \"" + Printable(value) + "\"");
}

void Run(const std::uint8_t* data, std::size_t size) {
  lumivane::config::Configuration fields;
  try {
    fields = lumivane::config::LireConfiguration(
        std::string_view(reinterpret_cast<const char*>(data), size));
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
