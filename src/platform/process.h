#pragma once

#include <string>
#include <vector>

namespace lumivane::platform {

// The folder that holds the running executable, without a final separator,
// in UTF-8 on Windows (from GetModuleFileNameW) and as the bytes of
// /proc/self/exe on Linux. Throws std::runtime_error when the system cannot
// tell.
std::string ExecutableFolder();

// The program's arguments after its name. On Windows they are split again
// from the UTF-16 command line (CommandLineToArgvW on GetCommandLineW) and
// given in UTF-8, whatever the ANSI code page; on Linux argv's bytes as they
// are. `argc` and `argv` are main()'s.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace lumivane::platform
