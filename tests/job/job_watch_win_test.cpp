// The watch over real jobs under Wine: the end of a job is known from its process, so a lost
// or unposted end message is reported by the next "Start!" before that job runs, while a
// message still on its way makes "Start!" wait for it.
#include "window/job_watch_win.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/text.h"
#include "tests/job/win_files.h"
#include "tests/support/wait_win.h"

namespace veltrane {
namespace {

using testing::Exists;
using testing::OwnFolder;
using testing::TempFolder;
using testing::WriteBytes;

// A window that, like the main one, asks the watch for the report when a job's end comes.
struct Reports {
  JobWatch* watch;
  std::vector<std::string> texts;
};

LRESULT CALLBACK ReportProcedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* reports = reinterpret_cast<Reports*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message != kJobEndedMessage || reports == nullptr) {
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }
  reports->texts.push_back(reports->watch->Finish().text);
  return 0;
}

HWND ReportWindow(Reports& reports) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = ReportProcedure;
  window_class.lpszClassName = L"JobWatchTest";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, L"JobWatchTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                nullptr, nullptr);
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&reports));
  return window;
}

// Waits for a job's end message in the window's queue, and takes it out when asked: a lost
// message, as a modal loop that drops it would leave.
bool WaitForEndMessage(HWND window, bool lose_it) {
  MSG message;
  return testing::WaitUntil(
      [&] {
        return PeekMessageW(&message, window, kJobEndedMessage, kJobEndedMessage,
                            lose_it ? PM_REMOVE : PM_NOREMOVE) != 0;
      },
      60, 20);
}

void Dispatch(HWND window) {
  MSG message;
  while (PeekMessageW(&message, window, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

class WatchedJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(program.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((OwnFolder() + L"\\fake_archiver.exe").c_str(),
                          (program + L"\\fake_archiver.exe").c_str(), FALSE));
    WriteBytes(root / L"map.w3m", "MAP-BYTES");
    DeleteFileW(L"c:\\temp.w3m");
  }

  JobPaths To(const std::wstring& destination) {
    return {program + L"\\fake_archiver.exe", root / L"map.w3m", root / destination, program};
  }
  std::string Named(const wchar_t* destination) { return ToUtf8(root / destination); }

  // Lets the last job end and takes its report.
  void FinishLastJob(HWND window) {
    ASSERT_TRUE(WaitForEndMessage(window, false));
    Dispatch(window);
  }

  TempFolder root{L"watched jobs"};
  std::wstring program = root / L"program";
  Win32JobHost host;
  JobWatch watch{host};
  Reports reports{&watch, {}};
  HWND window = ReportWindow(reports);
};

TEST_F(WatchedJobs, ALostEndMessageIsReportedByTheNextStartAndThenItRuns) {
  ASSERT_TRUE(watch.Start(To(L"one.w3m"), window));
  ASSERT_TRUE(WaitForEndMessage(window, true));

  const auto second = watch.Start(To(L"two.w3m"), window);
  ASSERT_TRUE(second) << second.message();
  ASSERT_EQ(reports.texts.size(), 1u) << "the first job's report, before the second job";
  EXPECT_NE(reports.texts[0].find(Named(L"one.w3m")), std::string::npos) << reports.texts[0];
  FinishLastJob(window);
  ASSERT_EQ(reports.texts.size(), 2u);
  EXPECT_NE(reports.texts[1].find(Named(L"two.w3m")), std::string::npos) << reports.texts[1];
}

TEST_F(WatchedJobs, StartIsRefusedBetweenTheScriptsEndAndItsReport) {
  ASSERT_TRUE(watch.Start(To(L"one.w3m"), window));
  ASSERT_TRUE(WaitForEndMessage(window, false));

  const auto second = watch.Start(To(L"two.w3m"), window);
  ASSERT_FALSE(second);
  EXPECT_NE(second.message().find("A job is still running"), std::string::npos);
  EXPECT_EQ(testing::ReadBytes(program + L"\\temp.bat").find("two.w3m"), std::string::npos)
      << "the second job wrote its script";
  Dispatch(window);
  ASSERT_EQ(reports.texts.size(), 1u);
  EXPECT_NE(reports.texts[0].find(Named(L"one.w3m")), std::string::npos) << reports.texts[0];
}

TEST_F(WatchedJobs, AnEndThatCouldNotBePostedIsReportedByTheNextStart) {
  Reports gone_reports{&watch, {}};
  HWND gone = ReportWindow(gone_reports);
  ASSERT_TRUE(watch.Start(To(L"one.w3m"), gone));
  DestroyWindow(gone);
  // The post fails for a while before the watch gives up on it; until then, "Start!" waits.
  Result<void, Refusal> second = JobStillRunning();
  testing::WaitUntil(
      [&] { return static_cast<bool>(second = watch.Start(To(L"two.w3m"), window)); }, 60, 100);
  ASSERT_TRUE(second) << second.message();
  ASSERT_EQ(reports.texts.size(), 1u);
  EXPECT_NE(reports.texts[0].find(Named(L"one.w3m")), std::string::npos) << reports.texts[0];
  FinishLastJob(window);
}

}  // namespace
}  // namespace veltrane
