// peek.exe: looks at a live top-level window from outside, the way a test or a person would.
// It finds the window by its exact caption (optionally also by class, by the Windows process
// id, or by the full path of the process's executable) and prints, in UTF-8:
//   default   one line per child: "<id>\t<class>\t<text>", then "focus\t<id>" (or "none");
//             in this listing CR, LF and TAB inside a text are written as \r \n \t
//   --text N  the exact text of the child with control id N, followed by one LF
//   --focus   the control id of the child that has the keyboard focus, or "none"
//   --rect N  the screen rectangle of the child with control id N: "left top width height"
//   --hwnd    the window handle in hex
//   --foreground  "yes" when the window is the foreground window, else "no" and what is
//             (its class and caption, or "nothing")
//   --close   posts WM_CLOSE to the window, as its close box does
//   --move X Y moves the window's top left corner to the screen point (X, Y), as a drag does
//   --retype TEXT  presses Home and Shift+End in the focused box of the window, which must be
//             the foreground one, and types TEXT over the selection: all of it as one batch
//             of keyboard input (SendInput), letters as Unicode key strokes, the way an input
//             method types letters that the keyboard has no key for
// --wait S waits up to S seconds for a visible window with that caption to exist.
// Exit codes: 0 done, 1 no such window, 2 bad arguments, 3 no child with that id,
// 4 the window is not the foreground one or the input was refused.
#include <windows.h>

#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum class Action { kList, kText, kRect, kFocus, kHwnd, kClose, kMove, kForeground, kRetype };

struct Options {
  std::wstring title;
  std::wstring class_name;
  std::wstring exe;
  DWORD pid = 0;
  double wait_seconds = 0;
  Action action = Action::kList;
  int control_id = 0;
  POINT to{};
  std::wstring typed;
};

void WriteTo(DWORD stream, std::wstring_view text) {
  if (text.empty()) return;
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(stream), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
            nullptr);
}

void WriteOut(std::wstring_view text) {
  WriteTo(STD_OUTPUT_HANDLE, text);
}
void WriteError(std::wstring_view text) {
  WriteTo(STD_ERROR_HANDLE, text);
}

constexpr std::wstring_view kUsage =
    L"usage: peek.exe [--pid N] [--exe PATH] [--class NAME] [--wait SECONDS]\n"
    L"                [--text ID | --rect ID | --focus | --hwnd | --close | --move X Y |\n"
    L"                 --foreground | --retype TEXT]\n"
    L"                CAPTION\n";

std::optional<Options> ParseArguments(int argc, wchar_t** argv) {
  Options options;
  bool have_title = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == L"--pid" && has_value) {
      options.pid = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (arg == L"--exe" && has_value) {
      options.exe = argv[++i];
    } else if (arg == L"--class" && has_value) {
      options.class_name = argv[++i];
    } else if (arg == L"--wait" && has_value) {
      options.wait_seconds = std::wcstod(argv[++i], nullptr);
    } else if (arg == L"--text" && has_value) {
      options.action = Action::kText;
      options.control_id = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
    } else if (arg == L"--rect" && has_value) {
      options.action = Action::kRect;
      options.control_id = static_cast<int>(std::wcstol(argv[++i], nullptr, 10));
    } else if (arg == L"--focus") {
      options.action = Action::kFocus;
    } else if (arg == L"--foreground") {
      options.action = Action::kForeground;
    } else if (arg == L"--hwnd") {
      options.action = Action::kHwnd;
    } else if (arg == L"--close") {
      options.action = Action::kClose;
    } else if (arg == L"--move" && i + 2 < argc) {
      options.action = Action::kMove;
      options.to.x = static_cast<LONG>(std::wcstol(argv[++i], nullptr, 10));
      options.to.y = static_cast<LONG>(std::wcstol(argv[++i], nullptr, 10));
    } else if (arg == L"--retype" && has_value) {
      options.action = Action::kRetype;
      options.typed = argv[++i];
    } else if (!arg.starts_with(L"--") && !have_title) {
      options.title = arg;
      have_title = true;
    } else {
      return std::nullopt;
    }
  }
  if (!have_title) return std::nullopt;
  return options;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  const int length = GetClassNameW(window, name, 256);
  return std::wstring(name, static_cast<size_t>(length > 0 ? length : 0));
}

// The text as WM_GETTEXT gives it; a window that does not answer within two seconds
// gives an empty text rather than hanging the caller.
std::wstring TextOf(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length)) {
    return {};
  }
  std::vector<wchar_t> buffer(length + 1, L'\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, 2000,
                           &copied)) {
    return {};
  }
  return std::wstring(buffer.data(), copied);
}

bool SameTextIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring ImagePathOf(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return {};
  wchar_t path[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  const bool ok = QueryFullProcessImageNameW(process, 0, path, &size);
  CloseHandle(process);
  return ok ? std::wstring(path, size) : std::wstring();
}

struct Search {
  const Options* options;
  HWND found = nullptr;
};

BOOL CALLBACK ConsiderWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  const Options& options = *search->options;
  if (!IsWindowVisible(window)) return TRUE;
  if (TextOf(window) != options.title) return TRUE;
  if (!options.class_name.empty() && ClassOf(window) != options.class_name) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (options.pid != 0 && pid != options.pid) return TRUE;
  if (!options.exe.empty() && !SameTextIgnoringCase(ImagePathOf(pid), options.exe)) return TRUE;
  search->found = window;
  return FALSE;
}

