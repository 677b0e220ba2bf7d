// Runs the real job: the Win32 host writes both files into a program folder whose name has a
// space, a percent sign and an accented letter, and launches the script, which the real
// command interpreter runs with a stand-in archiver.
#include <gtest/gtest.h>

#include "common/text.h"
#include "job/job_host_win.h"
#include "job/run_job.h"
#include "tests/job/win_files.h"
#include "tests/support/wait_win.h"

namespace veltrane {
namespace {

using namespace testing;

class RealJob : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(program_folder.c_str(), nullptr);
    CreateDirectoryW(maps_folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((OwnFolder() + L"\\fake_archiver.exe").c_str(), archiver.c_str(), FALSE));
    WriteBytes(map, "MAP-BYTES");
  }

  // Waits until the script has moved the copy to the destination and the archiver has
  // recorded its call; the script runs in its own process.
  bool WaitForTheScript() {
    return WaitUntil(
        [&] { return Exists(destination) && !Exists(kScratch) && Exists(call_record); }, 60);
  }

  TempFolder root{L"Vel tr\x00e9 100%"};
  std::wstring program_folder = root / L"Program Files 5% \x00e9";
  std::wstring maps_folder = root / L"maps \x00e8";
  std::wstring archiver = program_folder + L"\\fake archiver.exe";
  std::wstring call_record = program_folder + L"\\archiver-call.txt";
  std::wstring map = maps_folder + L"\\My Map 50% \x00e9.w3m";
  std::wstring destination = maps_folder + L"\\Protected \x00e9.w3m";
  JobPaths paths{archiver, map, destination, program_folder};
  Win32JobHost host;
};

// The expected script, as code page 437 bytes: 0x82 is e-acute, 0x8A e-grave.
std::string ExpectedScript(const std::string& root, bool with_del) {
  const std::string program = root + "\\Program Files 5%% \x82";
  const std::string maps = root + "\\maps \x8a";
  return "@echo off\r\n"
         "cd \"" +
         program + "\"\r\n" + (with_del ? "del c:\\temp.w3m\r\n" : "") + "copy \"" + maps +
         "\\My Map 50%% \x82.w3m\" c:\\temp.w3m\r\n"
         "\"" +
         program +
         "\\fake archiver.exe\" a  c:\\temp.w3m war3map.wtg war3map.wtg\r\n"
         "move c:\\temp.w3m \"" +
         maps + "\\Protected \x82.w3m\"";
}

std::string RootBytes(const std::wstring& root) {
  auto encoded = Win32JobHost().EncodeForScript(root);
  std::string bytes = encoded ? *encoded : std::string();
  std::string doubled;
  for (const char c : bytes) doubled += c == '%' ? std::string("%%") : std::string(1, c);
  return doubled;
}

TEST_F(RealJob, WritesBothFilesAndTheScriptCopiesAddsAndMoves) {
  DeleteFileW(kScratch.c_str());
  ASSERT_TRUE(RunJob(paths, host));

  EXPECT_EQ(ReadBytes(program_folder + L"\\temp.bat"),
            ExpectedScript(RootBytes(root.path()), false));
  EXPECT_TRUE(Exists(program_folder + L"\\war3map.wtg"));
  EXPECT_EQ(ReadBytes(program_folder + L"\\war3map.wtg"), "");

  ASSERT_TRUE(WaitForTheScript()) << "the script did not finish";
  EXPECT_EQ(ReadBytes(call_record),
            "a\nc:\\temp.w3m\nwar3map.wtg\nwar3map.wtg\ncwd=" + ToUtf8(program_folder) + "\n");
  EXPECT_EQ(ReadBytes(destination), "MAP-BYTES|added war3map.wtg (0 bytes)");
  EXPECT_EQ(ReadBytes(map), "MAP-BYTES");
}

TEST_F(RealJob, ALeftOverScratchMapIsDeletedAndAnExistingDestinationReplaced) {
  WriteBytes(kScratch, "LEFT-OVER");
  WriteBytes(destination, "OLD-DESTINATION");
  ASSERT_TRUE(RunJob(paths, host));

  EXPECT_EQ(ReadBytes(program_folder + L"\\temp.bat"),
            ExpectedScript(RootBytes(root.path()), true));
  ASSERT_TRUE(WaitForTheScript()) << "the script did not finish";
  EXPECT_EQ(ReadBytes(destination), "MAP-BYTES|added war3map.wtg (0 bytes)");
}

}  // namespace
}  // namespace veltrane
