// The program's entry: the main window and its message loop.
#include <windows.h>

#include <commctrl.h>

#include "job/job_host_win.h"
#include "window/job_watch_win.h"
#include "window/main_window_win.h"
#include "window/setting.h"

namespace {

int Refuse(const std::string& message) {
  veltrane::ShowError(nullptr, message);
  return 1;
}

int RunMessageLoop(HWND window) {
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    // The dialog manager gives Tab and Shift+Tab between the controls.
    if (IsWindow(window) && IsDialogMessageW(window, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return got == 0 ? static_cast<int>(message.wParam) : 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  const auto executable = veltrane::ExecutablePath();
  if (!executable) return Refuse(executable.message());
  const auto folder = veltrane::ProgramFolder();
  if (!folder) return Refuse(folder.message());

  veltrane::Win32JobHost host;
  veltrane::JobWatch jobs(host);
  veltrane::MainWindow window({
      [&jobs](const veltrane::JobPaths& paths, HWND window) { return jobs.Start(paths, window); },
      [&jobs] { return jobs.Finish(); },
      *folder,
      veltrane::ApplicationName(*executable),
  });
  if (auto created = window.Create(show_command); !created) return Refuse(created.message());
  return RunMessageLoop(window.hwnd());
}
