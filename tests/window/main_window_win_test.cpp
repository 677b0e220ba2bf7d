#include <gtest/gtest.h>

#include <array>
#include <cstdlib>

#include "common/text.h"
#include "common/unique_win.h"
#include "tests/window/window_fixture_win.h"
#include "window/layout.h"
#include "window/setting_win.h"

namespace veltrane {
namespace {

using namespace testing;  // the window fixture and its helpers

struct ExpectedControl {
  int id;
  const wchar_t* window_class;
  const wchar_t* text;
  int left, top, width, height;  // twips
};

// The window as designed, in twips.
const ExpectedControl kDesigned[] = {
    {kArchiverLabel, L"Static", L"Location of MPQ2K", 120, 150, 1590, 195},
    {kArchiverBox, L"Edit", nullptr, 1920, 120, 4815, 285},
    {kArchiverBrowse, L"Button", L"Browse...", 6840, 60, 1095, 375},
    {kMapLabel, L"Static", L"Location of Map", 120, 570, 1335, 195},
    {kMapBox, L"Edit", L"c:\\MyMap.w3m", 1920, 540, 4815, 285},
    {kMapBrowse, L"Button", L"Browse...", 6840, 480, 1095, 375},
    {kDestinationLabel, L"Static", L"Destination Location", 120, 1050, 1725, 195},
    {kDestinationBox, L"Edit", L"c:\\MyMapProtected.w3m", 1920, 1020, 4815, 285},
    {kDestinationBrowse, L"Button", L"Browse...", 6840, 960, 1095, 375},
    {kStart, L"Button", L"Start!", 120, 1440, 6615, 375},
    {kQuit, L"Button", L"Quit", 6840, 1440, 1095, 375},
};

RECT ClientRectOf(HWND control, HWND parent) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW face{};
  auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
  GetObjectW(font, sizeof face, &face);
  return face;
}

// Sends what the system sends when the window moves to a display of another scale.
void ChangeDpi(HWND window, int dpi) {
  RECT suggested;
  GetWindowRect(window, &suggested);
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
}

void ExpectDesignedLayoutAt96Dpi(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right * 15, 8055);
  EXPECT_EQ(client.bottom * 15, 1935);
  for (const auto& expected : kDesigned) {
    SCOPED_TRACE(expected.id);
    HWND control = GetDlgItem(window, expected.id);
    ASSERT_NE(control, nullptr);
    const RECT rect = ClientRectOf(control, window);
    EXPECT_EQ(rect.left * 15, expected.left);
    EXPECT_EQ(rect.top * 15, expected.top);
    EXPECT_EQ((rect.right - rect.left) * 15, expected.width);
    EXPECT_EQ((rect.bottom - rect.top) * 15, expected.height);
    wchar_t window_class[32];
    GetClassNameW(control, window_class, 32);
    EXPECT_EQ(_wcsicmp(window_class, expected.window_class), 0) << window_class;
    if (expected.text != nullptr) {
      EXPECT_EQ(TextOf(control), expected.text);
    }
  }
}

// Each label's text, measured in the font the label draws with, fits the label on one line,
// and no label reaches into the box beside it.
void ExpectEveryLabelWhole(HWND window) {
  const std::pair<int, int> rows[] = {
      {kArchiverLabel, kArchiverBox}, {kMapLabel, kMapBox}, {kDestinationLabel, kDestinationBox}};
  const WindowDc dc(window);
  for (const auto& [label_id, box_id] : rows) {
    HWND label = GetDlgItem(window, label_id);
    const std::wstring text = TextOf(label);
    const HGDIOBJ previous =
        SelectObject(dc.get(), reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    SIZE size{};
    EXPECT_TRUE(
        GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &size));
    SelectObject(dc.get(), previous);
    const RECT rect = ClientRectOf(label, window);
    EXPECT_LE(size.cx, rect.right - rect.left) << "\"" << ToUtf8(text) << "\" is cut";
    EXPECT_LE(size.cy, rect.bottom - rect.top) << "\"" << ToUtf8(text) << "\" is clipped";
    EXPECT_LE(rect.right, ClientRectOf(GetDlgItem(window, box_id), window).left) << ToUtf8(text);
  }
}

