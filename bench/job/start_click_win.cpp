// The latency of "Start!": the real main window with the real job and Win32 host, created in
// this process; each click is a SendMessageW(BM_CLICK) on the button, timed from the call to
// its return, which is when the handler has written the files and launched the script:
//   bench_start_click <archiver.exe> <map> <work folder> <runs>
// Each job's report box is waited for, checked to be a success and closed before the next
// click, so runs never overlap. For comparison, each click is paired with the launch
// alone: the same host's LaunchScript of a script that only copies the map, timed the same
// way and waited for the same way. Prints:
//   click <median ms> <max ms> launch <median ms> <max ms>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/job/bench_clock_win.h"
#include "bench/job/bench_window_win.h"
#include "common/text.h"

namespace {

using veltrane::bench::NowMs;

constexpr double kTimeoutMs = 60000;
const std::wstring kScratch(veltrane::kScratchMap);

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "bench_start_click: %s\n", message.c_str());
  std::fflush(stderr);
  ExitProcess(1);
}

// Removes the previous run's outputs and waits until its scripts have ended.
void Clear(const std::vector<std::wstring>& paths, const std::vector<std::wstring>& scripts) {
  for (const auto& script : scripts) {
    if (veltrane::bench::WaitUntil([&] { return veltrane::bench::Released(script); }, 20000, true) <
        0) {
      Die("a script stayed open: " + veltrane::ToUtf8(script));
    }
  }
  for (const auto& path : paths) {
    if (!veltrane::bench::Remove(path)) Die("cannot delete " + veltrane::ToUtf8(path));
  }
}

// A click that shows an error box would block the message call forever; this ends the
// benchmark instead when a call has not returned in time.
class Watchdog {
 public:
  Watchdog()
      : thread_([this] {
          while (!stop_) {
            const double since = armed_at_.load();
            if (since > 0 && NowMs() - since > 20000) {
              wchar_t text[1024] = {};
              if (HWND box = FindWindowW(L"#32770", L"Veltrane")) {
                GetDlgItemTextW(box, 0xFFFF, text, 1024);
              }
              Die("a click did not return within 20 s: [" + veltrane::ToUtf8(text) + "]");
            }
            Sleep(50);
          }
        }) {}
  ~Watchdog() {
    stop_ = true;
    thread_.join();
  }
  void Arm() { armed_at_ = NowMs(); }
  void Disarm() { armed_at_ = 0; }

 private:
  std::atomic<double> armed_at_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Launches the copying script, and waits until its copy is whole: the launch's time.
double TimeLaunch(veltrane::Win32JobHost& host, const std::wstring& script,
                  const std::wstring& folder, const std::wstring& copy, std::int64_t map_size) {
  const double before = NowMs();
  if (auto launched = host.LaunchScript(script, folder); !launched) Die(launched.message());
  const double launch = NowMs() - before;
  if (veltrane::bench::WaitUntil(
          [&] {
            // The host keeps this script's process too, and refuses the next job while it runs.
            return veltrane::bench::SizeOf(copy) == map_size &&
                   veltrane::bench::ClosedByWriters(copy) && !host.ScriptRunning();
          },
          kTimeoutMs, true) < 0) {
    Die("the launched copy did not finish");
  }
  return launch;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: bench_start_click <archiver.exe> <map> <work folder> <runs>\n");
    return 2;
  }
  const std::wstring archiver = argv[1], map = argv[2], work = argv[3];
  const int runs = _wtoi(argv[4]);
  const std::wstring program_folder = work + L"\\click";
  const std::wstring destination = work + L"\\out-click.w3m";
  const std::wstring copy_destination = work + L"\\out-launch.w3m";
  const std::wstring copy_script = program_folder + L"\\copy.bat";
  const std::wstring job_script = program_folder + L"\\" + std::wstring(veltrane::kScriptName);
  CreateDirectoryW(program_folder.c_str(), nullptr);

  veltrane::bench::BenchWindow bench(program_folder, L"veltrane-bench-click");
  if (auto created = bench.Create(archiver, map, destination); !created) Die(created.message());
  veltrane::Win32JobHost& host = bench.host();
  HWND start = bench.start();

  auto script =
      host.EncodeForScript(L"@echo off\r\ncopy \"" + map + L"\" \"" + copy_destination + L"\"");
  if (!script) Die(script.message());
  if (auto written = host.WriteFile(copy_script, *script); !written) Die(written.message());
  const std::int64_t map_size = veltrane::bench::SizeOf(map);

  Watchdog watchdog;
  std::vector<double> clicks, launches;
  for (int i = 0; i < runs; ++i) {
    Clear({destination, copy_destination, kScratch}, {job_script, copy_script});
    watchdog.Arm();
    const double before = NowMs();
    SendMessageW(start, BM_CLICK, 0, 0);
    clicks.push_back(NowMs() - before);
    watchdog.Disarm();
    const auto report = veltrane::bench::AwaitReport(kTimeoutMs);
    if (!report || report->text.find(L"is ready") == std::wstring::npos) {
      Die("the job's report is no success: [" + veltrane::ToUtf8(report ? report->text : L"") +
          "]");
    }

    Clear({}, {job_script});  // the job's script has ended before the launch is timed
    launches.push_back(TimeLaunch(host, copy_script, program_folder, copy_destination, map_size));
  }
  Clear({destination, copy_destination}, {job_script, copy_script});
  std::printf("click %.2f %.2f launch %.2f %.2f\n", veltrane::bench::Median(clicks),
              *std::max_element(clicks.begin(), clicks.end()), veltrane::bench::Median(launches),
              *std::max_element(launches.begin(), launches.end()));
  return 0;
}
