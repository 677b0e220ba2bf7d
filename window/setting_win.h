#pragma once

#include <optional>
#include <string>

#include "common/result.h"

namespace veltrane {

// The stored archiver path, or nothing when none can be read.
std::optional<std::wstring> ReadArchiverPath(const std::wstring& application_name);

// What the archiver box starts with (see ChooseArchiverPath), looking at the disk.
std::wstring InitialArchiverPath(const std::wstring& application_name,
                                 const std::wstring& program_folder);

Result<> StoreArchiverPath(const std::wstring& application_name, const std::wstring& path);

}  // namespace veltrane
