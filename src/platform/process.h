#pragma once

#include <string>
#include <vector>

namespace lumivane::platform {

// The folder that holds the running executable, without a trailing separator,
// as the system names it (bytes unchanged); empty when it cannot be found.
std::string ExecutableFolder();

// The user's own folder for the module's pictures, used when the folder
// beside the executable cannot be written: $XDG_DATA_HOME/lumivane/images
// (by default ~/.local/share/lumivane/images) on Linux,
// %LOCALAPPDATA%\Lumivane\images on Windows. Empty when the system names no
// such folder.
std::string UserPicturesFolder();

// The program's arguments after its name. On Windows they are split again
// from the UTF-16 command line (CommandLineToArgvW on GetCommandLineW) and
// given in UTF-8, whatever the ANSI code page; on Linux argv's bytes as they
// are. `argc` and `argv` are main()'s.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The system as the journal's first line names it: "Linux 6.1.0 x86_64",
// "Windows 10.0.19045".
std::string SystemDescription();

}  // namespace lumivane::platform