TEST_F(MainWindowTest, EveryControlSitsWhereDesignedInTwipsAt96Dpi) {
  ASSERT_EQ(window_->dpi(), 96) << "the expectations are for 96 dpi: 15 twips to a pixel";
  wchar_t caption[64];
  GetWindowTextW(hwnd(), caption, 64);
  EXPECT_STREQ(caption, L"Veltrane");
  ExpectDesignedLayoutAt96Dpi(hwnd());
}

TEST_F(MainWindowTest, EveryControlUsesVerdanaAtEightAndAQuarterPoints) {
  for (const auto& expected : kDesigned) {
    SCOPED_TRACE(expected.id);
    const LOGFONTW face = FontOf(Control(expected.id));
    EXPECT_STREQ(face.lfFaceName, L"Verdana");
    EXPECT_EQ(face.lfHeight, -11);  // 8.25 pt at 96 dpi
    EXPECT_EQ(face.lfWeight, 400);
    EXPECT_EQ(face.lfCharSet, 0);
  }
}

// Pixels are twips x dpi / 1440 rounded to the nearest; truncating would lose the halves.
TEST_F(MainWindowTest, LayoutAndFontRescaleWhenTheDpiChanges) {
  struct Scaled {
    int dpi, font_height, client_width, client_height;
    std::array<std::array<int, 5>, 4> controls;  // id, left, top, width, height
  };
  const Scaled scales[] = {
      {120,
       -14,
       671,
       161,
       {{{kArchiverBox, 160, 10, 401, 24},
         {kArchiverBrowse, 570, 5, 91, 31},
         {kStart, 10, 120, 551, 31},
         {kQuit, 570, 120, 91, 31}}}},
      {144,
       -17,
       806,
       194,
       {{{kArchiverBox, 192, 12, 482, 29},
         {kArchiverBrowse, 684, 6, 110, 38},
         {kStart, 12, 144, 662, 38},
         {kQuit, 684, 144, 110, 38}}}},
      {192,
       -22,
       1074,
       258,
       {{{kMapBox, 256, 72, 642, 38},
         {kMapBrowse, 912, 64, 146, 50},
         {kStart, 16, 192, 882, 50},
         {kQuit, 912, 192, 146, 50}}}},
  };
  for (const Scaled& scale : scales) {
    SCOPED_TRACE(scale.dpi);
    ChangeDpi(hwnd(), scale.dpi);
    RECT client;
    GetClientRect(hwnd(), &client);
    EXPECT_EQ(client.right, scale.client_width);
    EXPECT_EQ(client.bottom, scale.client_height);
    EXPECT_EQ(FontOf(Control(kMapLabel)).lfHeight, scale.font_height);
    for (const auto& [id, left, top, width, height] : scale.controls) {
      const RECT rect = ClientRectOf(Control(id), hwnd());
      const std::array<LONG, 4> got{rect.left, rect.top, rect.right - rect.left,
                                    rect.bottom - rect.top};
      EXPECT_EQ(got, (std::array<LONG, 4>{left, top, width, height})) << id;
    }
  }
}

TEST_F(MainWindowTest, EveryLabelShowsItsWholeTextOnOneLineAtEveryScale) {
  for (const int dpi : {96, 120, 144, 168, 192}) {
    SCOPED_TRACE(dpi);
    ChangeDpi(hwnd(), dpi);
    ExpectEveryLabelWhole(hwnd());
  }
  ChangeDpi(hwnd(), 144);
  ChangeDpi(hwnd(), 96);
  ExpectDesignedLayoutAt96Dpi(hwnd());
}

// Run a second time by a prefix set to another scale (VELTRANE_TEST_DPI), this checks a
// window that starts at that scale, before any change.
TEST_F(MainWindowTest, EveryLabelIsWholeAtTheScaleTheWindowStartsWith) {
  const char* wanted = std::getenv("VELTRANE_TEST_DPI");
  EXPECT_EQ(window_->dpi(), wanted != nullptr ? std::atoi(wanted) : 96);
  ExpectEveryLabelWhole(hwnd());
}

TEST_F(MainWindowTest, StartsWithTheFocusInTheArchiverBoxAndTabsInDesignedOrder) {
  EXPECT_EQ(GetFocus(), Control(kArchiverBox));
  const int order[] = {kArchiverBox,    kArchiverBrowse,    kMapBox, kMapBrowse,
                       kDestinationBox, kDestinationBrowse, kStart,  kQuit};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(hwnd(), Control(order[i]), FALSE), Control(order[i + 1]))
        << "after " << order[i];
    EXPECT_EQ(GetNextDlgTabItem(hwnd(), Control(order[i + 1]), TRUE), Control(order[i]))
        << "before " << order[i + 1];
  }
  EXPECT_EQ(GetNextDlgTabItem(hwnd(), Control(kQuit), FALSE), Control(kArchiverBox));
}

