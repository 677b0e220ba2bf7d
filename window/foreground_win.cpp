#include "window/foreground_win.h"

#include <string_view>

namespace veltrane {
namespace {

// The classes of console windows: the system's console host and Wine's.
constexpr std::wstring_view kConsoleClasses[] = {L"ConsoleWindowClass", L"WineConsoleClass"};

bool IsConsole(HWND window) {
  wchar_t name[64] = {};
  const int length = GetClassNameW(window, name, 64);
  if (length <= 0) return false;
  const std::wstring_view class_name(name, static_cast<size_t>(length));
  for (const std::wstring_view console : kConsoleClasses) {
    if (class_name == console) return true;
  }
  return false;
}

struct BoxSearch {
  HWND owner;
  HWND box = nullptr;
};

BOOL CALLBACK ConsiderBox(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<BoxSearch*>(context);
  if (GetWindow(window, GW_OWNER) != search->owner || !IsWindowVisible(window) ||
      !IsWindowEnabled(window)) {
    return TRUE;
  }
  search->box = window;
  return FALSE;
}

}  // namespace

HWND OpenBoxOf(HWND owner) {
  BoxSearch search{owner};
  EnumThreadWindows(GetCurrentThreadId(), ConsiderBox, reinterpret_cast<LPARAM>(&search));
  return search.box;
}

// Windows lets a process take the foreground when it had the last input (the click on
// "Start!") or when no window has it (the console has just closed). A console that holds it
// in the moments after the job's end is taken for the job's own: it took the keyboard
// minimized, without the user choosing it. Any other window the user has chosen keeps it.
bool TakeFreeForeground(HWND box) {
  const HWND foreground = GetForegroundWindow();
  const bool free =
      foreground == nullptr || foreground == GetDesktopWindow() || IsConsole(foreground);
  if (foreground == box || !free) return true;
  return SetForegroundWindow(box) != 0;
}

}  // namespace veltrane
