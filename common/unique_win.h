#pragma once
// Owners of Win32 resources: kernel handles, registry keys (Unique<KeyTraits>) and GDI fonts
// (Unique<FontTraits>).

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

}  // namespace veltrane
