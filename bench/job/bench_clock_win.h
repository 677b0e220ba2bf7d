#pragma once
// Timing and waiting helpers shared by the job and window benchmarks: a millisecond clock on
// QueryPerformanceCounter, the median, and polling for a file that is complete and closed.

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace veltrane::bench {

// Milliseconds on the performance counter; only differences mean anything.
inline double NowMs() {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticks_per_ms;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

inline bool Exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file's size, or -1 when it does not exist.
inline std::int64_t SizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Whether no process holds the file open for writing: an open that shares only reading
// succeeds. Asked only once everything else says the file is done, so that the brief open
// cannot get in the way of the writer.
inline bool ClosedByWriters(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Whether no process holds the file open at all (or it does not exist). The command
// interpreter keeps a batch file open until it exits, a little after the script's last
// command has done its work, and a script can't be replaced while it is open.
inline bool Released(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  CloseHandle(file);
  return true;
}

// Runs this thread's pending window messages.
inline void PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Checks `done` about every millisecond until it holds or `timeout_ms` passes; returns the
// clock reading when it first held, or a negative number on timeout. With `pump`, window
// messages keep flowing meanwhile.
template <class Done>
double WaitUntil(Done done, double timeout_ms, bool pump = false) {
  const double deadline = NowMs() + timeout_ms;
  for (;;) {
    if (done()) return NowMs();
    if (NowMs() > deadline) return -1;
    if (pump) PumpMessages();
    Sleep(1);
  }
}

// Deletes the file if it exists; false when it stays.
inline bool Remove(const std::wstring& path) {
  if (!Exists(path)) return true;
  for (int tries = 0; tries < 200; ++tries) {
    if (DeleteFileW(path.c_str()) || !Exists(path)) return true;
    Sleep(10);
  }
  return false;
}

}  // namespace veltrane::bench
