#include "window/file_picker_win.h"

#include <cderr.h>

#include "common/text.h"
#include "job/paths.h"

#include <string>

namespace veltrane {
namespace {

// description, NUL, pattern, NUL, NUL
std::wstring FilterText(std::wstring_view description, std::wstring_view pattern) {
  std::wstring filter;
  filter.append(description).push_back(L'\0');
  filter.append(pattern).push_back(L'\0');
  filter.push_back(L'\0');
  return filter;
}

// The pattern with "*.<extension>" first, the others after it in their order.
std::wstring PatternLedBy(std::wstring_view pattern, std::wstring_view extension) {
  const std::wstring lead = L"*." + std::wstring(extension);
  std::wstring rest;
  bool found = false;
  for (const std::wstring_view part : SplitList(pattern)) {
    if (part == lead) {
      found = true;
    } else {
      rest.append(rest.empty() ? L"" : L";").append(part);
    }
  }
  if (!found) return rest;
  return rest.empty() ? lead : lead + L";" + rest;
}

}  // namespace

FilePicker::FilePicker(const PickerSpec& settings)
    : settings_(settings),
      filter_(FilterText(settings.filter_description, settings.filter_pattern)),
      default_extension_(settings.default_extension),
      title_(settings.title) {
  settings.initial_name.copy(file_name_.data(), file_name_.size() - 1);
}

void FilePicker::set_default_extension(std::wstring_view extension) {
  default_extension_ = extension;
  filter_ =
      FilterText(settings_.filter_description, PatternLedBy(settings_.filter_pattern, extension));
}

OPENFILENAMEW FilePicker::Options(HWND owner, wchar_t* name_buffer) const {
  OPENFILENAMEW options{};
  options.lStructSize = sizeof options;
  options.hwndOwner = owner;
  options.lpstrFilter = filter_.c_str();
  options.nFilterIndex = 1;
  options.lpstrFile = name_buffer;
  options.nMaxFile = kPickerNameCapacity;
  options.lpstrTitle = title_.c_str();
  options.lpstrDefExt = default_extension_.c_str();
  return options;
}

Result<std::optional<std::wstring>> FilePicker::Show(HWND owner) {
  // The dialog works on a copy, so a cancel leaves the kept name as it was.
  auto working = file_name_;
  OPENFILENAMEW options = Options(owner, working.data());
  const BOOL confirmed =
      settings_.save_mode ? GetSaveFileNameW(&options) : GetOpenFileNameW(&options);
  if (!confirmed) {
    const DWORD code = CommDlgExtendedError();
    if (code == 0) return std::optional<std::wstring>();
    return CannotOn("show the file picker", ToUtf8(title_),
                    "common dialog error " + std::to_string(code) +
                        (code == FNERR_BUFFERTOOSMALL ? " (the file name is too long)" : ""));
  }
  file_name_ = working;
  return std::optional<std::wstring>(std::wstring(file_name_.data()));
}

}  // namespace veltrane
