// How long the report takes: from the end of the job's script to its report box on screen,
// on the real main window with the real job, Win32 host and archiver, created in this process:
//   bench_report_latency <archiver.exe> <map> <work folder> <runs>
// Each run clicks "Start!"; one thread waits on the script's process and notes when it ends,
// another notes when the report box shows, reads it and closes it. Prints:
//   report <median ms> <max ms>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/job/bench_clock_win.h"
#include "common/text.h"
#include "job/job_host_win.h"
#include "window/job_watch_win.h"
#include "window/layout.h"
#include "window/main_window_win.h"

namespace {

using veltrane::bench::NowMs;

constexpr double kTimeoutMs = 60000;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "bench_report_latency: %s\n", message.c_str());
  std::fflush(stderr);
  ExitProcess(1);
}

// This process's visible report box, if one is up.
HWND ReportBox() {
  HWND box = FindWindowW(L"#32770", L"Veltrane");
  DWORD process = 0;
  if (box != nullptr) GetWindowThreadProcessId(box, &process);
  return process == GetCurrentProcessId() && IsWindowVisible(box) ? box : nullptr;
}

struct Timing {
  double script_ended = -1;
  double box_shown = -1;
  std::wstring text;
};

// Watches the script started by the click and the report that follows; the window's thread
// keeps pumping messages meanwhile, since the box runs modally inside its handler.
Timing AwaitReport(HANDLE script) {
  std::atomic<bool> done{false};
  Timing timing;
  std::thread ended([&] {
    if (WaitForSingleObject(script, static_cast<DWORD>(kTimeoutMs)) == WAIT_OBJECT_0) {
      timing.script_ended = NowMs();
    }
  });
  std::thread closer([&] {
    const double since = NowMs();
    while (NowMs() - since < kTimeoutMs) {
      if (HWND box = ReportBox()) {
        timing.box_shown = NowMs();
        wchar_t buffer[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, buffer, 1024);
        timing.text = buffer;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        break;
      }
      Sleep(1);
    }
    done = true;
  });
  while (!done) {
    veltrane::bench::PumpMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
  }
  closer.join();
  ended.join();
  veltrane::bench::PumpMessages();
  return timing;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_report_latency <archiver.exe> <map> <work folder> <runs>\n");
    return 2;
  }
  const std::wstring archiver = argv[1], map = argv[2], work = argv[3];
  const int runs = _wtoi(argv[4]);
  const std::wstring program_folder = work + L"\\report";
  const std::wstring destination = work + L"\\out-report.w3m";
  const std::wstring script = program_folder + L"\\" + std::wstring(veltrane::kScriptName);
  CreateDirectoryW(program_folder.c_str(), nullptr);

  veltrane::Win32JobHost host;
  veltrane::JobWatch jobs(host);
  veltrane::MainWindow window({
      [&jobs](const veltrane::JobPaths& paths, HWND w) { return jobs.Start(paths, w); },
      [&jobs] { return jobs.Finish(); },
      program_folder,
      L"veltrane-bench-report",
      false,
  });
  if (auto created = window.Create(SW_SHOWNORMAL); !created) Die(created.message());
  veltrane::bench::PumpMessages();
  SetDlgItemTextW(window.hwnd(), veltrane::kArchiverBox, archiver.c_str());
  SetDlgItemTextW(window.hwnd(), veltrane::kMapBox, map.c_str());
  SetDlgItemTextW(window.hwnd(), veltrane::kDestinationBox, destination.c_str());
  HWND start = GetDlgItem(window.hwnd(), veltrane::kStart);

  std::vector<double> latencies;
  for (int i = 0; i < runs; ++i) {
    if (veltrane::bench::WaitUntil([&] { return veltrane::bench::Released(script); }, 20000) < 0 ||
        !veltrane::bench::Remove(destination)) {
      Die("the previous run's files stayed in use");
    }
    SendMessageW(start, BM_CLICK, 0, 0);
    HANDLE process = host.script_process();
    if (process == nullptr || ReportBox() != nullptr) Die("the job did not start");
    const Timing timing = AwaitReport(process);
    if (timing.text.find(L"is ready") == std::wstring::npos) {
      Die("the job's report is no success: [" + veltrane::ToUtf8(timing.text) + "]");
    }
    if (timing.script_ended < 0 || timing.box_shown < 0) Die("no report within a minute");
    latencies.push_back(timing.box_shown - timing.script_ended);
  }
  std::printf("report %.2f %.2f\n", veltrane::bench::Median(latencies),
              *std::max_element(latencies.begin(), latencies.end()));
  return 0;
}
