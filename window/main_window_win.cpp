#include "window/main_window_win.h"

#include <shellapi.h>

#include "common/system_error_win.h"
#include "common/system_function_win.h"
#include "common/text.h"
#include "window/destination_rule.h"
#include "window/foreground_win.h"
#include "window/job_watch_win.h"
#include "window/setting_win.h"

namespace veltrane {
namespace {

// A fixed frame: title bar, system menu, minimize and close; no maximize, no resizing.
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFrameExStyle = WS_EX_CONTROLPARENT;

// WM_COPYGLOBALDATA, which carries a drop's data to a window of another integrity level.
constexpr UINT kCopyGlobalData = 0x0049;

}  // namespace

MainWindow::MainWindow(MainWindowDeps deps) : deps_(std::move(deps)) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

const FilePicker& MainWindow::picker(ControlId browse_button) const {
  for (size_t row = 0; row < kPathRows.size(); ++row) {
    if (kPathRows[row].browse.id == browse_button) return pickers_[row];
  }
  return pickers_.back();
}

Result<> MainWindow::Create(int show_command, const CommandLine& line) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &MainWindow::Procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  window_class.hIconSm = window_class.hIcon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kMainWindowClass;
  if (!RegisterClassExW(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return SystemFailure("register the window class", kMainWindowClass, GetLastError());
  }
  const std::wstring caption(kWindowCaption);
  hwnd_ = CreateWindowExW(kFrameExStyle, kMainWindowClass, caption.c_str(), kFrameStyle,
                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                          nullptr, instance, this);
  if (hwnd_ == nullptr) return SystemFailure("create the window", caption, GetLastError());
  if (!CreateControls())
    return SystemFailure("create the window's controls", caption, GetLastError());
  LayOut();
  const std::wstring archiver = InitialArchiverPath(deps_.application_name, deps_.program_folder);
  SetWindowTextW(GetDlgItem(hwnd_, kArchiverBox), archiver.c_str());
  AcceptDrops();
  ApplyCommandLine(line);
  ShowWindow(hwnd_, show_command);
  SetFocus(GetDlgItem(hwnd_, kArchiverBox));
  return {};
}

void MainWindow::ApplyCommandLine(const CommandLine& line) {
  restarted_ = line.restarted;
  if (line.archiver) SetDlgItemTextW(hwnd_, kArchiverBox, line.archiver->c_str());
  if (line.map) SetMap(*line.map);
  if (line.destination) SetDlgItemTextW(hwnd_, kDestinationBox, line.destination->c_str());
  // Posted, so that the job starts once the window shows; should the post fail, it starts now.
  if (line.start && !PostMessageW(hwnd_, kStartRequestedMessage, 0, 0)) OnStart();
}

// Files dropped from Explorer arrive as WM_DROPFILES. An elevated window gets no messages
// from the non-elevated Explorer unless it lets them in: the drop itself and the two that
// carry its data. Should that fail, the window works on without drops from Explorer, which
// is nothing to stop the program for.
void MainWindow::AcceptDrops() {
  DragAcceptFiles(hwnd_, TRUE);
  // Found at run time: systems before Windows 7 have no per-window filter, and older ones
  // no filter at all, and the program still runs there.
  using FilterFn = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);
  static const auto filter =
      FindSystemFunction<FilterFn>(L"user32.dll", "ChangeWindowMessageFilterEx");
  if (filter == nullptr) return;
  for (const UINT message : {UINT{WM_DROPFILES}, UINT{WM_COPYDATA}, kCopyGlobalData}) {
    filter(hwnd_, message, MSGFLT_ALLOW, nullptr);
  }
}

LRESULT CALLBACK MainWindow::Procedure(HWND hwnd, UINT message, WPARAM wparam,
                                       LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<MainWindow*>(create->lpCreateParams)->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  try {
    return self->Handle(hwnd, message, wparam, lparam);
  } catch (const std::exception& failure) {
    self->ShowFailure(std::string("Unexpected failure: ") + failure.what());
    return 0;
  }
}

