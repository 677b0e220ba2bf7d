// How long the report takes: from the end of the job's script to its report box on screen,
// on the real main window with the real job, Win32 host and archiver, created in this process:
//   bench_report_latency <archiver.exe> <map> <work folder> <runs>
// Each run clicks "Start!"; one thread waits on the script's process and notes when it ends,
// another notes when the report box shows, reads it and closes it. Prints:
//   report <median ms> <max ms>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/job/bench_window_win.h"
#include "common/text.h"

namespace {

using veltrane::bench::NowMs;

constexpr double kTimeoutMs = 60000;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "bench_report_latency: %s\n", message.c_str());
  std::fflush(stderr);
  ExitProcess(1);
}

// Milliseconds from the script's end to its report box, after checking that it is a success.
double TimeReport(HANDLE script) {
  double ended = -1;
  std::thread waiter([&] {
    if (WaitForSingleObject(script, static_cast<DWORD>(kTimeoutMs)) == WAIT_OBJECT_0) {
      ended = NowMs();
    }
  });
  const auto report = veltrane::bench::AwaitReport(kTimeoutMs);
  waiter.join();
  if (!report || ended < 0) Die("no report within a minute");
  if (report->text.find(L"is ready") == std::wstring::npos) {
    Die("the job's report is no success: [" + veltrane::ToUtf8(report->text) + "]");
  }
  return report->shown_at - ended;
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

  veltrane::bench::BenchWindow bench(program_folder, L"veltrane-bench-report");
  if (auto created = bench.Create(archiver, map, destination); !created) Die(created.message());
  std::vector<double> latencies;
  for (int i = 0; i < runs; ++i) {
    if (veltrane::bench::WaitUntil([&] { return veltrane::bench::Released(script); }, 20000) < 0 ||
        !veltrane::bench::Remove(destination)) {
      Die("the previous run's files stayed in use");
    }
    SendMessageW(bench.start(), BM_CLICK, 0, 0);
    HANDLE process = bench.host().script_process();
    if (process == nullptr || veltrane::bench::ReportBox() != nullptr) Die("the job did not start");
    latencies.push_back(TimeReport(process));
  }
  std::printf("report %.2f %.2f\n", veltrane::bench::Median(latencies),
              *std::max_element(latencies.begin(), latencies.end()));
  return 0;
}
