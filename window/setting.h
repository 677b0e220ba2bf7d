#pragma once
// Where the archiver path is remembered: a string value in the per-user settings store,
// under the application's name, the "Settings" section and the "LocMPQ2K" key.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

inline constexpr std::wstring_view kSettingsRoot = L"Software\\VB and VBA Program Settings";
inline constexpr std::wstring_view kSettingsSection = L"Settings";
inline constexpr std::wstring_view kArchiverKey = L"LocMPQ2K";
inline constexpr std::wstring_view kDefaultArchiverPath = L"c:\\mpq2k\\mpq2k.exe";
inline constexpr std::wstring_view kBundledArchiverName = L"mpqadd.exe";

// The executable's file name without folder and extension: the application name.
std::wstring ApplicationName(std::wstring_view executable_path);

// The registry key, below the current user, that holds the application's settings.
std::wstring SettingsKey(std::wstring_view application_name);

// The path the archiver box starts with: the stored one while it names a file; otherwise
// the default path when that file is there, else our own archiver beside the program when
// it is there, else the default path all the same.
std::wstring ChooseArchiverPath(const std::optional<std::wstring>& stored,
                                std::wstring_view program_folder,
                                const std::function<bool(const std::wstring&)>& is_file);

}  // namespace veltrane
