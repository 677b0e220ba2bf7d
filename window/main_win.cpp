// The program's entry: the command line, the main window and its message loop.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <vector>

#include "common/system_error_win.h"
#include "common/text.h"
#include "common/unique_win.h"
#include "job/job_host_win.h"
#include "job/paths_win.h"
#include "window/command_line.h"
#include "window/elevation_win.h"
#include "window/job_watch_win.h"
#include "window/main_window_win.h"
#include "window/setting.h"

namespace {

// The exit code of a command line that can't be read: the usage was shown, nothing ran.
constexpr int kUsageExitCode = 2;

// The usage, asked for: an information box, and the program ends with 0.
int ShowUsage() {
  const std::wstring usage = veltrane::FromUtf8(veltrane::kUsage);
  const std::wstring caption(veltrane::kWindowCaption);
  if (MessageBoxW(nullptr, usage.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION) == 0) {
    return 1;
  }
  return 0;
}

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

// The arguments after the program's name, split as the C runtime and the shell split them.
veltrane::Result<std::vector<std::wstring>> Arguments() {
  int count = 0;
  const veltrane::UniqueLocal<wchar_t*> split(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!split.valid()) {
    return veltrane::SystemFailure("read the command line", GetCommandLineW(), GetLastError());
  }
  return std::vector<std::wstring>(split.get() + (count > 0 ? 1 : 0), split.get() + count);
}

// A relative path given by the user is taken relative to the current folder, as a command
// prompt means it; the box then shows it in full. A restarted instance gets the boxes' own
// texts, which are taken as they stand.
void MakeFull(std::optional<std::wstring>& path) {
  if (!path || path->empty()) return;
  // The job names the path as given when the system can't make it full.
  if (auto full = veltrane::FullPathName(*path)) *path = std::move(*full);
}

veltrane::Result<veltrane::CommandLine> ReadCommandLine() {
  auto arguments = Arguments();
  if (!arguments) return arguments.error();
  auto line = veltrane::ParseCommandLine(*arguments);
  if (!line || line->restarted) return line;
  for (auto* path : {&line->archiver, &line->map, &line->destination}) MakeFull(*path);
  return line;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show_command) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  const auto line = ReadCommandLine();
  if (!line) {
    veltrane::ShowError(nullptr, line.message());
    return kUsageExitCode;
  }
  if (line->help) return ShowUsage();
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
      true,
      veltrane::IsElevated(),
      [&executable](const std::vector<std::wstring>& arguments, HWND owner) {
        return veltrane::StartAsAdministrator(*executable, veltrane::JoinArguments(arguments),
                                              owner);
      },
  });
  if (auto created = window.Create(show_command, *line); !created) {
    return Refuse(created.message());
  }
  return RunMessageLoop(window.hwnd());
}
