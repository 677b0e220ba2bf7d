#pragma once
// The three file pickers behind the "Browse..." buttons.

#include <string_view>

namespace veltrane {

struct PickerSpec {
  bool save_mode;
  std::wstring_view title;
  std::wstring_view initial_name;
  std::wstring_view filter_description;
  std::wstring_view filter_pattern;
  std::wstring_view default_extension;  // without the dot, as the picker takes it
};

inline constexpr PickerSpec kArchiverPicker{
    false, L"Select MPQ2K.exe", L"*.exe", L"EXE Files (*.exe)", L"*.exe", L"exe"};
inline constexpr PickerSpec kSourceMapPicker{
    false, L"Select Map...", L"*.w3m", L"Warcraft III Map (*.w3m)", L"*.w3m", L"w3m"};
inline constexpr PickerSpec kDestinationPicker{
    true, L"Select Map...", L"*.w3m", L"Warcraft III Map (*.w3m)", L"*.w3m", L"w3m"};

// The longest file name a picker takes and keeps, terminator included.
inline constexpr int kPickerNameCapacity = 260;

}  // namespace veltrane
