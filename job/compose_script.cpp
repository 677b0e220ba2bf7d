#include "job/compose_script.h"

namespace veltrane {
namespace {

constexpr std::wstring_view kLineEnd = L"\r\n";

// A batch file turns "%%" into one '%', so a doubled sign reaches the command as written.
std::wstring ForBatch(std::wstring_view input) {
  std::wstring out;
  out.reserve(input.size());
  for (const wchar_t c : input) {
    out += c;
    if (c == L'%') out += L'%';
  }
  return out;
}

}  // namespace

std::wstring ComposeScript(const JobPaths& paths, bool scratch_exists) {
  std::wstring script;
  script += L"@echo off";
  script += kLineEnd;
  script += L"cd \"" + ForBatch(paths.program_folder) + L"\"";
  script += kLineEnd;
  if (scratch_exists) {
    script += L"del c:\\temp.w3m";
    script += kLineEnd;
  }
  script += L"copy \"" + ForBatch(paths.source) + L"\" c:\\temp.w3m";
  script += kLineEnd;
  script += L"\"" + ForBatch(paths.archiver) + L"\" a  c:\\temp.w3m war3map.wtg war3map.wtg";
  script += kLineEnd;
  script += L"move c:\\temp.w3m \"" + ForBatch(paths.destination) + L"\"";
  return script;
}

}  // namespace veltrane