LRESULT MainWindow::Handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) == BN_CLICKED) OnCommand(LOWORD(wparam));
      return 0;
    case WM_ACTIVATE:
      OnActivate(wparam);
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The session ends the process without destroying the window: store now.
      if (wparam) StoreSettingOnce(false);
      return 0;
    case WM_TIMER:
      if (wparam == kFrontTimer) KeepBoxInFront();
      return 0;
    case kJobEndedMessage:
      OnJobEnded();
      return 0;
    case kStartRequestedMessage:
      OnStart();
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(wparam), *reinterpret_cast<const RECT*>(lparam));
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      if (deps_.quit_on_destroy) PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      return DefWindowProcW(hwnd, message, wparam, lparam);
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

void MainWindow::OnCommand(int id) {
  if (id == kStart) return OnStart();
  if (id == kQuit) return OnClose();
  for (size_t row = 0; row < kPathRows.size(); ++row) {
    if (kPathRows[row].browse.id == id) return OnBrowse(row);
  }
  // IDOK and IDCANCEL from Enter and Escape press nothing.
}

void MainWindow::OnStart() {
  ShowPendingReport();
  const JobPaths paths{Text(kArchiverBox), Text(kMapBox), Text(kDestinationBox),
                       deps_.program_folder};
  if (auto ran = deps_.run_job(paths, hwnd_); !ran) OnRefused(ran.error());
}

void MainWindow::OnRefused(const Refusal& refusal) {
  if (DecideOnRefusal(deps_.elevated, restarted_, refusal.denied) == OnRefusal::kAsk) {
    return AskToRunAsAdministrator(refusal);
  }
  ShowInFront(refusal.message, MB_ICONERROR);
  ShowPendingReport();
}

void MainWindow::AskToRunAsAdministrator(const Refusal& refusal) {
  const auto answer =
      WhileModal([&] { return AskToRestart(hwnd_, QuestionFor(refusal, deps_.program_folder)); });
  if (!answer) return ShowFailure(answer.message());
  if (*answer) RestartAsAdministrator();
}

// The setting is stored first, by this process: an instance elevated with another account's
// password would store it for that account. The new instance gets the three texts on its
// command line; once it has started, this window closes.
void MainWindow::RestartAsAdministrator() {
  if (auto stored = StoreArchiverPath(deps_.application_name, Text(kArchiverBox)); !stored) {
    ShowFailure(stored.message());
  }
  const auto started = deps_.restart(
      RestartArguments(Text(kArchiverBox), Text(kMapBox), Text(kDestinationBox)), hwnd_);
  if (!started) return ShowFailure(started.message());
  if (*started == RestartOutcome::kDeclined) return;  // the window stays as it was
  setting_stored_ = true;
  DestroyWindow(hwnd_);
}

void MainWindow::OnDropFiles(HDROP drop) {
  POINT point{};
  DragQueryPoint(drop, &point);
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring path(static_cast<size_t>(length) + 1, L'\0');
  path.resize(DragQueryFileW(drop, 0, path.data(), length + 1));
  DragFinish(drop);
  if (path.empty()) return;
  const HWND under = ChildWindowFromPointEx(hwnd_, point, CWP_SKIPINVISIBLE);
  const int control = under != nullptr && under != hwnd_ ? GetDlgCtrlID(under) : 0;
  const auto box = BoxForDrop(control, path);
  if (box == kMapBox) return SetMap(path);
  if (box) SetDlgItemTextW(hwnd_, *box, path.c_str());
}

// A map set by the command line, a drop or the picker names its protected copy beside it,
// while the destination box holds none of the user's own.
void MainWindow::SetMap(const std::wstring& path) {
  const auto destination = DestinationForMap(Text(kMapBox), path, Text(kDestinationBox));
  SetDlgItemTextW(hwnd_, kMapBox, path.c_str());
  if (destination) SetDlgItemTextW(hwnd_, kDestinationBox, destination->c_str());
}

// The facts are taken as the script ends; a report that comes while a picker or a message
// box is open waits until that closes.
void MainWindow::OnJobEnded() {
  pending_report_ = deps_.finish_job();
  ShowPendingReport();
}