HWND FindTopLevel(const Options& options) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(options.wait_seconds * 1000);
  for (;;) {
    Search search{&options};
    EnumWindows(ConsiderWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr || GetTickCount64() >= deadline) return search.found;
    Sleep(50);
  }
}

// The direct children in Z order, which for controls never reordered is creation order.
std::vector<HWND> ChildrenOf(HWND window) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(window, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

// The child (or the child holding a focused grandchild) that has the keyboard focus of the
// window's thread, or null when the focus is elsewhere or nowhere.
HWND FocusedChild(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  HWND focus = info.hwndFocus;
  while (focus != nullptr && GetParent(focus) != window) focus = GetParent(focus);
  return focus;
}

std::wstring Escaped(std::wstring_view text) {
  std::wstring out;
  for (const wchar_t c : text) {
    switch (c) {
      case L'\r':
        out += L"\\r";
        break;
      case L'\n':
        out += L"\\n";
        break;
      case L'\t':
        out += L"\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::wstring FocusLine(HWND window) {
  const HWND focus = FocusedChild(window);
  if (focus == nullptr) return L"none";
  return std::to_wstring(GetDlgCtrlID(focus));
}

// A line per control (id, class, text), then the focused control's id.
std::wstring ControlList(HWND window) {
  std::wstring out;
  for (const HWND child : ChildrenOf(window)) {
    out += std::to_wstring(GetDlgCtrlID(child)) + L"\t" + ClassOf(child) + L"\t" +
           Escaped(TextOf(child)) + L"\n";
  }
  return out + L"focus\t" + FocusLine(window) + L"\n";
}

// "yes" when the window is the foreground one, else which window is.
std::wstring ForegroundLine(HWND window) {
  const HWND foreground = GetForegroundWindow();
  if (foreground == window) return L"yes\n";
  if (foreground == nullptr) return L"no: nothing\n";
  return L"no: " + ClassOf(foreground) + L" \"" + TextOf(foreground) + L"\"\n";
}

INPUT KeyStroke(WORD virtual_key, wchar_t letter, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtual_key;
  input.ki.wScan = letter;
  input.ki.dwFlags = flags;
  return input;
}

void AddPress(std::vector<INPUT>& keys, WORD virtual_key) {
  keys.push_back(KeyStroke(virtual_key, 0, 0));
  keys.push_back(KeyStroke(virtual_key, 0, KEYEVENTF_KEYUP));
}

// Home, Shift+End, then the text: one SendInput call, so that nothing can come between.
int Retype(HWND window, std::wstring_view text) {
  if (GetForegroundWindow() != window) {
    WriteError(L"peek: the window is not the foreground one; " + ForegroundLine(window));
    return 4;
  }
  std::vector<INPUT> keys;
  AddPress(keys, VK_HOME);
  keys.push_back(KeyStroke(VK_SHIFT, 0, 0));
  AddPress(keys, VK_END);
  keys.push_back(KeyStroke(VK_SHIFT, 0, KEYEVENTF_KEYUP));
  for (const wchar_t letter : text) {
    keys.push_back(KeyStroke(0, letter, KEYEVENTF_UNICODE));
    keys.push_back(KeyStroke(0, letter, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
  }
  const UINT sent = SendInput(static_cast<UINT>(keys.size()), keys.data(), sizeof(INPUT));
  if (sent != keys.size()) {
    WriteError(L"peek: SendInput took " + std::to_wstring(sent) + L" of " +
               std::to_wstring(keys.size()) + L" key events; error " +
               std::to_wstring(GetLastError()) + L"\n");
    return 4;
  }
  return 0;
}

int Run(const Options& options) {
  const HWND window = FindTopLevel(options);
  if (window == nullptr) {
    WriteError(L"peek: no visible window captioned \"" + options.title + L"\"\n");
    return 1;
  }
  switch (options.action) {
    case Action::kList:
      WriteOut(ControlList(window));
      return 0;
    case Action::kText:
    case Action::kRect: {
      const HWND child = GetDlgItem(window, options.control_id);
      if (child == nullptr) {
        WriteError(L"peek: no control with id " + std::to_wstring(options.control_id) + L"\n");
        return 3;
      }
      if (options.action == Action::kText) {
        WriteOut(TextOf(child) + L"\n");
      } else {
        RECT r{};
        GetWindowRect(child, &r);
        WriteOut(std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
                 std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top) +
                 L"\n");
      }
      return 0;
    }
    case Action::kFocus:
      WriteOut(FocusLine(window) + L"\n");
      return 0;
    case Action::kHwnd: {
      wchar_t hex[32];
      swprintf(hex, 32, L"0x%08lx\n",
               static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
      WriteOut(hex);
      return 0;
    }
    case Action::kClose:
      PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    case Action::kForeground:
      WriteOut(ForegroundLine(window));
      return 0;
    case Action::kMove:
      return SetWindowPos(window, nullptr, options.to.x, options.to.y, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE)
                 ? 0
                 : 1;
    case Action::kRetype:
      return Retype(window, options.typed);
  }
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::optional<Options> options = ParseArguments(argc, argv);
  if (!options) {
    WriteError(kUsage);
    return 2;
  }
  return Run(*options);
}
