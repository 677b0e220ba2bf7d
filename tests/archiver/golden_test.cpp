// Reference bytes shared with the Windows build: the native mpqadd must turn each committed
// archive into the committed expected archive, byte for byte; golden/run_golden.sh checks
// mpqadd.exe under Wine against the same files, so both builds give identical bytes.
#include <StormLib.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "storm_fixture.h"

namespace veltrane::mpq::test {
namespace {

const std::filesystem::path kGolden = GOLDEN_DIR;
constexpr time_t kInputTime = 1600000000;  // the run script sets the same modification time

struct GoldenCase {
  std::string archive, input, name, expected;
};

std::vector<GoldenCase> LoadCases() {
  std::ifstream in(kGolden / "cases.txt");
  std::vector<GoldenCase> cases;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    GoldenCase c;
    if (fields >> c.archive >> c.input >> c.name >> c.expected) cases.push_back(c);
  }
  return cases;
}

void SetInputTime(const std::filesystem::path& path) {
  const timespec times[2] = {{kInputTime, 0}, {kInputTime, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Runs mpqadd on a copy of the case's archive; the resulting bytes.
Bytes RunCase(const GoldenCase& c) {
  TempDir dir;
  std::filesystem::copy_file(kGolden / c.archive, dir / "map.w3m");
  std::filesystem::copy_file(kGolden / c.input, dir / c.input);
  SetInputTime(dir / c.input);
  const RunResult run = RunTool({"a", "map.w3m", c.input, c.name}, dir.path());
  EXPECT_EQ(run.exit_code, 0) << run.err;
  return ReadBytes(dir / "map.w3m");
}

TEST(Golden, NativeOutputMatchesReferenceBytes) {
  const auto cases = LoadCases();
  ASSERT_FALSE(cases.empty());
  for (const auto& c : cases) {
    EXPECT_EQ(RunCase(c), ReadBytes(kGolden / c.expected)) << c.archive;
    EXPECT_EQ(StormRead(kGolden / c.expected, c.name), ReadBytes(kGolden / c.input)) << c.archive;
  }
}

// Writes the committed files anew: run with --gtest_also_run_disabled_tests.
TEST(Golden, DISABLED_Regenerate) {
  ArchiveRecipe plain;
  plain.members = {{"war3map.j", MakeContent(20000, 1)}, {"war3map.w3e", MakeContent(9000, 2)}};
  CreateArchive(kGolden / "plain.w3m", plain);
  ArchiveRecipe hidden = plain;
  hidden.internal_flags = MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY;
  hidden.members.push_back({"war3map.wts", MakeContent(5000, 3), MPQ_FILE_ENCRYPTED});
  CreateArchive(kGolden / "hidden.tmp", hidden);
  Bytes preamble(512, std::byte{0});
  const Bytes body = ReadBytes(kGolden / "hidden.tmp");
  preamble.insert(preamble.end(), body.begin(), body.end());
  WriteBytes(kGolden / "hidden.w3m", preamble);
  std::filesystem::remove(kGolden / "hidden.tmp");
  WriteBytes(kGolden / "war3map.wtg", MakeContent(7000, 4));
  WriteBytes(kGolden / "strings-\xc3\xa9t\xc3\xa9.txt", MakeContent(3000, 5, false));
  std::ofstream(kGolden / "cases.txt")
      << "plain.w3m war3map.wtg war3map.wtg plain.expected.w3m\n"
      << "hidden.w3m strings-\xc3\xa9t\xc3\xa9.txt war3map.wts hidden.expected.w3m\n";
  for (const auto& c : LoadCases()) WriteBytes(kGolden / c.expected, RunCase(c));
}

}  // namespace
}  // namespace veltrane::mpq::test
