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
// Maps of the expansion end in .w3x; both kinds are listed. An initial name holding two
// patterns would hide every file, so the map pickers start with an empty name.
inline constexpr PickerSpec kSourceMapPicker{
    false, L"Select Map...", L"", L"Warcraft III Map (*.w3m;*.w3x)", L"*.w3m;*.w3x", L"w3m"};
inline constexpr PickerSpec kDestinationPicker{
    true, L"Select Map...", L"", L"Warcraft III Map (*.w3m;*.w3x)", L"*.w3m;*.w3x", L"w3m"};

// The destination's default extension follows the source map: "w3x" for an expansion map.
inline std::wstring_view DefaultMapExtension(std::wstring_view source_map) {
  constexpr std::wstring_view kExpansion = L".w3x";
  if (source_map.size() < kExpansion.size()) return L"w3m";
  const auto tail = source_map.substr(source_map.size() - kExpansion.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    const wchar_t c = tail[i] >= L'A' && tail[i] <= L'Z' ? tail[i] - L'A' + L'a' : tail[i];
    if (c != kExpansion[i]) return L"w3m";
  }
  return L"w3x";
}

// The longest file name a picker takes and keeps, terminator included.
inline constexpr int kPickerNameCapacity = 260;

}  // namespace veltrane
