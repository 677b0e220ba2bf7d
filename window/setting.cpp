#include "window/setting.h"

#include "job/paths.h"

namespace veltrane {

std::wstring ApplicationName(std::wstring_view executable_path) {
  std::wstring_view name = NameOf(executable_path);
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
  const std::wstring bundled = JoinPath(program_folder, kBundledArchiverName);
  return is_file(bundled) ? bundled : fallback;
}

}  // namespace veltrane
