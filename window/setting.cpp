#include "window/setting.h"

namespace veltrane {

std::wstring ApplicationName(std::wstring_view executable_path) {
  const size_t separator = executable_path.find_last_of(L"\\/");
  std::wstring_view name = separator == std::wstring_view::npos
                               ? executable_path
                               : executable_path.substr(separator + 1);
  const size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring_view::npos && dot != 0) name = name.substr(0, dot);
  return std::wstring(name);
}

std::wstring SettingsKey(std::wstring_view application_name) {
  return std::wstring(kSettingsRoot) + L"\\" + std::wstring(application_name) + L"\\" +
         std::wstring(kSettingsSection);
}

std::wstring ChooseArchiverPath(const std::optional<std::wstring>& stored,
                                std::wstring_view program_folder,
                                const std::function<bool(const std::wstring&)>& is_file) {
  if (stored && !stored->empty() && is_file(*stored)) return *stored;
  const std::wstring fallback(kDefaultArchiverPath);
  if (program_folder.empty() || is_file(fallback)) return fallback;
  std::wstring bundled(program_folder);
  if (bundled.back() != L'\\' && bundled.back() != L'/') bundled += L'\\';
  bundled += kBundledArchiverName;
  return is_file(bundled) ? bundled : fallback;
}

}  // namespace veltrane
