// The program in the root of a drive: its folder keeps the root's separator ("R:\"; "R:"
// alone names the drive's current folder), and the job writes, launches and runs there.
// drive_root.sh runs this from a drive letter that Wine maps to a fresh folder; run from
// anywhere else, it is skipped.
#include <gtest/gtest.h>

#include <cstdlib>

#include "common/text.h"
#include "job/job_host_win.h"
#include "job/run_job.h"
#include "tests/job/win_files.h"

namespace veltrane {
namespace {

using testing::Exists;
using testing::ReadBytes;
using testing::WriteBytes;

TEST(DriveRoot, ProgramFolderKeepsItsSeparatorAndTheJobRunsThere) {
  const wchar_t* root = _wgetenv(L"VELTRANE_TEST_DRIVE_ROOT");
  if (root == nullptr) GTEST_SKIP() << "run from a drive root by drive_root.sh";
  const auto folder = ProgramFolder();
  ASSERT_TRUE(folder) << folder.message();
  ASSERT_EQ(_wcsicmp(folder->c_str(), root), 0) << ToUtf8(*folder);

  const JobPaths paths{*folder + L"fake_archiver.exe", *folder + L"map.w3m",
                       *folder + L"protected.w3m", *folder};
  WriteBytes(paths.map, "MAP-BYTES");
  DeleteFileW(L"c:\\temp.w3m");
  Win32JobHost host;
  const auto launched = RunJob(paths, host);
  ASSERT_TRUE(launched) << launched.message();

  const std::string script = ReadBytes(*folder + L"temp.bat");
  EXPECT_NE(script.find("cd \"" + ToUtf8(*folder) + "\"\r\n"), std::string::npos) << script;
  EXPECT_TRUE(Exists(*folder + L"war3map.wtg"));
  for (int tries = 0; tries < 300 && !Exists(paths.destination); ++tries) Sleep(100);
  // The archiver found the placeholder by its relative name: the script ran in the root.
  EXPECT_EQ(ReadBytes(paths.destination), "MAP-BYTES|added war3map.wtg (0 bytes)");
}

// The map's folder through a second drive letter is the same folder: a destination there
// under the map's name is the map, and the job is refused with the map untouched.
TEST(DriveRoot, TheMapThroughASecondDriveLetterIsRefused) {
  const wchar_t* root = _wgetenv(L"VELTRANE_TEST_DRIVE_ROOT");
  const wchar_t* second = _wgetenv(L"VELTRANE_TEST_SECOND_DRIVE");
  if (root == nullptr || second == nullptr) GTEST_SKIP() << "run by drive_root.sh";
  const std::wstring folder = root;
  const JobPaths paths{folder + L"fake_archiver.exe", folder + L"same.w3m",
                       std::wstring(second) + L"same.w3m", folder};
  WriteBytes(paths.map, "MAP-BYTES");
  Win32JobHost host;
  const auto refused = RunJob(paths, host);
  ASSERT_FALSE(refused) << "the job ran";
  EXPECT_NE(refused.message().find("names the same file as the map path"), std::string::npos)
      << refused.message();
  EXPECT_EQ(ReadBytes(paths.map), "MAP-BYTES");
}

}  // namespace
}  // namespace veltrane
