// Test helper: writes its arguments after the first, one per line in UTF-8,
// into the file named by the first.
#include <exception>
#include <string>

#include "platform/files.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  try {
    const auto arguments = lumivane::platform::CommandLineArguments(argc, argv);
    if (arguments.empty()) return 2;
    std::string text;
    for (std::size_t i = 1; i < arguments.size(); ++i) text += arguments[i] + "\n";
    lumivane::platform::ReplaceFileContents(arguments[0], text);
    return 0;
  } catch (const std::exception&) {
    return 1;
  }
}
