#pragma once
// Paths as the system resolves them (see job/paths.h for paths as text).

#include <string>

#include "common/result.h"

namespace veltrane {

// The full path in its plain form, as the system makes it: a path that is not full taken from
// the current folder, "." and ".." taken out, "/" made "\", and the trailing dots and spaces
// that the system drops dropped. The failure names the path and the system's reason.
Result<std::wstring> FullPathName(const std::wstring& path);

}  // namespace veltrane
