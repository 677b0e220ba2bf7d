#pragma once

#include <optional>
#include <string>

#include "common/result.h"

namespace veltrane {

// The stored archiver path; nothing when none is stored; an error when one is there but
// can't be read.
Result<std::optional<std::wstring>> LoadArchiverPath(const std::wstring& application_name);

// The stored archiver path, or nothing when none is stored or it can't be read: for a look
// that needs no reason.
std::optional<std::wstring> ReadArchiverPath(const std::wstring& application_name);

// What the archiver box starts with (see ChooseArchiverPath), looking at the disk: a stored
// path that can't be read counts as none here, and StoreArchiverPath keeps it.
std::wstring InitialArchiverPath(const std::wstring& application_name,
                                 const std::wstring& program_folder);

// Stores the path, unless a stored value is there that can't be read: that one is kept,
// and the failure says so.
Result<> StoreArchiverPath(const std::wstring& application_name, const std::wstring& path);

}  // namespace veltrane
