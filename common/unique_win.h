#pragma once
// Owners of Win32 resources: kernel handles, registry keys (Unique<KeyTraits>), GDI fonts
// (Unique<FontTraits>), memory the system allocated with LocalAlloc (UniqueLocal) and a
// window's device context (WindowDc).

#include <windows.h>

#include "common/unique.h"

namespace veltrane {

struct HandleTraits {
  static HANDLE Empty() { return nullptr; }
  static bool Live(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Release(HANDLE handle) { CloseHandle(handle); }
};
using UniqueHandle = Unique<HandleTraits>;

struct KeyTraits {
  static HKEY Empty() { return nullptr; }
  static bool Live(HKEY key) { return key != nullptr; }
  static void Release(HKEY key) { RegCloseKey(key); }
};

struct FontTraits {
  static HFONT Empty() { return nullptr; }
  static bool Live(HFONT font) { return font != nullptr; }
  static void Release(HFONT font) { DeleteObject(font); }
};

// What a system call allocated for the caller to give back with LocalFree, such as
// FormatMessageW's text or CommandLineToArgvW's array.
template <class T>
struct LocalTraits {
  static T* Empty() { return nullptr; }
  static bool Live(T* memory) { return memory != nullptr; }
  static void Release(T* memory) { LocalFree(memory); }
};
template <class T>
using UniqueLocal = Unique<LocalTraits<T>>;

// The device context of a window, or of the screen for no window, released to that window.
// get() is null when none could be had.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace veltrane
