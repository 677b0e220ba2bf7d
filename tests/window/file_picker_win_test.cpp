#include <gtest/gtest.h>

#include "tests/window/window_fixture_win.h"
#include "window/layout.h"

namespace veltrane {
namespace {

using testing::DialogAnswerer;
using testing::MainWindowTest;

struct ExpectedPicker {
  int button;
  const wchar_t* title;
  const wchar_t* initial_name;
  std::wstring filter;  // description NUL pattern NUL NUL
  const wchar_t* default_extension;
};

TEST_F(MainWindowTest, EachPickerHasItsTitleFilterInitialNameAndDefaultExtension) {
  const ExpectedPicker expected[] = {
      {kCommand1, L"Select MPQ2K.exe", L"*.exe", std::wstring(L"EXE Files (*.exe)\0*.exe\0\0", 26),
       L"exe"},
      {kCommand2, L"Select Map...", L"",
       std::wstring(L"Warcraft III Map (*.w3m;*.w3x)\0*.w3m;*.w3x\0\0", 44), L"w3m"},
      {kCommand3, L"Select Map...", L"",
       std::wstring(L"Warcraft III Map (*.w3m;*.w3x)\0*.w3m;*.w3x\0\0", 44), L"w3m"},
  };
  for (const auto& picker : expected) {
    SCOPED_TRACE(picker.button);
    wchar_t name[kPickerNameCapacity] = {};
    const OPENFILENAMEW options = window_->picker(ControlId(picker.button)).Options(hwnd(), name);
    EXPECT_STREQ(options.lpstrTitle, picker.title);
    EXPECT_EQ(std::wstring(options.lpstrFilter, picker.filter.size()), picker.filter);
    EXPECT_STREQ(options.lpstrDefExt, picker.default_extension);
    EXPECT_EQ(options.Flags, 0u);
    EXPECT_EQ(options.nMaxFile, 260u);
    EXPECT_EQ(options.lpstrInitialDir, nullptr);
    EXPECT_EQ(window_->picker(ControlId(picker.button)).kept_name(), picker.initial_name);
  }
}

// Types a name into the picker's file-name box and confirms it, or cancels.
void Answer(HWND dialog, const wchar_t* name) {
  if (name == nullptr) {
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  // Explorer-style pickers hold the name in a combo box (cmb13), older ones in edt1.
  if (!SetDlgItemTextW(dialog, 0x47C, name)) SetDlgItemTextW(dialog, 0x480, name);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(MainWindowTest, AConfirmedNameFillsTheBoxAndACancelLeavesItAsTyped) {
  const std::wstring chosen = testing::TempPath(L"chosen map.w3m");
  {
    DialogAnswerer confirm(L"Select Map...", [&](HWND dialog) { Answer(dialog, chosen.c_str()); });
    Click(kCommand2);
    ASSERT_TRUE(confirm.Found());
  }
  EXPECT_EQ(Text(kText2), chosen);
  EXPECT_EQ(window_->picker(kCommand2).kept_name(), chosen);
  EXPECT_EQ(window_->picker(kCommand3).kept_name(), L"") << "the map pickers are separate";

  SetText(kText2, L"typed after choosing");
  {
    DialogAnswerer cancel(L"Select Map...", [](HWND dialog) { Answer(dialog, nullptr); });
    Click(kCommand2);
    ASSERT_TRUE(cancel.Found());
  }
  EXPECT_EQ(Text(kText2), L"typed after choosing");
  EXPECT_EQ(window_->picker(kCommand2).kept_name(), chosen);

  {
    DialogAnswerer cancel(L"Select MPQ2K.exe", [](HWND dialog) { Answer(dialog, nullptr); });
    Click(kCommand1);
    ASSERT_TRUE(cancel.Found());
  }
  EXPECT_EQ(Text(kText1), L"c:\\mpq2k\\mpq2k.exe") << "cancel on first use kept the path";
}

TEST_F(MainWindowTest, TheSavePickerAddsTheMapExtensionToABareName) {
  const std::wstring bare = testing::TempPath(L"protected");
  DialogAnswerer confirm(L"Select Map...", [&](HWND dialog) { Answer(dialog, bare.c_str()); });
  Click(kCommand3);
  ASSERT_TRUE(confirm.Found());
  EXPECT_EQ(Text(kText3), bare + L".w3m");
}

}  // namespace
}  // namespace veltrane
