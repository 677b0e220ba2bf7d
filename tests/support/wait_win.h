// Waiting in Windows tests for a state that another process or thread brings about.
#pragma once

#include <windows.h>

namespace veltrane::testing {

// Polls `done` every `poll_ms` until it holds or `seconds` have passed, and says whether it
// held. The limit is a deadline rather than a count of tries, so that a busy machine, where
// each try takes longer, gets no shorter wait than an idle one.
template <typename Done>
bool WaitUntil(Done done, int seconds, DWORD poll_ms = 50) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(poll_ms);
  }
}

}  // namespace veltrane::testing
