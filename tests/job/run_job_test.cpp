#include "job/run_job.h"

#include <gtest/gtest.h>

#include "job/compose_script.h"
#include "tests/job/ready_host.h"

namespace veltrane {
namespace {

using namespace testing;

std::string Bytes(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

std::vector<std::string> Operations(const std::vector<FakeJobHost::Call>& calls) {
  std::vector<std::string> operations;
  for (const auto& call : calls) operations.push_back(call.operation);
  return operations;
}

TEST(RunJob, WritesPlaceholderThenAsksThenWritesScriptThenLaunches) {
  FakeJobHost host = ReadyHost();
  ASSERT_TRUE(RunJob(kPaths, host));

  const auto steps = Steps(host);
  ASSERT_EQ(Operations(steps),
            (std::vector<std::string>{"write", "exists", "write", "identify", "launch"}));
  EXPECT_EQ(steps[0].path, L"C:\\Tools\\Veltrane\\war3map.wtg");
  EXPECT_EQ(steps[0].bytes, "");
  EXPECT_EQ(steps[1].path, L"c:\\temp.w3m");
  EXPECT_EQ(steps[2].path, L"C:\\Tools\\Veltrane\\temp.bat");
  EXPECT_EQ(steps[2].bytes, Bytes(ComposeScript(kPaths, false)));
  EXPECT_EQ(steps[3].path, L"c:\\MyMapProtected.w3m") << "the destination before the launch";
  EXPECT_EQ(steps[4].path, L"C:\\Tools\\Veltrane\\temp.bat");
  EXPECT_EQ(steps[4].bytes, "C:\\Tools\\Veltrane") << "the launch's working folder";
}

struct Accepted {
  const char* label;
  JobPaths paths;
  void (*arrange)(FakeJobHost&);
  const wchar_t* destination_full;  // where the script moves the copy
};

class RunJobAccepts : public ::testing::TestWithParam<Accepted> {};

// Paths are taken as the script takes them, from the program folder.
TEST_P(RunJobAccepts, AndKnowsWhereTheScriptMovesTheCopy) {
  FakeJobHost host = ReadyHost();
  GetParam().arrange(host);
  const auto launch = RunJob(GetParam().paths, host);
  ASSERT_TRUE(launch) << launch.message();
  EXPECT_EQ(launch->destination, GetParam().paths.destination);
  EXPECT_EQ(launch->destination_full, GetParam().destination_full);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, RunJobAccepts,
    ::testing::Values(Accepted{"Relative",
                               {kPaths.archiver, L"m.w3m", L"out.w3m", L"C:\\Tools\\Veltrane"},
                               Nothing,
                               L"C:\\Tools\\Veltrane\\out.w3m"},
                      Accepted{"RootedOnTheProgramsDrive",
                               {kPaths.archiver, L"m.w3m", L"\\out.w3m", L"C:\\Tools\\Veltrane"},
                               Nothing,
                               L"C:\\out.w3m"},
                      Accepted{"DriveRelativeOnTheProgramsDrive",
                               {kPaths.archiver, L"m.w3m", L"c:out.w3m", L"C:\\Tools\\Veltrane"},
                               Nothing,
                               L"C:\\Tools\\Veltrane\\out.w3m"},
                      Accepted{"ProgramInADriveRoot",
                               {kPaths.archiver, L"m.w3m", L"out.w3m", L"C:\\"},
                               [](FakeJobHost& h) { h.existing_files.insert(L"C:\\m.w3m"); },
                               L"C:\\out.w3m"},
                      Accepted{"ArchiverAlongPath",
                               {L"mpqadd", L"m.w3m", L"c:\\out.w3m", L"C:\\Tools\\Veltrane"},
                               [](FakeJobHost& h) {
                                 h.environment[L"PATH"] = L"C:\\Windows;\"C:\\bin\";";
                                 h.existing_files.insert(L"C:\\bin\\mpqadd.EXE");
                               },
                               L"c:\\out.w3m"},
                      Accepted{
                          "ArchiverInTheProgramFolder",
                          {L"tools\\mpqadd.exe", L"m.w3m", L"c:\\out.w3m", L"C:\\Tools\\Veltrane"},
                          [](FakeJobHost& h) {
                            h.existing_files.insert(L"C:\\Tools\\Veltrane\\tools\\mpqadd.exe");
                          },
                          L"c:\\out.w3m"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(RunJob, TheLaunchKeepsTheDestinationsIdentityBeforeTheLaunch) {
  FakeJobHost host = ReadyHost();
  JobPaths paths = kPaths;
  paths.destination = L"out.w3m";
  host.identities[L"C:\\Tools\\Veltrane\\out.w3m"] = {7, 42, 100, 5};
  const auto launch = RunJob(paths, host);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->destination_before, (FileIdentity{7, 42, 100, 5}));
}

TEST(RunJob, AnAbsentScratchMapNeedsNoDeleteCheck) {
  FakeJobHost host = ReadyHost();
  host.scratch_undeletable = true;
  EXPECT_TRUE(RunJob(kPaths, host));
}

TEST(RunJob, TheDelLineFollowsWhetherTheScratchMapExistsWhenComposing) {
  FakeJobHost host = ReadyHost();
  host.existing_files.insert(L"c:\\temp.w3m");
  ASSERT_TRUE(RunJob(kPaths, host));
  EXPECT_EQ(Steps(host)[2].bytes, Bytes(ComposeScript(kPaths, true)));
}

// A drive root ends in its separator already: the files beside the program get no second one.
TEST(RunJob, DriveRootFolderIsUsedAsGiven) {
  FakeJobHost host = ReadyHost();
  JobPaths paths = kPaths;
  paths.program_folder = L"C:\\";
  ASSERT_TRUE(RunJob(paths, host));
  const auto steps = Steps(host);
  EXPECT_EQ(steps[0].path, L"C:\\war3map.wtg");
  EXPECT_EQ(steps[4].path, L"C:\\temp.bat");
}

// A failed write names its file and stops the run there.
TEST(RunJob, AFailedWriteStopsTheRunThere) {
  const std::pair<std::wstring, std::vector<std::string>> cases[] = {
      {L"C:\\Tools\\Veltrane\\war3map.wtg", {"write"}},
      {L"C:\\Tools\\Veltrane\\temp.bat", {"write", "exists", "write"}}};
  for (const auto& [path, steps] : cases) {
    FakeJobHost host = ReadyHost();
    host.failing_write = path;
    const auto result = RunJob(kPaths, host);
    ASSERT_FALSE(result);
    EXPECT_NE(result.message().find(Bytes(path)), std::string::npos);
    EXPECT_EQ(Operations(Steps(host)), steps);
  }
}

TEST(RunJob, AFailedLaunchComesBackWithItsMessage) {
  FakeJobHost host = ReadyHost();
  host.launch_fails = true;
  const auto result = RunJob(kPaths, host);
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find("temp.bat"), std::string::npos);
}

TEST(RunJob, LatinLettersThatTheCodePageHoldsAreAccepted) {
  FakeJobHost host = ReadyHost();
  JobPaths paths = kPaths;
  paths.map = L"c:\\Cart\x00e9s.w3m";
  host.existing_files.insert(paths.map);
  ASSERT_TRUE(RunJob(paths, host));
  EXPECT_NE(Steps(host)[2].bytes.find("Cart\xe9s.w3m"), std::string::npos);
}

}  // namespace
}  // namespace veltrane
