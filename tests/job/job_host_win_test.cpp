#include "job/job_host_win.h"

#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "common/text.h"
#include "tests/job/win_files.h"
#include "tests/support/wait_win.h"

namespace veltrane {
namespace {

using testing::Exists;
using testing::WaitUntil;

// Opens the file the way the command interpreter holds a running script: others may read
// it, but not replace it.
HANDLE HoldOpen(const std::wstring& path) {
  return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}
using testing::ReadBytes;
using testing::TempFolder;
using testing::WriteBytes;

TEST(Win32JobHost, WriteFileCreatesAndReplacesAndLeavesNothingBeside) {
  TempFolder folder(L"host write");
  Win32JobHost host;
  const std::wstring path = folder / L"temp.bat";
  ASSERT_TRUE(host.WriteFile(path, "first version, longer"));
  ASSERT_TRUE(host.WriteFile(path, "second"));
  EXPECT_EQ(ReadBytes(path), "second");
  ASSERT_TRUE(host.WriteFile(folder / L"war3map.wtg", ""));
  EXPECT_TRUE(Exists(folder / L"war3map.wtg"));
  EXPECT_EQ(ReadBytes(folder / L"war3map.wtg"), "");
  EXPECT_FALSE(Exists(path + L".new"));
}

TEST(Win32JobHost, WriteFileFailureNamesThePathAndTheSystemsReason) {
  TempFolder folder(L"host write failure");
  Win32JobHost host;
  const std::wstring path = folder / L"missing folder\\temp.bat";
  const auto result = host.WriteFile(path, "x");
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find("missing folder\\temp.bat"), std::string::npos);
  EXPECT_EQ(result.message().find(".new"), std::string::npos) << "names a file the user never sees";
  EXPECT_GT(result.message().size(), path.size() + 12)
      << "no system reason in: " << result.message();
}

TEST(Win32JobHost, WriteFileKeepsTheOldFileWhenTheReplacementCannotBeWritten) {
  TempFolder folder(L"host write locked");
  Win32JobHost host;
  const std::wstring path = folder / L"temp.bat";
  WriteBytes(path, "old");
  // A folder where the side file would go makes its creation fail.
  CreateDirectoryW((path + L".new").c_str(), nullptr);
  ASSERT_FALSE(host.WriteFile(path, "new"));
  EXPECT_EQ(ReadBytes(path), "old");
}

// A script with old content, held open as the command interpreter holds a script for a
// moment after it ends.
class HeldScript : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(path, "old script");
    held = HoldOpen(path);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  }

  TempFolder folder{L"host write held"};
  Win32JobHost host;
  const std::wstring path = folder / L"temp.bat";
  HANDLE held = INVALID_HANDLE_VALUE;
};

// A new run waits for the script to be let go: it is let go once the new script is written
// beside it, just after the first try to move it over the held one.
TEST_F(HeldScript, WriteFileWaitsForAScriptThatIsStillOpen) {
  std::thread release([this] {
    WaitUntil([&] { return Exists(path + L".new"); }, 60, 5);
    Sleep(100);
    CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
  });
  const auto written = host.WriteFile(path, "new script");
  release.join();
  ASSERT_TRUE(written) << written.message();
  EXPECT_EQ(ReadBytes(path), "new script");
}

TEST_F(HeldScript, WriteFileGivesUpOnAScriptHeldOpenAndSaysWhy) {
  const auto written = host.WriteFile(path, "new script");
  CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
  ASSERT_FALSE(written);
  EXPECT_NE(written.message().find("previous job"), std::string::npos) << written.message();
  EXPECT_EQ(ReadBytes(path), "old script");
  EXPECT_FALSE(Exists(path + L".new"));
}

TEST(Win32JobHost, FileExistsSeesFilesButNotFolders) {
  TempFolder folder(L"host exists");
  Win32JobHost host;
  WriteBytes(folder / L"a.w3m", "x");
  EXPECT_TRUE(host.FileExists(folder / L"a.w3m"));
  EXPECT_FALSE(host.FileExists(folder / L"b.w3m"));
  EXPECT_FALSE(host.FileExists(folder.path()));
}

TEST(Win32JobHost, EncodesExactlyInTheOemCodePageOrRefuses) {
  Win32JobHost host;
  EXPECT_EQ(host.ScriptCodePage(), 437u);
  ASSERT_EQ(GetOEMCP(), 437u) << "the expectations below are for code page 437";
  EXPECT_EQ(*host.EncodeForScript(L"C:\\x 100%"), "C:\\x 100%");
  EXPECT_EQ(*host.EncodeForScript(L"Cart\x00e9s \x00e8"), "Cart\x82s \x8a");
  EXPECT_EQ(*host.EncodeForScript(L""), "");
  // U+0160 has a best-fit look-alike ('S') in code page 437, which would name another file.
  const auto refused = host.EncodeForScript(L"C:\\\x0160koda.w3m");
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.message().find("437"), std::string::npos) << refused.message();
  EXPECT_FALSE(host.EncodeForScript(L"\x0416"));
}

TEST(Win32JobHost, FullPathsInTheirPlainFormCompareIgnoringCase) {
  Win32JobHost host;
  EXPECT_EQ(host.FullPath(L"c:\\Maps\\x\\..\\.\\A.w3m. "), L"c:\\Maps\\A.w3m");
  EXPECT_EQ(host.FullPath(L"c:/maps//a.w3m"), L"c:\\maps\\a.w3m");
  EXPECT_TRUE(host.SamePath(L"c:\\Maps\\A.w3m", L"C:\\MAPS\\a.W3M"));
  EXPECT_TRUE(host.SamePath(L"c:\\Cart\x00e9s.w3m", L"C:\\CART\x00c9S.W3M"));
  EXPECT_FALSE(host.SamePath(L"c:\\Maps\\A.w3m", L"c:\\Maps\\A2.w3m"));
}

// A launch whose first tries fail with the error: one the system gives when it is short of
// something for a moment is tried again and the script starts; any other is reported at
// once, naming the script.
struct FailingLaunch {
  const char* what;
  DWORD error;
  bool starts;
  int tries;  // how many the host makes
};

TEST(Win32JobHost, ALaunchThatFailsForAMomentStartsAndOneThatFailsForGoodIsReportedAtOnce) {
  const FailingLaunch cases[] = {
      {"an internal error once", ERROR_INTERNAL_ERROR, true, 2},
      {"access denied", ERROR_ACCESS_DENIED, false, 1},
  };
  for (const FailingLaunch& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder folder(L"host launch");
    const std::wstring script = folder / L"temp.bat";
    WriteBytes(script, "@exit 0\r\n");
    int tries = 0;
    Win32JobHost host([&](auto... arguments) -> BOOL {
      if (++tries > 1) return CreateProcessW(arguments...);
      SetLastError(c.error);
      return FALSE;
    });
    const auto launched = host.LaunchScript(script, folder.path());
    EXPECT_EQ(tries, c.tries);
    ASSERT_EQ(static_cast<bool>(launched), c.starts) << (launched ? "" : launched.message());
    if (c.starts) {
      EXPECT_EQ(WaitForSingleObject(host.script_process(), 60000), WAIT_OBJECT_0);
    } else {
      EXPECT_EQ(launched.message(),
                "Cannot start \"" + ToUtf8(script) + "\": " + SystemMessage(c.error));
    }
  }
}

TEST(ProgramFolder, IsTheFolderOfTheRunningExecutable) {
  const auto folder = ProgramFolder();
  ASSERT_TRUE(folder);
  EXPECT_EQ(*folder, testing::OwnFolder());
}

}  // namespace
}  // namespace veltrane
