// The gateway's answer as the gateway step reads it.
//
// Input: the content type as FuzzedDataProvider reads a string (it ends at a
// backslash followed by any other character), then the body.
//
// Checked: no crash, a result of 0 or 1, and every field and error line
// valid UTF-8. Unreadable answers throw: a fine outcome.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <exception>
#include <string>

#include "gateway/gateway.h"
#include "oracle.h"

namespace {

using lumivane::fuzz::Check;
using lumivane::fuzz::IsUtf8;
using lumivane::fuzz::Printable;

void CheckText(const std::string& text, const std::string& what) {
  Check(IsUtf8(text), what + " is not valid UTF-8: \"" + Printable(text) + "\"");
}

void Run(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string content_type = in.ConsumeRandomLengthString(256);
  const std::string body = in.ConsumeRemainingBytesAsString();

  lumivane::gateway::GatewayFields fields;
  int result = 0;
  try {
    result = lumivane::gateway::LireReponsePasserelle(body, content_type, fields);
  } catch (const std::exception&) {
    return;
  }
  Check(result == 0 || result == 1, "result " + std::to_string(result));
  CheckText(fields.Jeton, "Jeton");
  CheckText(fields.UrlConnexion, "UrlConnexion");
  CheckText(fields.UrlRecuperation, "UrlRecuperation");
  for (const std::string& line : fields.Erreurs) CheckText(line, "error line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  lumivane::fuzz::RunWithStack(lumivane::fuzz::kStackBudget, [&] { Run(data, size); });
  return 0;
}
