#pragma once
// Turns Win32 failures into the project's messages: the operation, the path, and the
// system's own words for the error.

#include <windows.h>

#include <string>
#include <string_view>

#include "common/result.h"
#include "common/unique_win.h"

namespace veltrane {

// The system's text for an error code, without the trailing line end.
std::string SystemMessage(DWORD code);

// The common failure text (see CannotOn) with the system's reason for `code`.
Error SystemFailure(std::string_view operation, std::wstring_view path, DWORD code);

// The same for an operation on no named thing: Cannot <operation>: <reason>
Error SystemFailure(std::string_view operation, DWORD code);

}  // namespace veltrane
