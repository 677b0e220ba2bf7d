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
  const std::wstring scratch(kScratchMap);
  const std::wstring member(kPlaceholderName);
  if (scratch_exists) {
    script += L"del " + scratch;
    script += kLineEnd;
  }
  script += L"copy \"" + ForBatch(paths.map) + L"\" " + scratch;
  script += kLineEnd;
  // The archiver adds the placeholder file of the program folder under its own name.
  script += L"\"" + ForBatch(paths.archiver) + L"\" a  " + scratch + L" " + member + L" " + member;
  script += kLineEnd;
  script += L"move " + scratch + L" \"" + ForBatch(paths.destination) + L"\"";
  return script;
}

}  // namespace veltrane
