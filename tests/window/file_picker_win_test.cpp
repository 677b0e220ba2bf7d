#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/wait_win.h"
#include "tests/window/window_fixture_win.h"
#include "window/layout.h"

namespace veltrane {
namespace {

using namespace testing;  // the window fixture and its helpers

// The names in a picker's file list: a list view in Explorer-style pickers, else a list box.
BOOL CALLBACK CollectListed(HWND child, LPARAM out) {
  auto& names = *reinterpret_cast<std::vector<std::wstring>*>(out);
  wchar_t class_name[64] = {};
  GetClassNameW(child, class_name, 64);
  wchar_t text[MAX_PATH] = {};
  if (std::wstring(class_name) == WC_LISTVIEWW) {
    const int count = static_cast<int>(SendMessageW(child, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      LVITEMW item{};
      item.pszText = text;
      item.cchTextMax = MAX_PATH;
      SendMessageW(child, LVM_GETITEMTEXTW, i, reinterpret_cast<LPARAM>(&item));
      names.emplace_back(text);
    }
  } else if (std::wstring(class_name) == L"ListBox" && GetDlgCtrlID(child) == 0x460) {
    const int count = static_cast<int>(SendMessageW(child, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
      if (SendMessageW(child, LB_GETTEXTLEN, i, 0) >= MAX_PATH) continue;
      SendMessageW(child, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
      names.emplace_back(text);
    }
  }
  return TRUE;
}

std::vector<std::wstring> ListedNames(HWND dialog) {
  std::vector<std::wstring> names;
  EnumChildWindows(dialog, &CollectListed, reinterpret_cast<LPARAM>(&names));
  return names;
}

struct ExpectedPicker {
  int button;
  const wchar_t* title;
  const wchar_t* initial_name;
  std::wstring filter;  // description NUL pattern NUL NUL
  const wchar_t* default_extension;
};

TEST_F(MainWindowTest, EachPickerHasItsTitleFilterInitialNameAndDefaultExtension) {
  const ExpectedPicker expected[] = {
      {kArchiverBrowse, L"Select MPQ2K.exe", L"*.exe",
       std::wstring(L"EXE Files (*.exe)\0*.exe\0\0", 26), L"exe"},
      {kMapBrowse, L"Select Map...", L"",
       std::wstring(L"Warcraft III Map (*.w3m;*.w3x)\0*.w3m;*.w3x\0\0", 44), L"w3m"},
      {kDestinationBrowse, L"Select Map...", L"",
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
    Click(kMapBrowse);
    ASSERT_TRUE(confirm.Found());
  }
  EXPECT_EQ(Text(kMapBox), chosen);
  EXPECT_EQ(window_->picker(kMapBrowse).kept_name(), chosen);
  EXPECT_EQ(window_->picker(kDestinationBrowse).kept_name(), L"") << "the map pickers are separate";

  SetText(kMapBox, L"typed after choosing");
  {
    DialogAnswerer cancel(L"Select Map...", [](HWND dialog) { Answer(dialog, nullptr); });
    Click(kMapBrowse);
    ASSERT_TRUE(cancel.Found());
  }
  EXPECT_EQ(Text(kMapBox), L"typed after choosing");
  EXPECT_EQ(window_->picker(kMapBrowse).kept_name(), chosen);

  {
    DialogAnswerer cancel(L"Select MPQ2K.exe", [](HWND dialog) { Answer(dialog, nullptr); });
    Click(kArchiverBrowse);
    ASSERT_TRUE(cancel.Found());
  }
  EXPECT_EQ(Text(kArchiverBox), L"c:\\mpq2k\\mpq2k.exe") << "cancel on first use kept the path";
}

TEST_F(MainWindowTest, TheSavePickerAddsTheMapsExtensionToABareName) {
  const std::wstring bare = testing::TempPath(L"protected");
  const std::pair<std::wstring, std::wstring> cases[] = {{L"", L".w3m"},
                                                         {L"c:\\maps\\old.w3m", L".w3m"},
                                                         {L"c:\\maps\\New.W3X", L".w3x"},
                                                         {L"c:\\maps.w3x\\plain", L".w3m"}};
  for (const auto& [map, extension] : cases) {
    SCOPED_TRACE(std::string(map.begin(), map.end()));
    SetText(kMapBox, map);
    DialogAnswerer confirm(L"Select Map...", [&](HWND dialog) { Answer(dialog, bare.c_str()); });
    Click(kDestinationBrowse);
    ASSERT_TRUE(confirm.Found());
    EXPECT_EQ(Text(kDestinationBox), bare + extension);
  }
}

// Both kinds of map show in each map picker's own list, as read from the dialog.
TEST_F(MainWindowTest, TheMapPickersListExpansionAndClassicMaps) {
  const std::wstring folder = testing::TempPath(L"maps-both-" + std::to_wstring(GetTickCount()));
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  for (const wchar_t* name : {L"classic.w3m", L"expansion.w3x", L"notes.txt"}) {
    ASSERT_TRUE(testing::MakeFile(folder + L"\\" + name));
  }
  for (const int button : {kMapBrowse, kDestinationBrowse}) {
    SCOPED_TRACE(button);
    std::vector<std::wstring> listed;
    DialogAnswerer browse(L"Select Map...", [&](HWND dialog) {
      // Typing a folder and confirming opens it; then the list shows what the filter lets in.
      // Until it opens, the list shows the folder the dialog started in.
      Answer(dialog, folder.c_str());
      const auto lists = [&](const wchar_t* name) {
        return std::find(listed.begin(), listed.end(), name) != listed.end();
      };
      testing::WaitUntil(
          [&] {
            listed = ListedNames(dialog);
            return lists(L"classic.w3m") && lists(L"expansion.w3x");
          },
          30);
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    Click(button);
    ASSERT_TRUE(browse.Found());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"classic.w3m", L"expansion.w3x"}));
  }
}

}  // namespace
}  // namespace veltrane
