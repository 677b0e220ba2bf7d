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

// Whether the path ends in the extension (with its dot), ignoring the case of ASCII letters.
inline bool HasExtension(std::wstring_view path, std::wstring_view extension) {
  if (path.size() < extension.size()) return false;
  const auto tail = path.substr(path.size() - extension.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    const wchar_t c = tail[i] >= L'A' && tail[i] <= L'Z' ? tail[i] - L'A' + L'a' : tail[i];
    if (c != extension[i]) return false;
  }
  return true;
}

// A map of the game or of its expansion.
inline bool IsMapPath(std::wstring_view path) {
  return HasExtension(path, L".w3m") || HasExtension(path, L".w3x");
}

// The destination's default extension follows the source map: "w3x" for an expansion map.
inline std::wstring_view DefaultMapExtension(std::wstring_view source_map) {
  return HasExtension(source_map, L".w3x") ? L"w3x" : L"w3m";
}

// The longest file name a picker takes and keeps, terminator included.
inline constexpr int kPickerNameCapacity = 260;

}  // namespace veltrane
