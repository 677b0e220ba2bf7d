#include "job/run_job.h"

#include <gtest/gtest.h>

#include "job/compose_script.h"
#include "tests/job/fake_job_host.h"

namespace veltrane {
namespace {

using testing::FakeJobHost;

const JobPaths kPaths{L"c:\\mpq2k\\mpq2k.exe", L"c:\\MyMap.w3m", L"c:\\MyMapProtected.w3m",
                      L"C:\\Tools\\Veltrane"};

std::string Bytes(const std::wstring& text) {
  return std::string(text.begin(), text.end());
}

std::vector<std::string> Operations(const FakeJobHost& host) {
  std::vector<std::string> operations;
  for (const auto& call : host.calls) operations.push_back(call.operation);
  return operations;
}

TEST(RunJob, WritesPlaceholderThenAsksThenWritesScriptThenLaunches) {
  FakeJobHost host;
  ASSERT_TRUE(RunJob(kPaths, host));

  ASSERT_EQ(Operations(host),
            (std::vector<std::string>{"exists", "write", "exists", "write", "identify", "launch"}));
  host.calls.erase(host.calls.begin());  // the scratch check's own question
  EXPECT_EQ(host.calls[0].path, L"C:\\Tools\\Veltrane\\war3map.wtg");
  EXPECT_EQ(host.calls[0].bytes, "");
  EXPECT_EQ(host.calls[1].path, L"c:\\temp.w3m");
  EXPECT_EQ(host.calls[2].path, L"C:\\Tools\\Veltrane\\temp.bat");
  EXPECT_EQ(host.calls[2].bytes, Bytes(ComposeScript(kPaths, false)));
  EXPECT_EQ(host.calls[3].path, L"c:\\MyMapProtected.w3m") << "the destination before the launch";
  EXPECT_EQ(host.calls[4].path, L"C:\\Tools\\Veltrane\\temp.bat");
  EXPECT_EQ(host.calls[4].bytes, "C:\\Tools\\Veltrane") << "the launch's working folder";
}

TEST(RunJob, TheLaunchKeepsTheDestinationAndItsIdentityBeforeTheLaunch) {
  FakeJobHost host;
  JobPaths paths = kPaths;
  paths.destination = L"out.w3m";
  host.identities[L"C:\\Tools\\Veltrane\\out.w3m"] = {7, 42, 100, 5};
  const auto launch = RunJob(paths, host);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->destination, L"out.w3m");
  EXPECT_EQ(launch->destination_full, L"C:\\Tools\\Veltrane\\out.w3m");
  EXPECT_EQ(launch->destination_before, (FileIdentity{7, 42, 100, 5}));
}

struct EarlyRefusal {
  const char* label;
  void (*arrange)(FakeJobHost&);
  const char* says;
};

class RunJobRefusesFirst : public ::testing::TestWithParam<EarlyRefusal> {};

// These come before the input checks: the paths here would be refused too.
TEST_P(RunJobRefusesFirst, WritingAndLaunchingNothing) {
  FakeJobHost host;
  GetParam().arrange(host);
  const auto result = RunJob(JobPaths{L"a\"", L"s", L"s", L"C:\\V"}, host);
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find(GetParam().says), std::string::npos) << result.message();
  for (const auto& call : host.calls) EXPECT_EQ(call.operation, "exists");
}

