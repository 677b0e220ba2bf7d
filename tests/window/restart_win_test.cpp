// The command line's quoting through the real CommandLineToArgvW, and the window's side of a
// refused job, a restart and a drop, on the real window in this process.
#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_win.h"
#include "tests/window/window_fixture_win.h"
#include "window/command_line.h"
#include "window/layout.h"
#include "window/setting_win.h"

namespace veltrane {
namespace {

using namespace testing;  // the window fixture and its helpers

std::vector<std::wstring> SplitAsWindowsDoes(const std::wstring& line) {
  int count = 0;
  const UniqueLocal<wchar_t*> split(CommandLineToArgvW(line.c_str(), &count));
  if (!split.valid()) return {};
  return std::vector<std::wstring>(split.get(), split.get() + count);
}

TEST(CommandLineWinTest, EveryQuotedArgumentComesBackExactlyThroughCommandLineToArgvW) {
  const std::vector<std::wstring> arguments = {
      L"C:\\Program Files\\Veltrane\\my map.w3m",
      L"C:\\maps 100%\\^caret & ampersand.w3m",
      L"C:\\cartes\\é 地图.w3x",
      L"C:\\trailing\\",
      L"C:\\run of three\\\\\\",
      L"a \\\"quoted\\\" \"name\"",
      L"\\\\server\\share\\x.w3m",
      L"",
      L"--start",
  };
  const auto split = SplitAsWindowsDoes(L"veltrane.exe " + JoinArguments(arguments));
  ASSERT_EQ(split.size(), arguments.size() + 1);
  for (size_t i = 0; i < arguments.size(); ++i) {
    EXPECT_EQ(ToUtf8(split[i + 1]), ToUtf8(arguments[i])) << ToUtf8(QuoteArgument(arguments[i]));
  }
}

enum class Consent { kNotAsked, kGiven, kDeclined, kFails };

struct RefusedStart {
  const char* what;
  bool elevated;
  bool restarted;
  int answer;  // the button pressed in the question, or 0 when no question may come
  Consent consent;
  const char* box;  // the start of the message box that follows, or nullptr for none
  bool window_stays;
};

// The dialog of this process captioned like the window that has a child with this id: the
// question's restart button, or a message box's text.
constexpr int kRestartButtonId = 100;
constexpr int kMessageBoxText = 0xFFFF;

TEST_F(MainWindowTest, ARefusalOfTheJobsPlacesAsksAndTheAnswerRestartsOrKeepsTheWindow) {
  const RefusedStart cases[] = {
      {"cancel", false, false, IDCANCEL, Consent::kNotAsked, nullptr, true},
      {"restart", false, false, kRestartButtonId, Consent::kGiven, nullptr, false},
      {"consent declined", false, false, kRestartButtonId, Consent::kDeclined, nullptr, true},
      {"restart fails", false, false, kRestartButtonId, Consent::kFails, "Cannot start", true},
      {"restarted instance", false, true, 0, Consent::kNotAsked, "Cannot create", true},
      {"elevated", true, false, 0, Consent::kNotAsked, "Cannot create", true},
  };
  for (const RefusedStart& c : cases) {
    SCOPED_TRACE(c.what);
    elevated_ = c.elevated;
    restarts_.clear();
    restart_result_ = c.consent == Consent::kDeclined
                          ? Result<RestartOutcome>(RestartOutcome::kDeclined)
                      : c.consent == Consent::kFails
                          ? Result<RestartOutcome>(Fail("Cannot start as administrator: reason"))
                          : Result<RestartOutcome>(RestartOutcome::kStarted);
    job_result_ = Refusal("Cannot create \"c:\\temp.w3m\": Access denied.",
                          DeniedPlace::kScratchMap, L"c:\\temp.w3m");
    window_.reset();
    std::wstring instruction;
    DialogAnswerer question(
        L"Veltrane",
        [&](HWND dialog) {
          for (HWND child = GetWindow(dialog, GW_CHILD); child;
               child = GetWindow(child, GW_HWNDNEXT)) {
            instruction += TextOf(child) + L"\n";
          }
          // A question that should not have come is cancelled, so that the test goes on.
          SendMessageW(GetDlgItem(dialog, c.answer == 0 ? IDCANCEL : c.answer), BM_CLICK, 0, 0);
        },
        c.answer == 0 ? kRestartButtonId : c.answer);
    std::wstring box;
    DialogAnswerer message(
        L"Veltrane",
        [&](HWND dialog) {
          box = TextOf(GetDlgItem(dialog, kMessageBoxText));
          PostMessageW(dialog, WM_CLOSE, 0, 0);
        },
        kMessageBoxText);
    // The command line's --start runs the job once the window is up.
    CreateWindowUnderTest({L"C:\\a.exe", L"C:\\m.w3m", L"C:\\d.w3m", true, c.restarted});
    EXPECT_EQ(question.Stop(), c.answer != 0);
    EXPECT_EQ(message.Stop(), c.box != nullptr);
    if (c.answer != 0) {
      EXPECT_NE(instruction.find(L"Run this job as administrator?"), std::wstring::npos);
      EXPECT_NE(instruction.find(L"c:\\temp.w3m"), std::wstring::npos) << ToUtf8(instruction);
    }
    if (c.box != nullptr) {
      EXPECT_TRUE(ToUtf8(box).starts_with(c.box)) << ToUtf8(box);
    }
    EXPECT_EQ(hwnd() != nullptr, c.window_stays);
    ASSERT_EQ(restarts_.size(), c.consent == Consent::kNotAsked ? 0u : 1u);
    if (c.consent != Consent::kNotAsked) {
      EXPECT_EQ(restarts_[0], RestartArguments(L"C:\\a.exe", L"C:\\m.w3m", L"C:\\d.w3m"));
      EXPECT_EQ(ReadArchiverPath(application_name_), L"C:\\a.exe");
    }
  }
}

// Posts what Explorer posts for one file dropped at a point of the window's client area.
void DropOn(HWND window, POINT point, const std::wstring& path) {
  const size_t bytes = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  ASSERT_NE(block, nullptr);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(block));
  drop->pFiles = sizeof(DROPFILES);
  drop->pt = point;
  drop->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), path.c_str(),
              path.size() * sizeof(wchar_t));
  GlobalUnlock(block);
  ASSERT_TRUE(PostMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(block), 0));
  Pump();
}

