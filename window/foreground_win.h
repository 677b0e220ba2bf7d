#pragma once
// Putting a message box in front after a job: the job's console took the keyboard when it
// started, and it may give the foreground away late, or to no window at all, as it closes.

#include <windows.h>

namespace veltrane {

// The enabled message box or dialog that `owner` has open on this thread, if any.
HWND OpenBoxOf(HWND owner);

// Makes `box` the foreground window when the foreground is free for it to take: held by no
// window (or by the desktop), or by a console (the job's, which the user did not choose). Returns
// false only when Windows refused.
bool TakeFreeForeground(HWND box);

}  // namespace veltrane
