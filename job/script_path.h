#pragma once
// Paths as the job's script reads them: the command interpreter runs the script with the
// program folder as its current folder, so every path that is not full is taken from there.

#include <string>
#include <string_view>

#include "common/result.h"
#include "job/paths.h"

namespace veltrane {

// The path made full as the script will take it, with `program_folder` (a full path) as the
// current folder; the result is not yet in its plain form (see JobHost::FullPath). Forms the
// script would read otherwise, or not at all, fail with the reason:
//   "\x.w3m"      rooted: on the program folder's drive;
//   "C:x.w3m"     drive-relative: from the program folder when it is on that drive; on any
//                 other drive it depends on a current folder the script does not know;
//   "\\?\..."     device paths, which the interpreter's commands do not take.
Result<std::wstring> ResolveForScript(std::wstring_view path, std::wstring_view program_folder);

// The name suggested for the protected copy of a map: "MyMap protected.w3x" for
// "C:\maps\MyMap.w3x"; a map without an extension gets ".w3m".
std::wstring ProtectedCopyName(std::wstring_view map);

// The protected copy's suggested full path: that name, in the map's folder.
std::wstring ProtectedCopyPath(std::wstring_view full_map);

}  // namespace veltrane
