#include "window/main_window_win.h"

#include "common/system_error_win.h"
#include "common/text.h"
#include "window/job_watch_win.h"
#include "window/setting_win.h"

namespace veltrane {
namespace {

// Per-monitor DPI functions exist from Windows 10 on; older systems have one system DPI.
int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (get_dpi != nullptr) {
    if (const UINT dpi = get_dpi(hwnd); dpi != 0) return static_cast<int>(dpi);
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return L"STATIC";
    case ControlKind::kTextBox:
      return L"EDIT";
    case ControlKind::kButton:
      return L"BUTTON";
  }
  return L"STATIC";
}

DWORD StyleOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kLabel:
      return WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX;
    case ControlKind::kTextBox:
      return WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
    case ControlKind::kButton:
      return WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
  }
  return WS_CHILD;
}

// A fixed frame: title bar, system menu, minimize and close; no maximize, no resizing.
constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kFrameExStyle = WS_EX_CONTROLPARENT;

}  // namespace

MainWindow::MainWindow(MainWindowDeps deps) : deps_(std::move(deps)) {}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (font_ != nullptr) DeleteObject(font_);
}

const FilePicker& MainWindow::picker(ControlId button) const {
  if (button == kCommand1) return archiver_picker_;
  if (button == kCommand2) return source_picker_;
  return destination_picker_;
}

Result<> MainWindow::Create(int show_command) {
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
  dpi_ = WindowDpi(hwnd_);
  if (!CreateControls())
    return SystemFailure("create the window's controls", caption, GetLastError());
  SizeClientArea();
  ApplyLayout();
  SetWindowTextW(GetDlgItem(hwnd_, kText1), LoadArchiverPath(deps_.application_name).c_str());
  ShowWindow(hwnd_, show_command);
  SetFocus(GetDlgItem(hwnd_, kText1));
  return {};
}

bool MainWindow::CreateControls() {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ControlSpec& design : kControls) {
    const std::wstring text(design.text);
    const DWORD ex_style = design.kind == ControlKind::kTextBox ? WS_EX_CLIENTEDGE : 0;
    HWND control =
        CreateWindowExW(ex_style, ClassOf(design.kind), text.c_str(), StyleOf(design.kind), 0, 0, 0,
                        0, hwnd_, reinterpret_cast<HMENU>(INT_PTR{design.id}), instance, nullptr);
    if (control == nullptr) return false;
    // No length limit: the boxes take any text the user types.
    if (design.kind == ControlKind::kTextBox) SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
  }
  return true;
}

// Sizes the frame around the designed client area, measuring the frame the window has now.
void MainWindow::SizeClientArea() {
  RECT frame;
  RECT client;
  GetWindowRect(hwnd_, &frame);
  GetClientRect(hwnd_, &client);
  const int frame_width = (frame.right - frame.left) - client.right;
  const int frame_height = (frame.bottom - frame.top) - client.bottom;
  SetWindowPos(hwnd_, nullptr, 0, 0, TwipsToPixels(kClientWidthTwips, dpi_) + frame_width,
               TwipsToPixels(kClientHeightTwips, dpi_) + frame_height,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::ApplyLayout() {
  LOGFONTW face{};
  face.lfHeight = FontHeightPixels(dpi_);
  face.lfWeight = kFontWeight;
  face.lfCharSet = ANSI_CHARSET;
  kFontFace.copy(face.lfFaceName, LF_FACESIZE - 1);
  HFONT font = CreateFontIndirectW(&face);
  for (const ControlSpec& design : kControls) {
    HWND control = GetDlgItem(hwnd_, design.id);
    SetWindowPos(control, nullptr, TwipsToPixels(design.left, dpi_),
                 TwipsToPixels(design.top, dpi_), TwipsToPixels(design.width, dpi_),
                 TwipsToPixels(design.height, dpi_), SWP_NOZORDER | SWP_NOACTIVATE);
    if (font != nullptr) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (font == nullptr) return;  // the controls keep the font they had
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
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
    self->ShowError(std::string("Unexpected failure: ") + failure.what());
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
    case kJobEndedMessage:
      OnJobEnded();
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
  switch (id) {
    case kCommand1:
      OnBrowse(archiver_picker_, kText1);
      break;
    case kCommand2:
      OnBrowse(source_picker_, kText2);
      break;
    case kCommand3:
      destination_picker_.set_default_extension(DefaultMapExtension(Text(kText2)));
      OnBrowse(destination_picker_, kText3);
      break;
    case kCommand4:
      OnStart();
      break;
    case kCommand5:
      OnClose();
      break;
    default:
      break;  // IDOK and IDCANCEL from Enter and Escape press nothing
  }
}

void MainWindow::OnStart() {
  const JobPaths paths{Text(kText1), Text(kText2), Text(kText3), deps_.program_folder};
  if (auto ran = deps_.run_job(paths, hwnd_); !ran) ShowError(ran.message());
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
  const std::wstring caption(kWindowCaption);
  const UINT icon = report.success ? MB_ICONINFORMATION : MB_ICONWARNING;
  ++modal_open_;
  MessageBoxW(hwnd_, FromUtf8(report.text).c_str(), caption.c_str(), MB_OK | icon);
  --modal_open_;
}

void MainWindow::OnBrowse(FilePicker& picker, ControlId box) {
  ++modal_open_;
  auto chosen = picker.Show(hwnd_);
  --modal_open_;
  if (!chosen) return ShowError(chosen.message());
  if (chosen->has_value()) SetWindowTextW(GetDlgItem(hwnd_, box), (*chosen)->c_str());
  ShowPendingReport();
}

void MainWindow::OnClose() {
  StoreSettingOnce(true);
  DestroyWindow(hwnd_);
}

void MainWindow::StoreSettingOnce(bool report_failure) {
  if (setting_stored_) return;
  setting_stored_ = true;
  auto stored = StoreArchiverPath(deps_.application_name, Text(kText1));
  if (!stored && report_failure) ShowError(stored.message());
}

// Gives the focus back to the control that had it, e.g. after a picker or another window.
void MainWindow::OnActivate(WPARAM wparam) {
  if (LOWORD(wparam) == WA_INACTIVE) {
    focus_before_deactivation_ = GetFocus();
  } else {
    HWND target = focus_before_deactivation_;
    if (target == nullptr || !IsChild(hwnd_, target)) target = GetDlgItem(hwnd_, kText1);
    SetFocus(target);
  }
}

void MainWindow::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SizeClientArea();
  ApplyLayout();
}

std::wstring MainWindow::Text(ControlId id) const {
  HWND control = GetDlgItem(hwnd_, id);
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  const int length = GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(length > 0 ? static_cast<size_t>(length) : 0);
  return text;
}

void MainWindow::ShowError(const std::string& message) {
  const std::wstring caption(kWindowCaption);
  ++modal_open_;
  MessageBoxW(hwnd_, FromUtf8(message).c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
  --modal_open_;
  ShowPendingReport();
}

}  // namespace veltrane