struct Drop {
  const char* what;
  int onto;  // the control dropped on
  const wchar_t* path;
  std::optional<ControlId> filled;
};

TEST_F(MainWindowTest, AFileDroppedOnARowFillsItsBoxAndAMapDroppedElsewhereTheMapBox) {
  const Drop cases[] = {
      {"map row's label", kMapLabel, L"C:\\maps\\a.w3m", kMapBox},
      {"map row's box", kMapBox, L"C:\\maps\\b.w3x", kMapBox},
      {"destination's Browse...", kDestinationBrowse, L"C:\\out\\c.w3m", kDestinationBox},
      {"any file on the archiver row", kArchiverBox, L"C:\\tools\\mpq2k.exe", kArchiverBox},
      {"a map on Start!", kStart, L"C:\\maps\\D.W3X", kMapBox},
      {"another file on Quit", kQuit, L"C:\\notes.txt", std::nullopt},
  };
  for (const Drop& c : cases) {
    SCOPED_TRACE(c.what);
    for (const int box : {kArchiverBox, kMapBox, kDestinationBox}) SetText(box, L"before");
    RECT rect;
    GetWindowRect(Control(c.onto), &rect);
    POINT middle{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    ScreenToClient(hwnd(), &middle);
    DropOn(hwnd(), middle, c.path);
    for (const int box : {kArchiverBox, kMapBox, kDestinationBox}) {
      EXPECT_EQ(Text(box), c.filled == box ? c.path : L"before") << box;
    }
  }
}

}  // namespace
}  // namespace veltrane
