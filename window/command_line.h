#pragma once
// The program's command line, read from the arguments as CommandLineToArgvW splits them and
// written back in the same form for a restart.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace veltrane {

// What the command line asks of the window.
struct CommandLine {
  std::optional<std::wstring> archiver;     // fills the archiver box, stored on exit as if typed
  std::optional<std::wstring> map;          // fills the map box
  std::optional<std::wstring> destination;  // fills the destination box
  bool start = false;                       // starts the job once the window is shown
  bool restarted = false;  // this instance was started by "Restart as administrator"
  bool help = false;       // --help, -h or /?: the usage is shown, and nothing else is done
};

// Marks the instance that "Restart as administrator" starts; not for users, so not in the
// usage. Such an instance never asks again: a restart that did not elevate would loop.
inline constexpr std::wstring_view kRestartedOption = L"--restarted-as-administrator";

inline constexpr std::string_view kUsage =
    "Usage: veltrane.exe [--archiver PATH] [--start] [--] [MAP [DESTINATION]]\n"
    "       veltrane.exe --help | -h | /?\n"
    "\n"
    "MAP is the map to protect, DESTINATION where its protected copy goes (by default\n"
    "\"<MAP's name> protected\" beside the map).\n"
    "--archiver PATH names the archiver; it is remembered as if typed.\n"
    "--start starts the job once the window is shown.\n"
    "After --, every argument is a path, even one that starts with \"-\".";

// Reads the arguments that follow the program's name. A request for help before "--" wins
// over anything else. An unknown option, an option without its value, or more than two
// paths fails with a message that ends with the usage.
Result<CommandLine> ParseCommandLine(std::span<const std::wstring> arguments);

// The arguments of the instance that "Restart as administrator" starts: the three box texts
// verbatim, "--start" and the restart mark.
std::vector<std::wstring> RestartArguments(const std::wstring& archiver, const std::wstring& map,
                                           const std::wstring& destination);

// The argument between double quotes as CommandLineToArgvW reads it back exactly: a run of
// backslashes before a quote or before the closing quote is doubled, and a quote inside is
// escaped with a backslash.
std::wstring QuoteArgument(std::wstring_view argument);

// The arguments quoted and joined by spaces: a command line's parameters.
std::wstring JoinArguments(std::span<const std::wstring> arguments);

}  // namespace veltrane
