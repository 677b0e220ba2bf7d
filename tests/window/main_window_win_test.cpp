#include <gtest/gtest.h>

#include "tests/window/window_fixture_win.h"
#include "window/layout.h"
#include "window/setting_win.h"

namespace veltrane {
namespace {

using testing::DialogAnswerer;
using testing::MainWindowTest;
using testing::Pump;
using testing::TextOf;

struct ExpectedControl {
  int id;
  const wchar_t* window_class;
  const wchar_t* text;
  int left, top, width, height;  // twips
};

// The window as designed, in twips.
const ExpectedControl kDesigned[] = {
    {kLabel1, L"Static", L"Location of MPQ2K", 120, 150, 1590, 195},
    {kText1, L"Edit", nullptr, 1920, 120, 4815, 285},
    {kCommand1, L"Button", L"Browse...", 6840, 60, 1095, 375},
    {kLabel2, L"Static", L"Location of Map", 120, 570, 1335, 195},
    {kText2, L"Edit", L"c:\\MyMap.w3m", 1920, 540, 4815, 285},
    {kCommand2, L"Button", L"Browse...", 6840, 480, 1095, 375},
    {kLabel3, L"Static", L"Destination Location", 120, 1050, 1725, 195},
    {kText3, L"Edit", L"c:\\MyMapProtected.w3m", 1920, 1020, 4815, 285},
    {kCommand3, L"Button", L"Browse...", 6840, 960, 1095, 375},
    {kCommand4, L"Button", L"Start!", 120, 1440, 6615, 375},
    {kCommand5, L"Button", L"Quit", 6840, 1440, 1095, 375},
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

TEST_F(MainWindowTest, EveryControlSitsWhereDesignedInTwipsAt96Dpi) {
  ASSERT_EQ(window_->dpi(), 96) << "the expectations are for 96 dpi: 15 twips to a pixel";
  wchar_t caption[64];
  GetWindowTextW(hwnd(), caption, 64);
  EXPECT_STREQ(caption, L"Veltrane");
  RECT client;
  GetClientRect(hwnd(), &client);
  EXPECT_EQ(client.right * 15, 8055);
  EXPECT_EQ(client.bottom * 15, 1935);

  for (const auto& expected : kDesigned) {
    SCOPED_TRACE(expected.id);
    HWND control = Control(expected.id);
    ASSERT_NE(control, nullptr);
    const RECT rect = ClientRectOf(control, hwnd());
    EXPECT_EQ(rect.left * 15, expected.left);
    EXPECT_EQ(rect.top * 15, expected.top);
    EXPECT_EQ((rect.right - rect.left) * 15, expected.width);
    EXPECT_EQ((rect.bottom - rect.top) * 15, expected.height);
    wchar_t window_class[32];
    GetClassNameW(control, window_class, 32);
    EXPECT_EQ(_wcsicmp(window_class, expected.window_class), 0) << window_class;
    if (expected.text != nullptr) EXPECT_EQ(TextOf(control), expected.text);
  }
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

TEST_F(MainWindowTest, LayoutAndFontRescaleWhenTheDpiChanges) {
  RECT suggested;
  GetWindowRect(hwnd(), &suggested);
  SendMessageW(hwnd(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  RECT client;
  GetClientRect(hwnd(), &client);
  EXPECT_EQ(client.right, 1074);
  EXPECT_EQ(client.bottom, 258);
  const RECT start = ClientRectOf(Control(kCommand4), hwnd());
  EXPECT_EQ(start.left, 16);
  EXPECT_EQ(start.top, 192);
  EXPECT_EQ(start.right - start.left, 882);
  EXPECT_EQ(FontOf(Control(kText2)).lfHeight, -22);
}

TEST_F(MainWindowTest, StartsWithTheFocusInTheArchiverBoxAndTabsInDesignedOrder) {
  EXPECT_EQ(GetFocus(), Control(kText1));
  const int order[] = {kText1, kCommand1, kText2,    kCommand2,
                       kText3, kCommand3, kCommand4, kCommand5};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    EXPECT_EQ(GetNextDlgTabItem(hwnd(), Control(order[i]), FALSE), Control(order[i + 1]))
        << "after " << order[i];
    EXPECT_EQ(GetNextDlgTabItem(hwnd(), Control(order[i + 1]), TRUE), Control(order[i]))
        << "before " << order[i + 1];
  }
  EXPECT_EQ(GetNextDlgTabItem(hwnd(), Control(kCommand5), FALSE), Control(kText1));
}

TEST_F(MainWindowTest, EnterAndEscapeInABoxPressNothing) {
  for (const int box : {kText1, kText2, kText3}) {
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
  SetText(kText1, L"  C:\\Program Files\\mpqadd.exe ");
  SetText(kText2, L"D:\\maps\\100% \x00e9\x0416.w3m");
  SetText(kText3, L"");
  Click(kCommand4);
  ASSERT_EQ(jobs_.size(), 1u);
  EXPECT_EQ(jobs_[0].archiver, L"  C:\\Program Files\\mpqadd.exe ");
  EXPECT_EQ(jobs_[0].source, L"D:\\maps\\100% \x00e9\x0416.w3m");
  EXPECT_EQ(jobs_[0].destination, L"");
  EXPECT_EQ(jobs_[0].program_folder, L"C:\\Program Folder");
}

TEST_F(MainWindowTest, AJobErrorIsShownInAMessageBoxAndTheBoxesKeepTheirTexts) {
  job_result_ = Fail("Cannot write \"C:\\Program Folder\\temp.bat\": Access denied.");
  SetText(kText2, L"typed map");
  std::wstring shown;
  DialogAnswerer answer(L"Veltrane", [&shown](HWND box) {
    shown = TextOf(GetDlgItem(box, 0xFFFF));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  });
  Click(kCommand4);
  ASSERT_TRUE(answer.Found()) << "no message box";
  EXPECT_EQ(shown, L"Cannot write \"C:\\Program Folder\\temp.bat\": Access denied.");
  EXPECT_EQ(Text(kText2), L"typed map");
  EXPECT_TRUE(IsWindow(hwnd()));
}

TEST_F(MainWindowTest, FirstStartShowsTheDefaultArchiverPathAndFixedMapPaths) {
  EXPECT_EQ(Text(kText1), L"c:\\mpq2k\\mpq2k.exe");
  EXPECT_EQ(Text(kText2), L"c:\\MyMap.w3m");
  EXPECT_EQ(Text(kText3), L"c:\\MyMapProtected.w3m");
}

TEST_F(MainWindowTest, ClosingStoresTheArchiverPathForTheNextStart) {
  SetText(kText1, L"D:\\tools\\mpqadd.exe");
  SetText(kText2, L"D:\\not remembered.w3m");
  SendMessageW(hwnd(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd()));
  EXPECT_EQ(LoadArchiverPath(application_name_), L"D:\\tools\\mpqadd.exe");

  CreateWindowUnderTest();
  EXPECT_EQ(Text(kText1), L"D:\\tools\\mpqadd.exe");
  EXPECT_EQ(Text(kText2), L"c:\\MyMap.w3m");
}

TEST_F(MainWindowTest, QuitAndTheSessionEndStoreTheArchiverPathToo) {
  SetText(kText1, L"E:\\quit.exe");
  Click(kCommand5);
  EXPECT_FALSE(IsWindow(hwnd()));
  EXPECT_EQ(LoadArchiverPath(application_name_), L"E:\\quit.exe");

  CreateWindowUnderTest();
  SetText(kText1, L"E:\\session end.exe");
  EXPECT_TRUE(SendMessageW(hwnd(), WM_QUERYENDSESSION, 0, 0));
  SendMessageW(hwnd(), WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(LoadArchiverPath(application_name_), L"E:\\session end.exe");
}

TEST(ArchiverSetting, EachExecutableNameKeepsItsOwnValue) {
  const std::wstring first = L"veltrane-setting-a";
  const std::wstring second = L"veltrane-setting-b";
  for (const auto& name : {first, second}) {
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\VB and VBA Program Settings\\" + name).c_str());
  }
  EXPECT_EQ(LoadArchiverPath(first), L"c:\\mpq2k\\mpq2k.exe");
  ASSERT_TRUE(StoreArchiverPath(first, L"C:\\first.exe"));
  EXPECT_EQ(LoadArchiverPath(second), L"c:\\mpq2k\\mpq2k.exe");
  ASSERT_TRUE(StoreArchiverPath(second, L""));
  EXPECT_EQ(LoadArchiverPath(first), L"C:\\first.exe");
  EXPECT_EQ(LoadArchiverPath(second), L"");

  HKEY key;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER,
                    (L"Software\\VB and VBA Program Settings\\" + first + L"\\Settings").c_str(), 0,
                    KEY_READ, &key),
      ERROR_SUCCESS);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key, L"LocMPQ2K", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  RegCloseKey(key);
}

TEST(ArchiverSetting, ApplicationNameIsTheExecutablesBaseName) {
  EXPECT_EQ(ApplicationName(L"C:\\Program Files\\Veltrane\\veltrane.exe"), L"veltrane");
  EXPECT_EQ(ApplicationName(L"C:\\a.b\\My Tool.v2.EXE"), L"My Tool.v2");
  EXPECT_EQ(ApplicationName(L"tool"), L"tool");
}

}  // namespace
}  // namespace veltrane
