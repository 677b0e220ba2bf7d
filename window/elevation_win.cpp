#include "window/elevation_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "common/system_error_win.h"
#include "common/system_function_win.h"
#include "common/unique_win.h"
#include "window/layout.h"

namespace veltrane {
namespace {

// Not IDOK or IDCANCEL, so that only this button restarts.
constexpr int kRestartButton = 100;

// The restart button carries the shield that says it asks for administrator rights; the
// dialog only takes that request once it exists.
HRESULT CALLBACK OnQuestionEvent(HWND dialog, UINT event, WPARAM, LPARAM, LONG_PTR) {
  if (event == TDN_CREATED) {
    SendMessageW(dialog, TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE, kRestartButton, TRUE);
  }
  return S_OK;
}

// The task dialog lives in version 6 of the common controls, which only a program with that
// version in its manifest gets; found at run time, so a program without it still starts and
// asks with a plain message box instead.
using TaskDialogIndirectFn = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);

// Asking failed, with the system's reason.
Error CannotAsk(DWORD code) {
  return SystemFailure("ask whether to run the job as administrator", code);
}

Result<bool> AskWithMessageBox(HWND owner, const RestartQuestion& question) {
  const std::wstring caption(kWindowCaption);
  const std::wstring text = question.main_instruction + L"\n\n" + question.content + L"\n\nOK: " +
                            std::wstring(kRestartButtonText) + L".";
  const int pressed =
      MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OKCANCEL | MB_ICONQUESTION);
  if (pressed == 0) return CannotAsk(GetLastError());
  return pressed == IDOK;
}

}  // namespace

bool IsElevated() {
  HANDLE opened = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
  const UniqueHandle token(opened);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size)) {
    return false;
  }
  return elevation.TokenIsElevated != 0;
}

Result<bool> AskToRestart(HWND owner, const RestartQuestion& question) {
  static const auto task_dialog =
      FindSystemFunction<TaskDialogIndirectFn>(L"comctl32.dll", "TaskDialogIndirect");
  if (task_dialog == nullptr) return AskWithMessageBox(owner, question);
  const std::wstring caption(kWindowCaption);
  const std::wstring restart(kRestartButtonText);
  const TASKDIALOG_BUTTON buttons[] = {{kRestartButton, restart.c_str()}};
  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof config;
  config.hwndParent = owner;
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.dwCommonButtons = TDCBF_CANCEL_BUTTON;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TD_SHIELD_ICON;
  config.pszMainInstruction = question.main_instruction.c_str();
  config.pszContent = question.content.c_str();
  config.cButtons = ARRAYSIZE(buttons);
  config.pButtons = buttons;
  config.nDefaultButton = kRestartButton;
  config.pfCallback = &OnQuestionEvent;
  int pressed = 0;
  const HRESULT shown = task_dialog(&config, &pressed, nullptr, nullptr);
  if (FAILED(shown)) return CannotAsk(static_cast<DWORD>(shown));
  return pressed == kRestartButton;
}

Result<RestartOutcome> StartAsAdministrator(const std::wstring& executable,
                                            const std::wstring& parameters, HWND owner) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC;
  info.hwnd = owner;  // the consent prompt comes up over the window, not behind it
  info.lpVerb = L"runas";
  info.lpFile = executable.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&info)) return RestartOutcome::kStarted;
  const DWORD code = GetLastError();
  if (code == ERROR_CANCELLED) return RestartOutcome::kDeclined;
  return SystemFailure("start as administrator", executable, code);
}

}  // namespace veltrane
