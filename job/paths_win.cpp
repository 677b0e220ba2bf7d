#include "job/paths_win.h"

#include <windows.h>

#include "common/system_error_win.h"

namespace veltrane {

Result<std::wstring> FullPathName(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return SystemFailure("find the full path of", path, GetLastError());
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);  // the size asked for, its terminator included
  }
}

}  // namespace veltrane
