#pragma once
// One way to try a step again for a moment: a file another process still holds, a message
// queue that is full for a while.

#include <windows.h>

namespace veltrane {

// Calls `attempt` until it returns true, at most 20 times, 50 ms apart (a second in all);
// what the last call returned.
template <typename Attempt>
bool RetryBriefly(Attempt&& attempt) {
  constexpr int kTries = 20;
  constexpr DWORD kPauseMs = 50;
  for (int tries = 1;; ++tries) {
    if (attempt()) return true;
    if (tries == kTries) return false;
    Sleep(kPauseMs);
  }
}

}  // namespace veltrane
