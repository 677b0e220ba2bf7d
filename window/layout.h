#pragma once
// The main window's layout as data: three path rows (label, box, "Browse..." button and the
// picker behind it) and the two buttons below them, with rectangles in twips. Creating the
// window and checking it both read these tables.

#include <algorithm>
#include <array>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "window/pickers.h"

namespace veltrane {

// Control ids. None is 1 or 2: the dialog manager sends IDOK for Enter and IDCANCEL for
// Escape, and neither may press a button.
enum ControlId : int {
  kArchiverBox = 101,
  kMapBox = 102,
  kDestinationBox = 103,
  kArchiverBrowse = 201,
  kMapBrowse = 202,
  kDestinationBrowse = 203,
  kStart = 204,
  kQuit = 205,
  kArchiverLabel = 301,
  kMapLabel = 302,
  kDestinationLabel = 303,
};

struct TwipsRect {
  int left, top, width, height;
};

struct Control {
  ControlId id;
  std::wstring_view text;
  TwipsRect rect;
};

// One path: its label, its box (with the text the box starts with), and its "Browse..."
// button with the picker that fills the box.
struct PathRow {
  Control label;
  Control box;
  Control browse;
  const PickerSpec* picker;
};

inline constexpr std::wstring_view kWindowCaption = L"Veltrane";
inline constexpr int kClientWidthTwips = 8055;
inline constexpr int kClientHeightTwips = 1935;
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kDesignDpi = 96;

// Rows from top to bottom; their controls are created label, box, button, row by row, then
// the two buttons, and that creation order is the order Tab follows. The archiver box
// starts empty: the remembered setting fills it before the window shows.
inline constexpr std::array<PathRow, 3> kPathRows{{
    {{kArchiverLabel, L"Location of MPQ2K", {120, 150, 1590, 195}},
     {kArchiverBox, L"", {1920, 120, 4815, 285}},
     {kArchiverBrowse, L"Browse...", {6840, 60, 1095, 375}},
     &kArchiverPicker},
    {{kMapLabel, L"Location of Map", {120, 570, 1335, 195}},
     {kMapBox, L"c:\\MyMap.w3m", {1920, 540, 4815, 285}},
     {kMapBrowse, L"Browse...", {6840, 480, 1095, 375}},
     &kMapPicker},
    {{kDestinationLabel, L"Destination Location", {120, 1050, 1725, 195}},
     {kDestinationBox, L"c:\\MyMapProtected.w3m", {1920, 1020, 4815, 285}},
     {kDestinationBrowse, L"Browse...", {6840, 960, 1095, 375}},
     &kDestinationPicker},
}};

inline constexpr std::array<Control, 2> kButtons{{
    {kStart, L"Start!", {120, 1440, 6615, 375}},
    {kQuit, L"Quit", {6840, 1440, 1095, 375}},
}};

// The box a file dropped on the window fills: that of the row it was dropped on (the row's
// label, box or "Browse..." button); dropped anywhere else, a map fills the map box and any
// other file nothing.
inline std::optional<ControlId> BoxForDrop(int control_under_drop, std::wstring_view path) {
  for (const PathRow& row : kPathRows) {
    for (const Control* control : {&row.label, &row.box, &row.browse}) {
      if (control->id == control_under_drop) return row.box.id;
    }
  }
  if (IsMapPath(path)) return kMapBox;
  return std::nullopt;
}

// The window's font: Verdana 8.25 point, regular weight, character set 0.
inline constexpr std::wstring_view kFontFace = L"Verdana";
inline constexpr int kFontHundredthsOfPoint = 825;
inline constexpr int kFontWeight = 400;

// The one place where design units become pixels: twips x dpi / 1440, rounded.
constexpr int TwipsToPixels(int twips, int dpi) {
  return (twips * dpi + kTwipsPerInch / 2) / kTwipsPerInch;
}

// The font height in pixels for a LOGFONT (negative: a character height).
constexpr int FontHeightPixels(int dpi) {
  return -((kFontHundredthsOfPoint * dpi + 3600) / 7200);
}

// A label's width in pixels. The font height is rounded up more often than the layout, so
// above the design size a text can outgrow its scaled label; the label then grows to the
// right, into the gap before its box but never over it. At the design size it keeps the
// designed width exactly.
constexpr int LabelWidthPixels(const PathRow& row, int dpi, int text_width) {
  const int scaled = TwipsToPixels(row.label.rect.width, dpi);
  if (dpi == kDesignDpi) return scaled;
  const int room = TwipsToPixels(row.box.rect.left, dpi) - TwipsToPixels(row.label.rect.left, dpi);
  return std::clamp(text_width, scaled, std::max(scaled, room));
}

}  // namespace veltrane
