#include "common/system_error_win.h"

#include "common/text.h"

namespace veltrane {

std::string SystemMessage(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const UniqueLocal<wchar_t> owned(buffer);
  if (length == 0 || buffer == nullptr) return "system error " + std::to_string(code);
  std::wstring text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
    text.pop_back();
  }
  return ToUtf8(text);
}

Error SystemFailure(std::string_view operation, std::wstring_view path, DWORD code) {
  Error error = CannotOn(operation, ToUtf8(path), SystemMessage(code));
  error.system_code = code;
  return error;
}

Error SystemFailure(std::string_view operation, DWORD code) {
  std::string text = "Cannot ";
  text.append(operation).append(": ").append(SystemMessage(code));
  return Error{std::move(text), code};
}

}  // namespace veltrane