TEST_F(MainWindowTest, EnterAndEscapeInABoxPressNothing) {
  for (const int box : {kArchiverBox, kMapBox, kDestinationBox}) {
    SetFocus(Control(box));
    for (const WPARAM key : {VK_RETURN, VK_ESCAPE}) {
      MSG down{Control(box), WM_KEYDOWN, key, 0, 0, {}};
      IsDialogMessageW(hwnd(), &down);
      Pump();
    }
  }
  EXPECT_TRUE(jobs_.empty());
  EXPECT_TRUE(IsWindow(hwnd())) << "Escape closed the window";
}

TEST_F(MainWindowTest, StartHandsTheBoxesExactTextsToTheJob) {
  SetText(kArchiverBox, L"  C:\\Program Files\\mpqadd.exe ");
  SetText(kMapBox, L"D:\\maps\\100% \x00e9\x0416.w3m");
  SetText(kDestinationBox, L"");
  Click(kStart);
  ASSERT_EQ(jobs_.size(), 1u);
  EXPECT_EQ(jobs_[0].archiver, L"  C:\\Program Files\\mpqadd.exe ");
  EXPECT_EQ(jobs_[0].map, L"D:\\maps\\100% \x00e9\x0416.w3m");
  EXPECT_EQ(jobs_[0].destination, L"");
  EXPECT_EQ(jobs_[0].program_folder, L"C:\\Program Folder");
}

TEST_F(MainWindowTest, AJobErrorIsShownInAMessageBoxAndTheBoxesKeepTheirTexts) {
  job_result_ = Fail("Cannot write \"C:\\Program Folder\\temp.bat\": Access denied.");
  SetText(kMapBox, L"typed map");
  std::wstring shown;
  DialogAnswerer answer(L"Veltrane", [&shown](HWND box) {
    shown = TextOf(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  Click(kStart);
  ASSERT_TRUE(answer.Found()) << "no message box";
  EXPECT_EQ(shown, L"Cannot write \"C:\\Program Folder\\temp.bat\": Access denied.");
  EXPECT_EQ(Text(kMapBox), L"typed map");
  EXPECT_TRUE(IsWindow(hwnd()));
}

TEST_F(MainWindowTest, FirstStartShowsTheDefaultArchiverPathAndFixedMapPaths) {
  EXPECT_EQ(Text(kArchiverBox), L"c:\\mpq2k\\mpq2k.exe");
  EXPECT_EQ(Text(kMapBox), L"c:\\MyMap.w3m");
  EXPECT_EQ(Text(kDestinationBox), L"c:\\MyMapProtected.w3m");
}

TEST_F(MainWindowTest, ClosingStoresTheArchiverPathForTheNextStart) {
  const std::wstring archiver = testing::TempPath(L"remembered tools\\mpqadd.exe");
  ASSERT_TRUE(testing::MakeFile(archiver));
  SetText(kArchiverBox, archiver);
  SetText(kMapBox, L"D:\\not remembered.w3m");
  SendMessageW(hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd()));
  EXPECT_EQ(ReadArchiverPath(application_name_), archiver);

  CreateWindowUnderTest();
  EXPECT_EQ(Text(kArchiverBox), archiver);
  EXPECT_EQ(Text(kMapBox), L"c:\\MyMap.w3m");
}

TEST_F(MainWindowTest, QuitAndTheSessionEndStoreTheArchiverPathToo) {
  SetText(kArchiverBox, L"E:\\quit.exe");
  Click(kQuit);
  EXPECT_FALSE(IsWindow(hwnd()));
  EXPECT_EQ(ReadArchiverPath(application_name_), L"E:\\quit.exe");

  CreateWindowUnderTest();
  SetText(kArchiverBox, L"E:\\session end.exe");
  EXPECT_TRUE(SendMessageW(hwnd(), WM_QUERYENDSESSION, 0, 0));
  SendMessageW(hwnd(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(ReadArchiverPath(application_name_), L"E:\\session end.exe");
}

}  // namespace
}  // namespace veltrane
