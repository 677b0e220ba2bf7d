#pragma once
// The three file pickers behind the "Browse..." buttons.

#include <string_view>

#include "job/paths.h"

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
inline constexpr PickerSpec kMapPicker{
    false, L"Select Map...", L"", L"Warcraft III Map (*.w3m;*.w3x)", L"*.w3m;*.w3x", L"w3m"};
inline constexpr PickerSpec kDestinationPicker{
    true, L"Select Map...", L"", L"Warcraft III Map (*.w3m;*.w3x)", L"*.w3m;*.w3x", L"w3m"};

// A map of the game or of its expansion.
inline bool IsMapPath(std::wstring_view path) {
  return HasExtension(path, L".w3m") || HasExtension(path, L".w3x");
}

// The destination's default extension follows the map: "w3x" for an expansion map.
inline std::wstring_view DefaultMapExtension(std::wstring_view map) {
  return HasExtension(map, L".w3x") ? L"w3x" : L"w3m";
}

// The longest file name a picker takes and keeps, terminator included.
inline constexpr int kPickerNameCapacity = 260;

}  // namespace veltrane
