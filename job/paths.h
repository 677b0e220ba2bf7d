#pragma once
// Windows paths as text: joins, splits and the parts of a name. Either separator is taken,
// "\" is written; nothing here asks the file system.

#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// `folder` and `name` with one separator between them, also when `folder` is a drive root.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

// The folder part of a full path: "C:\a" for "C:\a\b.w3m", "C:\" for "C:\b.w3m" (a drive
// root keeps its separator: "C:" alone names the drive's current folder).
std::wstring FolderOf(std::wstring_view full_path);

// The last part of a path, after its last separator or drive colon.
std::wstring_view NameOf(std::wstring_view path);

// Whether the path ends in the extension (with its dot), ignoring the case of ASCII letters.
bool HasExtension(std::wstring_view path, std::wstring_view extension);

// The parts of a ";" list (PATH, PATHEXT, a picker's patterns), in order, empty ones left out.
std::vector<std::wstring_view> SplitList(std::wstring_view list);

}  // namespace veltrane
