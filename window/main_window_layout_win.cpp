// The main window's controls and their layout: the designed twips scaled to the window's DPI,
// at creation and whenever the window moves to a display of another scale.
#include "window/main_window_win.h"

#include "common/system_function_win.h"

namespace veltrane {
namespace {

// Per-monitor DPI functions exist from Windows 10 on; older systems have one system DPI.
int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto get_dpi =
      FindSystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
  if (get_dpi != nullptr) {
    if (const UINT dpi = get_dpi(hwnd); dpi != 0) return static_cast<int>(dpi);
  }
  const WindowDc screen(nullptr);
  const int dpi = screen.get() != nullptr ? GetDeviceCaps(screen.get(), LOGPIXELSY) : 96;
  return dpi > 0 ? dpi : 96;
}

// Labels never wrap: a text too long even for the grown label ends in an ellipsis rather
// than losing its last words to a line the label has no room to show.
constexpr DWORD kLabelStyle =
    WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS | SS_NOPREFIX;
constexpr DWORD kBoxStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

}  // namespace

bool MainWindow::CreateControls() {
  for (const PathRow& row : kPathRows) {
    if (!CreateControl(L"STATIC", kLabelStyle, row.label) ||
        !CreateControl(L"EDIT", kBoxStyle, row.box) ||
        !CreateControl(L"BUTTON", kButtonStyle, row.browse)) {
      return false;
    }
    // No length limit: the boxes take any text the user types.
    SendDlgItemMessageW(hwnd_, row.box.id, EM_SETLIMITTEXT, 0, 0);
  }
  for (const Control& button : kButtons) {
    if (!CreateControl(L"BUTTON", kButtonStyle, button)) return false;
  }
  return true;
}

bool MainWindow::CreateControl(const wchar_t* window_class, DWORD style, const Control& design) {
  const std::wstring text(design.text);
  const DWORD ex_style = style == kBoxStyle ? WS_EX_CLIENTEDGE : 0;
  return CreateWindowExW(ex_style, window_class, text.c_str(), style, 0, 0, 0, 0, hwnd_,
                         reinterpret_cast<HMENU>(INT_PTR{design.id}), GetModuleHandleW(nullptr),
                         nullptr) != nullptr;
}

void MainWindow::LayOut() {
  dpi_ = WindowDpi(hwnd_);
  SizeClientArea();
  ApplyLayout();
}

void MainWindow::OnDpiChanged(int dpi, const RECT& suggested) {
  dpi_ = dpi;
  SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  SizeClientArea();
  ApplyLayout();
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
  Unique<FontTraits> font(CreateFontIndirectW(&face));
  if (font.valid()) {  // otherwise the controls keep the font they had
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
      SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    }
    font_ = std::move(font);
  }
  for (const PathRow& row : kPathRows) {
    const int text_width = TextWidth(font_.get(), row.label.text);
    Place(row.label.id, row.label.rect, LabelWidthPixels(row, dpi_, text_width));
    Place(row.box.id, row.box.rect, TwipsToPixels(row.box.rect.width, dpi_));
    Place(row.browse.id, row.browse.rect, TwipsToPixels(row.browse.rect.width, dpi_));
  }
  for (const Control& button : kButtons) {
    Place(button.id, button.rect, TwipsToPixels(button.rect.width, dpi_));
  }
}

void MainWindow::Place(ControlId id, const TwipsRect& rect, int width_pixels) const {
  SetWindowPos(GetDlgItem(hwnd_, id), nullptr, TwipsToPixels(rect.left, dpi_),
               TwipsToPixels(rect.top, dpi_), width_pixels, TwipsToPixels(rect.height, dpi_),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

// The text's width in pixels as the labels draw it, or 0 when it can't be measured (the
// labels then keep their scaled widths).
int MainWindow::TextWidth(HFONT font, std::wstring_view text) const {
  const WindowDc dc(hwnd_);
  if (dc.get() == nullptr) return 0;
  const HGDIOBJ previous = font != nullptr ? SelectObject(dc.get(), font) : nullptr;
  SIZE size{};
  const bool measured =
      GetTextExtentPoint32W(dc.get(), text.data(), static_cast<int>(text.size()), &size) != 0;
  if (previous != nullptr) SelectObject(dc.get(), previous);
  return measured ? size.cx : 0;
}

}  // namespace veltrane
