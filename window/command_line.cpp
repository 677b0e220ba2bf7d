#include "window/command_line.h"

#include "common/text.h"

namespace veltrane {
namespace {

Error UsageError(const std::string& what) {
  return Fail(what + "\n\n" + std::string(kUsage));
}

bool IsOption(std::wstring_view argument) {
  return argument.starts_with(L'-');
}

bool AsksForHelp(std::wstring_view argument) {
  return argument == L"--help" || argument == L"-h" || argument == L"/?";
}

Result<> TakePath(CommandLine& line, const std::wstring& path) {
  if (!line.map) {
    line.map = path;
  } else if (!line.destination) {
    line.destination = path;
  } else {
    return UsageError("Too many paths: " + QuotedUtf8(path) +
                      " comes after the map and the destination.");
  }
  return {};
}

}  // namespace

Result<CommandLine> ParseCommandLine(std::span<const std::wstring> arguments) {
  CommandLine line;
  bool only_paths = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (!only_paths && AsksForHelp(argument)) {
      CommandLine help;
      help.help = true;
      return help;
    }
    if (only_paths || !IsOption(argument)) {
      if (auto taken = TakePath(line, argument); !taken) return taken.error();
    } else if (argument == L"--") {
      only_paths = true;
    } else if (argument == L"--archiver") {
      if (i + 1 == arguments.size()) return UsageError("The option --archiver needs a path.");
      line.archiver = arguments[++i];
    } else if (argument == L"--start") {
      line.start = true;
    } else if (argument == kRestartedOption) {
      line.restarted = true;
    } else {
      return UsageError("Unknown option " + QuotedUtf8(argument) + ".");
    }
  }
  return line;
}

std::vector<std::wstring> RestartArguments(const std::wstring& archiver, const std::wstring& map,
                                           const std::wstring& destination) {
  return {
      std::wstring(kRestartedOption), L"--start", L"--archiver", archiver, L"--", map, destination};
}

std::wstring QuoteArgument(std::wstring_view argument) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count as escapes only before a quote: there each one is doubled, and
    // one more escapes the quote itself.
    const size_t escaped = c == L'"' ? 2 * backslashes + 1 : backslashes;
    quoted.append(escaped, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');  // the closing quote follows them
  quoted += L'"';
  return quoted;
}

std::wstring JoinArguments(std::span<const std::wstring> arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) {
    if (!line.empty()) line += L' ';
    line += QuoteArgument(argument);
  }
  return line;
}

}  // namespace veltrane
