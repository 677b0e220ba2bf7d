#include "job/job_host_win.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>

#include "common/system_error_win.h"
#include "common/text.h"

namespace veltrane {
namespace {

Result<> WriteAll(HANDLE file, std::string_view bytes, const std::wstring& target) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
      return SystemFailure("write", target, GetLastError());
    }
    bytes.remove_prefix(written);
  }
  if (!FlushFileBuffers(file)) return SystemFailure("write", target, GetLastError());
  return {};
}

// Writes the bytes beside the target, to be moved over it in one step, so the target is
// either the old file or the complete new one. Failures name the target: that is the file
// the user knows of.
Result<> WriteAside(const std::wstring& side_path, std::string_view bytes,
                    const std::wstring& target) {
  UniqueHandle file(CreateFileW(side_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return SystemFailure("write", target, GetLastError());
  return WriteAll(file.get(), bytes, target);
}

bool IsAbsolute(std::wstring_view path) {
  if (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/')) return true;
  return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::wstring FullPath(const std::wstring& path, const std::wstring& base_folder) {
  const std::wstring joined = IsAbsolute(path) ? path : base_folder + L"\\" + path;
  const DWORD needed = GetFullPathNameW(joined.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return joined;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(joined.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return joined;
  full.resize(length);
  return full;
}

std::string Describe(wchar_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return "\"" + ToUtf8(std::wstring(1, c)) + "\" (" + code + ")";
}

// Encodes text exactly in the OEM code page, or reports that it can't. A system whose OEM
// code page is UTF-8 holds every character; there the best-fit and default-character
// arguments are not allowed, and invalid UTF-16 is what fails.
bool EncodeExactly(std::wstring_view text, std::string& out) {
  if (text.empty()) return true;
  const bool utf8 = GetOEMCP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used_default_out = utf8 ? nullptr : &used_default;
  const int size = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_OEMCP, flags, text.data(), size, nullptr, 0, nullptr,
                                         used_default_out);
  if (needed <= 0 || used_default) return false;
  out.resize(static_cast<size_t>(needed));
  const int written = WideCharToMultiByte(CP_OEMCP, flags, text.data(), size, out.data(), needed,
                                          nullptr, used_default_out);
  return written == needed && !used_default;
}

// Moves the side file over the target. The command interpreter keeps a finished script
// open for a moment after its last command, so a busy target is tried again for a while.
Result<> ReplaceWith(const std::wstring& side_path, const std::wstring& target) {
  constexpr int kTries = 20;
  constexpr DWORD kPauseMs = 50;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(side_path.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    const DWORD error = GetLastError();
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!busy || attempt == kTries) {
      Error failure = SystemFailure("write", target, error);
      if (busy) failure.message += " Is the previous job still running?";
      return failure;
    }
    Sleep(kPauseMs);
  }
}

}  // namespace

Result<> Win32JobHost::WriteFile(const std::wstring& path, std::string_view bytes) {
  const std::wstring side_path = path + L".new";
  auto written = WriteAside(side_path, bytes, path);
  if (written) written = ReplaceWith(side_path, path);
  if (!written) DeleteFileW(side_path.c_str());
  return written;
}

bool Win32JobHost::FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Result<std::string> Win32JobHost::EncodeForScript(std::wstring_view text) {
  std::string bytes;
  if (EncodeExactly(text, bytes)) return bytes;
  std::string ignored;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!EncodeExactly(text.substr(i, 1), ignored)) {
      return Fail("the character " + Describe(text[i]) + " has no exact equivalent in code page " +
                  std::to_string(GetOEMCP()) +
                  ", in which the command interpreter reads the job script.");
    }
  }
  return Fail("it cannot be written in code page " + std::to_string(GetOEMCP()) +
              ", in which the command interpreter reads the job script.");
}

bool Win32JobHost::SameFile(const std::wstring& a, const std::wstring& b,
                            const std::wstring& base_folder) {
  const std::wstring full_a = FullPath(a, base_folder);
  const std::wstring full_b = FullPath(b, base_folder);
  return CompareStringOrdinal(full_a.c_str(), static_cast<int>(full_a.size()), full_b.c_str(),
                              static_cast<int>(full_b.size()), TRUE) == CSTR_EQUAL;
}

Result<> Win32JobHost::LaunchScript(const std::wstring& script_path,
                                    const std::wstring& working_folder) {
  // The script's path goes in as the file to open, never as a command line, so a folder
  // with spaces can't be split into a program name and arguments. No process handle is
  // asked for: the script runs on its own.
  // The shell may hand a launch to COM components, which need COM on this thread. It starts
  // with the first launch rather than with the program, to keep the start quick.
  static const HRESULT com =
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  (void)com;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = script_path.c_str();
  info.lpDirectory = working_folder.c_str();
  info.nShow = SW_SHOWMINIMIZED;
  if (!ShellExecuteExW(&info)) return SystemFailure("start", script_path, GetLastError());
  return {};
}

Result<std::wstring> ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return SystemFailure("find the program's own path", L"", GetLastError());
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

Result<std::wstring> ProgramFolder() {
  auto executable = ExecutablePath();
  if (!executable) return executable;
  std::wstring path = std::move(*executable);
  const size_t separator = path.find_last_of(L"\\/");
  path.resize(separator == std::wstring::npos ? 0 : separator);
  // A drive root keeps its separator: "C:" alone would name the drive's current folder.
  if (path.size() == 2 && path[1] == L':') path += L'\\';
  return path;
}

}  // namespace veltrane
