#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "window/command_line.h"

namespace veltrane {
namespace {

using Text = std::optional<std::wstring>;

struct ParseCase {
  const char* what;
  std::vector<std::wstring> arguments;
  Text archiver = {}, map = {}, destination = {};
  bool start = false;
  bool restarted = false;
  bool help = false;
};

TEST(CommandLineTest, OptionsAndPathsInAnyOrderFillTheBoxes) {
  const ParseCase cases[] = {
      {"nothing", {}, {}, {}, {}},
      {"a map alone, as a drop on the icon gives it",
       {L"C:\\maps\\a b.w3m"},
       {},
       L"C:\\maps\\a b.w3m",
       {}},
      {"map and destination", {L"a.w3m", L"b.w3m"}, {}, L"a.w3m", L"b.w3m"},
      {"all options first",
       {L"--archiver", L"C:\\mpq.exe", L"--start", L"a.w3m", L"b.w3m"},
       L"C:\\mpq.exe",
       L"a.w3m",
       L"b.w3m",
       true},
      {"options after and between paths",
       {L"a.w3m", L"--start", L"b.w3m", L"--archiver", L"x.exe"},
       L"x.exe",
       L"a.w3m",
       L"b.w3m",
       true},
      {"an empty archiver and empty paths are texts too",
       {L"--archiver", L"", L"", L""},
       L"",
       L"",
       L""},
      {"the value of --archiver is taken as it is",
       {L"--archiver", L"--start"},
       L"--start",
       {},
       {}},
      {"the last --archiver counts",
       {L"--archiver", L"1.exe", L"--archiver", L"2.exe"},
       L"2.exe",
       {},
       {}},
      {"paths after -- may start with -",
       {L"--", L"-a.w3m", L"--start"},
       {},
       L"-a.w3m",
       L"--start"},
      {"the restart's own arguments", RestartArguments(L"C:\\m.exe", L"a.w3m", L"-b.w3m"),
       L"C:\\m.exe", L"a.w3m", L"-b.w3m", true, true},
      {"--help", {L"--help"}, {}, {}, {}, false, false, true},
      {"-h after a path", {L"a.w3m", L"-h"}, {}, {}, {}, false, false, true},
      {"/? wins over a bad option after it", {L"/?", L"--bogus"}, {}, {}, {}, false, false, true},
      {"/? after -- is a path", {L"--", L"/?"}, {}, L"/?", {}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto parsed = ParseCommandLine(c.arguments);
    ASSERT_TRUE(parsed) << parsed.message();
    EXPECT_EQ(parsed->archiver, c.archiver);
    EXPECT_EQ(parsed->map, c.map);
    EXPECT_EQ(parsed->destination, c.destination);
    EXPECT_EQ(parsed->start, c.start);
    EXPECT_EQ(parsed->restarted, c.restarted);
    EXPECT_EQ(parsed->help, c.help);
  }
}

struct RefusedCase {
  const char* what;
  std::vector<std::wstring> arguments;
  const char* error;  // the start of the message
};

TEST(CommandLineTest, AnythingElseGivesTheUsage) {
  const RefusedCase cases[] = {
      {"a missing value", {L"a.w3m", L"--archiver"}, "The option --archiver needs a path."},
      {"three paths", {L"a.w3m", L"b.w3m", L"c.w3m"}, "Too many paths: \"c.w3m\""},
      {"three paths after --", {L"--", L"a", L"b", L"--"}, "Too many paths: \"--\""},
      {"an unknown option", {L"--bogus"}, "Unknown option \"--bogus\"."},
      {"a single dash is an option", {L"-s", L"a.w3m"}, "Unknown option \"-s\"."},
      {"options are spelled exactly", {L"--Start"}, "Unknown option \"--Start\"."},
      {"a value joined by =", {L"--archiver=x.exe"}, "Unknown option \"--archiver=x.exe\"."},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.what);
    const auto parsed = ParseCommandLine(c.arguments);
    ASSERT_FALSE(parsed);
    EXPECT_TRUE(parsed.message().starts_with(c.error)) << parsed.message();
    EXPECT_TRUE(parsed.message().ends_with(kUsage)) << parsed.message();
  }
}

}  // namespace
}  // namespace veltrane
