#pragma once
// The main window's layout as data: every control's kind, id, text, rectangle in twips and
// place in the focus order. Creating the window and checking it both read this table.

#include <array>
#include <string_view>

namespace veltrane {

enum class ControlKind { kLabel, kTextBox, kButton };

// Control ids. None is 1 or 2: the dialog manager sends IDOK for Enter and IDCANCEL for
// Escape, and neither may press a button.
enum ControlId : int {
  kText1 = 101,  // the archiver executable
  kText2 = 102,  // the source map
  kText3 = 103,  // the destination map
  kCommand1 = 201,
  kCommand2 = 202,
  kCommand3 = 203,
  kCommand4 = 204,  // "Start!"
  kCommand5 = 205,  // "Quit"
  kLabel1 = 301,
  kLabel2 = 302,
  kLabel3 = 303,
};

struct ControlSpec {
  ControlKind kind;
  ControlId id;
  std::wstring_view text;
  int left, top, width, height;  // twips
  int tab_index;
};

inline constexpr std::wstring_view kWindowCaption = L"Veltrane";
inline constexpr int kClientWidthTwips = 8055;
inline constexpr int kClientHeightTwips = 1935;
inline constexpr int kTwipsPerInch = 1440;

// In tab order, which is also the creation order and so the order Tab follows.
inline constexpr std::array<ControlSpec, 11> kControls{{
    {ControlKind::kLabel, kLabel1, L"Location of MPQ2K", 120, 150, 1590, 195, 0},
    {ControlKind::kTextBox, kText1, L"c:\\MPQ2K\\mpq2k.exe", 1920, 120, 4815, 285, 1},
    {ControlKind::kButton, kCommand1, L"Browse...", 6840, 60, 1095, 375, 2},
    {ControlKind::kLabel, kLabel2, L"Location of Map", 120, 570, 1335, 195, 3},
    {ControlKind::kTextBox, kText2, L"c:\\MyMap.w3m", 1920, 540, 4815, 285, 4},
    {ControlKind::kButton, kCommand2, L"Browse...", 6840, 480, 1095, 375, 5},
    {ControlKind::kLabel, kLabel3, L"Destination Location", 120, 1050, 1725, 195, 6},
    {ControlKind::kTextBox, kText3, L"c:\\MyMapProtected.w3m", 1920, 1020, 4815, 285, 7},
    {ControlKind::kButton, kCommand3, L"Browse...", 6840, 960, 1095, 375, 8},
    {ControlKind::kButton, kCommand4, L"Start!", 120, 1440, 6615, 375, 9},
    {ControlKind::kButton, kCommand5, L"Quit", 6840, 1440, 1095, 375, 10},
}};

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

}  // namespace veltrane
