#pragma once

#include <string>

namespace veltrane {

// The four strings one run of the job needs, taken verbatim from the window.
struct JobPaths {
  std::wstring archiver;        // the archiver executable (first box)
  std::wstring map;             // the map to protect (second box)
  std::wstring destination;     // where the protected copy ends up (third box)
  std::wstring program_folder;  // the folder of the running executable
};

// Fixed names the job script relies on.
inline constexpr std::wstring_view kScratchMap = L"c:\\temp.w3m";
inline constexpr std::wstring_view kPlaceholderName = L"war3map.wtg";
inline constexpr std::wstring_view kScriptName = L"temp.bat";

}  // namespace veltrane
