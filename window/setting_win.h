#pragma once

#include <string>

#include "common/result.h"

namespace veltrane {

// The remembered archiver path, or the default when nothing can be read.
std::wstring LoadArchiverPath(const std::wstring& application_name);

Result<> StoreArchiverPath(const std::wstring& application_name, const std::wstring& path);

}  // namespace veltrane
