#include "job/script_path.h"

#include "common/text.h"

namespace veltrane {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

bool HasDriveLetter(std::wstring_view path) {
  return path.size() >= 2 && path[1] == L':' &&
         ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

bool SameDrive(wchar_t a, wchar_t b) {
  return (a | 0x20) == (b | 0x20);
}

}  // namespace

std::wstring ProtectedCopyName(std::wstring_view map) {
  std::wstring_view name = NameOf(map);
  const size_t dot = name.find_last_of(L'.');
  const std::wstring_view extension = dot == std::wstring_view::npos ? L".w3m" : name.substr(dot);
  if (dot != std::wstring_view::npos) name = name.substr(0, dot);
  return std::wstring(name) + L" protected" + std::wstring(extension);
}

std::wstring ProtectedCopyPath(std::wstring_view full_map) {
  if (full_map.find_first_of(L"\\/") == std::wstring_view::npos) {
    return ProtectedCopyName(full_map);
  }
  return JoinPath(FolderOf(full_map), ProtectedCopyName(full_map));
}

Result<std::wstring> ResolveForScript(std::wstring_view path, std::wstring_view program_folder) {
  const bool unc = path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
  if (unc && path.size() >= 4 && (path[2] == L'?' || path[2] == L'.') && IsSeparator(path[3])) {
    return Fail("it is a device path (\\\\?\\ or \\\\.\\), which the job's script cannot use.");
  }
  if (unc) return std::wstring(path);
  if (HasDriveLetter(path) && path.size() >= 3 && IsSeparator(path[2])) return std::wstring(path);
  if (!HasDriveLetter(program_folder)) {
    return Fail("it is not a full path, and the job's script runs in the program folder " +
                QuotedUtf8(program_folder) + ", which is on no drive letter. Give the full path.");
  }
  const std::wstring drive(program_folder.substr(0, 2));
  if (HasDriveLetter(path)) {
    if (!SameDrive(path[0], program_folder[0])) {
      return Fail("it is taken from the current folder of drive " +
                  std::string(1, static_cast<char>(path[0])) +
                  ":, which the job's script does not know. Give the full path.");
    }
    return JoinPath(program_folder, path.substr(2));
  }
  if (!path.empty() && IsSeparator(path[0])) return drive + std::wstring(path);
  return JoinPath(program_folder, path);
}

}  // namespace veltrane
