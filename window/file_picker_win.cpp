#include "window/file_picker_win.h"

#include <cderr.h>

#include "common/text.h"

#include <string>

namespace veltrane {

FilePicker::FilePicker(const PickerSpec& settings)
    : settings_(settings), default_extension_(settings.default_extension), title_(settings.title) {
  filter_.append(settings.filter_description).push_back(L'\0');
  filter_.append(settings.filter_pattern).push_back(L'\0');
  filter_.push_back(L'\0');
  settings.initial_name.copy(file_name_.data(), file_name_.size() - 1);
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
    return Fail("Cannot show the file picker \"" + ToUtf8(title_) + "\": common dialog error " +
                std::to_string(code) +
                (code == FNERR_BUFFERTOOSMALL ? " (the file name is too long)" : ""));
  }
  file_name_ = working;
  return std::optional<std::wstring>(std::wstring(file_name_.data()));
}

}  // namespace veltrane
