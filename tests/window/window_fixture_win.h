#pragma once
// Creates the real main window inside the test process, with a job that records its calls.

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "common/unique_win.h"
#include "window/main_window_win.h"
#include "window/setting.h"

namespace veltrane::testing {

inline std::wstring TextOf(HWND control) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(control, buffer, 1024);
  return buffer;
}

// A path in the user's temporary folder.
inline std::wstring TempPath(const std::wstring& name) {
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  return folder + name;
}

// Creates an empty file, and the folders that hold it.
inline bool MakeFile(const std::wstring& path) {
  std::error_code failed;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), failed);
  const UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  return file.valid();
}

// Runs messages until the queue is empty.
inline void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Waits on another thread for a top-level dialog of this process with the given title (and,
// when `control` is not 0, a child with that id), then acts on it; for dialogs that run
// modally on the test's own thread. It waits up to two minutes: one that gave up would leave
// the dialog open and the test hung, and answerers made together, for dialogs that come one
// after the other, share that time. A test ends the wait with Stop() once it knows.
// Reading a window's title sends it a message, which its thread (the test's) must take, so
// the test's thread serves sent messages while it waits for the answerer to end.
class DialogAnswerer {
 public:
  DialogAnswerer(std::wstring title, std::function<void(HWND)> act, int control = 0)
      : thread_([this, title = std::move(title), act = std::move(act), control] {
          const ULONGLONG deadline = GetTickCount64() + 120000;
          while (!stop_ && GetTickCount64() < deadline) {
            if (HWND dialog = FindOwnWindow(title, control)) {
              act(dialog);
              found_ = true;
              break;
            }
            Sleep(20);
          }
          done_ = true;
        }) {}
  ~DialogAnswerer() { Join(); }
  bool Found() {
    Join();
    return found_;
  }
  // Stops waiting: whether the dialog came by now.
  bool Stop() {
    stop_ = true;
    return Found();
  }

 private:
  struct Search {
    const std::wstring* title;
    int control;
    HWND found;
  };

  static BOOL CALLBACK Visit(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (TextOf(window) != *search->title) return TRUE;
    wchar_t class_name[64] = {};
    GetClassNameW(window, class_name, 64);
    if (std::wstring(class_name) != L"#32770") return TRUE;
    if (search->control != 0 && GetDlgItem(window, search->control) == nullptr) return TRUE;
    search->found = window;
    return FALSE;
  }

  static HWND FindOwnWindow(const std::wstring& title, int control) {
    Search search{&title, control, nullptr};
    EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // Ends the thread, taking the messages it sends to this thread meanwhile.
  void Join() {
    while (!done_) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    if (thread_.joinable()) thread_.join();
  }

  std::atomic<bool> found_{false};
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateWindowUnderTest(); }

  void CreateWindowUnderTest(const CommandLine& line = {}) {
    window_ = std::make_unique<MainWindow>(MainWindowDeps{
        [this](const JobPaths& paths, HWND) -> Result<void, Refusal> {
          jobs_.push_back(paths);
          return job_result_;
        },
        [this] { return job_report_; }, program_folder_, application_name_, false, elevated_,
        [this](const std::vector<std::wstring>& arguments, HWND) -> Result<RestartOutcome> {
          restarts_.push_back(arguments);
          return restart_result_;
        }});
    ASSERT_TRUE(window_->Create(SW_SHOWNORMAL, line));
    Pump();
  }

  HWND hwnd() const { return window_->hwnd(); }
  HWND Control(int id) const { return GetDlgItem(hwnd(), id); }
  std::wstring Text(int id) const { return TextOf(Control(id)); }
  void SetText(int id, const std::wstring& text) { SetWindowTextW(Control(id), text.c_str()); }
  void Click(int id) { SendMessageW(Control(id), BM_CLICK, 0, 0); }

  std::wstring program_folder_ = L"C:\\Program Folder";
  std::wstring application_name_ = L"veltrane-test-" + std::to_wstring(GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(GetTickCount());
  std::unique_ptr<MainWindow> window_;
  std::vector<JobPaths> jobs_;
  Result<void, Refusal> job_result_;
  JobReport job_report_;
  bool elevated_ = false;
  std::vector<std::vector<std::wstring>> restarts_;
  Result<RestartOutcome> restart_result_ = RestartOutcome::kStarted;
};

}  // namespace veltrane::testing
