#pragma once
// Turns Win32 failures into the project's messages: the operation, the path, and the
// system's own words for the error.

#include <windows.h>

#include <string>
#include <string_view>

#include "common/result.h"

namespace veltrane {

// The system's text for an error code, without the trailing line end.
std::string SystemMessage(DWORD code);

// "Cannot <operation> "<path>": <system's reason>"
Error SystemFailure(std::string_view operation, std::wstring_view path, DWORD code);

// Owns a kernel handle and closes it once.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() { return std::exchange(handle_, nullptr); }
  void reset(HANDLE handle = nullptr) {
    if (valid()) CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace veltrane
