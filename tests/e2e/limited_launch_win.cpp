// limited_launch.exe PROGRAM [ARGUMENT...]: starts PROGRAM with the arguments as a process
// that is not elevated, the way Windows starts a program for an administrator whose programs
// run without elevation: with this process's linked token. Under Wine, where every process
// runs elevated, that is the one way to start a limited one. Returns once the process has
// started, printing its process id; 1 with the system's reason when it can't start it.
#include <windows.h>

#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "common/system_error_win.h"
#include "common/text.h"
#include "common/unique_win.h"
#include "window/command_line.h"

namespace {

using veltrane::Result;
using veltrane::SystemFailure;
using veltrane::UniqueHandle;

Result<UniqueHandle> LimitedToken() {
  HANDLE own = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own)) {
    return SystemFailure("open the token of", L"limited_launch.exe", GetLastError());
  }
  const UniqueHandle token(own);
  TOKEN_LINKED_TOKEN linked{};
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
    return SystemFailure("read the linked token of", L"limited_launch.exe", GetLastError());
  }
  const UniqueHandle linked_token(linked.LinkedToken);
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(linked_token.get(), MAXIMUM_ALLOWED, nullptr, SecurityImpersonation,
                        TokenPrimary, &primary)) {
    return SystemFailure("make a primary token of the linked token of", L"limited_launch.exe",
                         GetLastError());
  }
  return UniqueHandle(primary);
}

Result<DWORD> StartLimited(std::span<const std::wstring> program_and_arguments) {
  auto token = LimitedToken();
  if (!token) return token.error();
  std::wstring line = veltrane::JoinArguments(program_and_arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessAsUserW(token->get(), program_and_arguments[0].c_str(), line.data(), nullptr,
                            nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return SystemFailure("start", program_and_arguments[0], GetLastError());
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return process.dwProcessId;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: limited_launch.exe PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  const std::vector<std::wstring> program_and_arguments(argv + 1, argv + argc);
  const auto started = StartLimited(program_and_arguments);
  if (!started) {
    std::fprintf(stderr, "%s\n", started.message().c_str());
    return 1;
  }
  std::printf("%lu\n", static_cast<unsigned long>(*started));
  return 0;
}
