#pragma once

#include <windows.h>

#include <commdlg.h>

#include <array>
#include <optional>
#include <string>

#include "common/result.h"
#include "window/pickers.h"

namespace veltrane {

// One open or save picker that keeps its file name from one use to the next. Cancelling
// changes nothing: neither the kept name nor, for the caller, the box.
class FilePicker {
 public:
  explicit FilePicker(const PickerSpec& settings);

  // The confirmed full path, nothing when cancelled, or the picker's own failure.
  Result<std::optional<std::wstring>> Show(HWND owner);

  // The settings the picker is shown with, for the given name buffer.
  OPENFILENAMEW Options(HWND owner, wchar_t* name_buffer) const;
  std::wstring kept_name() const { return file_name_.data(); }
  // Makes `extension` the one added to a bare name. Pickers add the first extension of the
  // filter's pattern ahead of the default one, so it also moves to the front of the pattern.
  void set_default_extension(std::wstring_view extension);

 private:
  PickerSpec settings_;
  std::wstring filter_;  // description, NUL, pattern, NUL, NUL
  std::wstring default_extension_;
  std::wstring title_;
  std::array<wchar_t, kPickerNameCapacity> file_name_{};
};

}  // namespace veltrane
