// Start-up time of window programs: from just before CreateProcessW until a visible
// top-level window of the new process carries the expected caption; then WM_CLOSE is posted
// and the process is waited for. The programs take turns, one run each per round, after one
// untimed warm-up round:
//   bench_startup <runs> <caption> <program.exe> [<caption> <program.exe>]...
// Prints one line per program:  startup <program.exe> <median ms> <min ms> <max ms> <retries>
// A start whose window never shows within 20 s (Wine occasionally loses one) is ended and
// tried once more; the retry counts.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/job/bench_clock_win.h"

namespace {

using veltrane::bench::NowMs;

struct Program {
  std::wstring caption;
  std::wstring path;
  std::vector<double> times;
  int retries = 0;
};

struct Search {
  DWORD process;
  const std::wstring* caption;
  HWND found;
};

BOOL CALLBACK Visit(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process || !IsWindowVisible(window)) return TRUE;
  wchar_t caption[256] = {};
  GetWindowTextW(window, caption, 256);
  if (*search->caption != caption) return TRUE;
  search->found = window;
  return FALSE;
}

// One start: the time until the window shows, or a negative number when it never did.
double StartOnce(const Program& program) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command_line = L"\"" + program.path + L"\"";
  const double before = NowMs();
  if (!CreateProcessW(program.path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "bench_startup: cannot start a program (error %lu)\n", GetLastError());
    std::exit(1);
  }
  Search search{process.dwProcessId, &program.caption, nullptr};
  const double shown = veltrane::bench::WaitUntil(
      [&] {
        EnumWindows(&Visit, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      20000);
  if (search.found != nullptr) PostMessageW(search.found, WM_CLOSE, 0, 0);
  if (search.found == nullptr || WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return shown < 0 ? -1 : shown - before;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4 || argc % 2 != 0) {
    std::fprintf(stderr, "usage: bench_startup <runs> <caption> <program.exe>...\n");
    return 2;
  }
  const int runs = _wtoi(argv[1]);
  std::vector<Program> programs;
  for (int i = 2; i + 1 < argc; i += 2) programs.push_back({argv[i], argv[i + 1], {}, 0});

  for (int round = -1; round < runs; ++round) {
    for (auto& program : programs) {
      double ms = StartOnce(program);
      if (ms < 0) {
        ++program.retries;
        ms = StartOnce(program);
      }
      if (ms < 0) {
        std::fprintf(stderr, "bench_startup: the window never showed, twice in a row\n");
        return 1;
      }
      if (round >= 0) program.times.push_back(ms);
    }
  }
  for (const auto& program : programs) {
    std::string path(program.path.begin(), program.path.end());
    std::printf("startup %s %.1f %.1f %.1f %d\n", path.c_str(),
                veltrane::bench::Median(program.times),
                *std::min_element(program.times.begin(), program.times.end()),
                *std::max_element(program.times.begin(), program.times.end()), program.retries);
  }
  return 0;
}