INSTANTIATE_TEST_SUITE_P(
    RunningJobOrScratch, RunJobRefusesFirst,
    ::testing::Values(EarlyRefusal{"JobRunning", [](FakeJobHost& h) { h.script_running = true; },
                                   "A job is still running"},
                      EarlyRefusal{"RootRefusesNewFiles",
                                   [](FakeJobHost& h) { h.root_refuses_new_files = true; },
                                   "Cannot create \"c:\\temp.w3m\": denied"},
                      EarlyRefusal{"ScratchUndeletable",
                                   [](FakeJobHost& h) {
                                     h.existing_files.insert(L"c:\\temp.w3m");
                                     h.scratch_undeletable = true;
                                   },
                                   "Cannot delete \"c:\\temp.w3m\": denied"},
                      EarlyRefusal{"AdviceForTheScratch",
                                   [](FakeJobHost& h) { h.root_refuses_new_files = true; },
                                   "Run Veltrane as administrator."}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(RunJob, AnAbsentScratchMapNeedsNoDeleteCheck) {
  FakeJobHost host;
  host.scratch_undeletable = true;
  EXPECT_TRUE(RunJob(kPaths, host));
}

TEST(RunJob, TheDelLineFollowsWhetherTheScratchMapExistsWhenComposing) {
  FakeJobHost host;
  host.existing_files.insert(L"c:\\temp.w3m");
  ASSERT_TRUE(RunJob(kPaths, host));
  EXPECT_EQ(host.calls[3].bytes, Bytes(ComposeScript(kPaths, true)));
}

TEST(RunJob, DriveRootFolderIsUsedAsGiven) {
  FakeJobHost host;
  JobPaths paths = kPaths;
  paths.program_folder = L"C:\\";
  ASSERT_TRUE(RunJob(paths, host));
  EXPECT_EQ(host.calls[1].path, L"C:\\\\war3map.wtg");
  EXPECT_EQ(host.calls[5].path, L"C:\\\\temp.bat");
}

TEST(RunJob, EmptyOrNonsensicalPathsStillWriteBothFilesAndLaunch) {
  FakeJobHost host;
  ASSERT_TRUE(RunJob(JobPaths{L"", L"*.w3m", L"  ", L"C:\\Tools"}, host));
  EXPECT_EQ(Operations(host),
            (std::vector<std::string>{"exists", "write", "exists", "write", "identify", "launch"}));
}

TEST(RunJob, AFailedWriteStopsTheRunAndKeepsEarlierSteps) {
  FakeJobHost host;
  host.failing_write = L"C:\\Tools\\Veltrane\\temp.bat";
  const auto result = RunJob(kPaths, host);
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find("C:\\Tools\\Veltrane\\temp.bat"), std::string::npos);
  EXPECT_EQ(Operations(host), (std::vector<std::string>{"exists", "write", "exists", "write"}));
  EXPECT_TRUE(host.existing_files.count(L"C:\\Tools\\Veltrane\\war3map.wtg"));
}

TEST(RunJob, AFailedPlaceholderWriteWritesNoScript) {
  FakeJobHost host;
  host.failing_write = L"C:\\Tools\\Veltrane\\war3map.wtg";
  ASSERT_FALSE(RunJob(kPaths, host));
  EXPECT_EQ(Operations(host), (std::vector<std::string>{"exists", "write"}));
}

TEST(RunJob, AFailedLaunchComesBackWithItsMessage) {
  FakeJobHost host;
  host.launch_fails = true;
  const auto result = RunJob(kPaths, host);
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find("temp.bat"), std::string::npos);
}

struct Refusal {
  const char* label;
  JobPaths paths;
  const char* named_box;
};

class RunJobRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(RunJobRefuses, BeforeAnythingIsWrittenAndNamesTheBox) {
  FakeJobHost host;
  const auto result = RunJob(GetParam().paths, host);
  ASSERT_FALSE(result);
  EXPECT_EQ(Operations(host), std::vector<std::string>{"exists"}) << "the scratch check only";
  EXPECT_NE(result.message().find(GetParam().named_box), std::string::npos) << result.message();
}

INSTANTIATE_TEST_SUITE_P(
    UnsafeInputs, RunJobRefuses,
    ::testing::Values(
        Refusal{
            "QuoteInArchiver", {L"c:\\a\" & calc & \".exe", L"s", L"d", L"C:\\V"}, "archiver path"},
        Refusal{"LineFeedInSource", {L"a", L"c:\\m.w3m\ndel c:\\*", L"d", L"C:\\V"}, "map path"},
        Refusal{"CarriageReturnInDestination",
                {L"a", L"s", L"c:\\x\r.w3m", L"C:\\V"},
                "destination path"},
        Refusal{"NulInSource", {L"a", std::wstring(L"c:\\m\0x", 6), L"d", L"C:\\V"}, "map path"},
        Refusal{"QuoteInFolder", {L"a", L"s", L"d", L"C:\\V\""}, "program folder"},
        Refusal{"NoByteInCodePage", {L"a", L"s", L"c:\\\x0416.w3m", L"C:\\V"}, "destination path"},
        Refusal{"SameFile", {L"a", L"c:\\Map.w3m", L"c:\\Map.w3m", L"C:\\V"}, "same file"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(RunJob, SameFileRefusalReliesOnTheHostsComparison) {
  FakeJobHost host;
  host.paths_are_same = true;
  ASSERT_FALSE(RunJob(kPaths, host));
  EXPECT_EQ(Operations(host), std::vector<std::string>{"exists"});
}

TEST(RunJob, LatinLettersThatTheCodePageHoldsAreAccepted) {
  FakeJobHost host;
  JobPaths paths = kPaths;
  paths.source = L"c:\\Cart\x00e9s.w3m";
  ASSERT_TRUE(RunJob(paths, host));
  EXPECT_NE(host.calls[3].bytes.find("Cart\xe9s.w3m"), std::string::npos);
}

}  // namespace
}  // namespace veltrane
