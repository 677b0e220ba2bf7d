#pragma once
// The real main window with the real job watch and Win32 host, created in the benchmark's
// own process with its boxes filled, and the handling of the report box that a job ends with.

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "bench/job/bench_clock_win.h"
#include "common/result.h"
#include "job/job_host_win.h"
#include "window/job_watch_win.h"
#include "window/layout.h"
#include "window/main_window_win.h"

namespace veltrane::bench {

class BenchWindow {
 public:
  // `application` names the remembered setting, kept apart from the real program's.
  BenchWindow(const std::wstring& program_folder, const wchar_t* application)
      : window_({[this](const JobPaths& paths, HWND w) { return jobs_.Start(paths, w); },
                 [this] { return jobs_.Finish(); }, program_folder, application, false}) {}

  Result<> Create(const std::wstring& archiver, const std::wstring& map,
                  const std::wstring& destination) {
    if (auto created = window_.Create(SW_SHOWNORMAL); !created) return created;
    PumpMessages();
    SetDlgItemTextW(window_.hwnd(), kArchiverBox, archiver.c_str());
    SetDlgItemTextW(window_.hwnd(), kMapBox, map.c_str());
    SetDlgItemTextW(window_.hwnd(), kDestinationBox, destination.c_str());
    return {};
  }
  HWND start() const { return GetDlgItem(window_.hwnd(), kStart); }
  Win32JobHost& host() { return host_; }

 private:
  Win32JobHost host_;
  JobWatch jobs_{host_};
  MainWindow window_;
};

// This process's visible report box, if one is up.
inline HWND ReportBox() {
  HWND box = FindWindowW(L"#32770", L"Veltrane");
  DWORD process = 0;
  if (box != nullptr) GetWindowThreadProcessId(box, &process);
  return process == GetCurrentProcessId() && IsWindowVisible(box) ? box : nullptr;
}

// Waits up to `timeout_ms` for the report box, then reads and closes it: its text and the
// clock reading when it was first seen. The box runs modally inside the window's handler, so
// another thread watches for it while this one keeps the window's messages flowing.
struct SeenReport {
  std::wstring text;
  double shown_at = -1;
};
inline std::optional<SeenReport> AwaitReport(double timeout_ms) {
  std::atomic<bool> done{false};
  std::optional<SeenReport> seen;
  std::thread closer([&] {
    const double shown_at = WaitUntil([] { return ReportBox() != nullptr; }, timeout_ms);
    if (HWND box = shown_at >= 0 ? ReportBox() : nullptr) {
      wchar_t buffer[1024] = {};
      GetDlgItemTextW(box, 0xFFFF, buffer, 1024);
      seen = SeenReport{buffer, shown_at};
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    done = true;
  });
  while (!done) {
    PumpMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  closer.join();
  PumpMessages();
  return seen;
}

}  // namespace veltrane::bench