void MainWindow::ShowPendingReport() {
  if (modal_open_ > 0 || !pending_report_ || hwnd_ == nullptr) return;
  const JobReport report = std::move(*pending_report_);
  pending_report_.reset();
  // A box that could not be shown keeps the report for the next "Start!".
  if (!ShowInFront(report.text, report.success ? MB_ICONINFORMATION : MB_ICONWARNING)) {
    pending_report_ = report;
    return;
  }
  ShowPendingReport();  // one that came while this box was open
}

void MainWindow::OnBrowse(size_t row) {
  const ControlId box = kPathRows[row].box.id;
  if (box == kDestinationBox) {
    pickers_[row].set_default_extension(DefaultMapExtension(Text(kMapBox)));
  }
  auto chosen = WhileModal([&] { return pickers_[row].Show(hwnd_); });
  if (!chosen) return ShowFailure(chosen.message());
  if (box == kMapBox && chosen->has_value()) {
    SetMap(**chosen);
  } else if (chosen->has_value()) {
    SetDlgItemTextW(hwnd_, box, (*chosen)->c_str());
  }
  ShowPendingReport();
}

void MainWindow::OnClose() {
  StoreSettingOnce(true);
  DestroyWindow(hwnd_);
}

void MainWindow::StoreSettingOnce(bool report_failure) {
  if (setting_stored_) return;
  setting_stored_ = true;
  auto stored = StoreArchiverPath(deps_.application_name, Text(kArchiverBox));
  if (!stored && report_failure) ShowFailure(stored.message());
}

// Gives the focus back to the control that had it, e.g. after a picker or another window.
void MainWindow::OnActivate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    focus_before_deactivation_ = GetFocus();
  } else {
    HWND target = focus_before_deactivation_;
    if (target == nullptr || !IsChild(hwnd_, target)) target = GetDlgItem(hwnd_, kArchiverBox);
    SetFocus(target);
  }
}

std::wstring MainWindow::Text(ControlId id) const {
  HWND control = GetDlgItem(hwnd_, id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  const int length = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return text;
}

void ShowError(HWND owner, std::string_view message) {
  const std::wstring caption(kWindowCaption);
  MessageBoxW(owner, FromUtf8(message).c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
}

// A report or a refusal, shown in front: a job's console may have taken the foreground, and
// a box behind it would take no keys. The console may also give the foreground away only
// after the box shows, when it closes (to no window at all): so while the box is open, a
// timer on this thread puts it in front again for a while. Should the timer not start, the
// box is in front as far as the first try got it.
bool MainWindow::ShowInFront(std::string_view text, UINT icon) {
  BringToFront();
  const std::wstring caption(kWindowCaption);
  const ModalCount counted(modal_open_);
  front_ticks_left_ = kFrontTicks;
  flashed_ = false;
  const bool keeping = SetTimer(hwnd_, kFrontTimer, kFrontTickMs, nullptr) != 0;
  const int shown =
      MessageBoxW(hwnd_, FromUtf8(text).c_str(), caption.c_str(), MB_OK | MB_SETFOREGROUND | icon);
  if (keeping) KillTimer(hwnd_, kFrontTimer);
  return shown != 0;
}

// One tick of the timer: the open box takes the foreground when it is free (see
// TakeFreeForeground); where Windows refuses, the taskbar button flashes.
void MainWindow::KeepBoxInFront() {
  if (--front_ticks_left_ <= 0) KillTimer(hwnd_, kFrontTimer);
  const HWND box = OpenBoxOf(hwnd_);
  if (box != nullptr && !TakeFreeForeground(box)) Flash();
}

void MainWindow::BringToFront() {
  if (!SetForegroundWindow(hwnd_)) Flash();
}

// Where Windows refuses this process the foreground, the taskbar button flashes until the
// window is activated; once per box.
void MainWindow::Flash() {
  if (flashed_) return;
  flashed_ = true;
  FLASHWINFO flash{sizeof flash, hwnd_, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
}

// ShowError over the window, counted as open so that a job's report waits for it.
void MainWindow::ShowFailure(std::string_view message) {
  WhileModal([&] { ShowError(hwnd_, message); });
  ShowPendingReport();
}

}  // namespace veltrane
