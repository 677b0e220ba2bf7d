#include "window/setting_win.h"

#include <windows.h>

#include "common/system_error_win.h"
#include "common/unique_win.h"
#include "window/setting.h"

namespace veltrane {
namespace {

Error RegistryFailure(const std::wstring& key, LSTATUS status) {
  return SystemFailure("store the archiver path in", L"HKEY_CURRENT_USER\\" + key,
                       static_cast<DWORD>(status));
}

Error ReadFailure(const std::wstring& key, LSTATUS status) {
  return SystemFailure("read the stored archiver path in", L"HKEY_CURRENT_USER\\" + key,
                       static_cast<DWORD>(status));
}

// Only an answer that the file is not there counts as missing: a drive or share that can't
// be reached just now keeps the user's path rather than losing it at the next exit.
bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return false;
    default:
      return true;
  }
}

}  // namespace

Result<std::optional<std::wstring>> LoadArchiverPath(const std::wstring& application_name) {
  const std::wstring key = SettingsKey(application_name);
  const std::wstring value_name(kArchiverKey);
  std::wstring value(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, key.c_str(), value_name.c_str(),
                                        RRF_RT_REG_SZ, nullptr, value.data(), &size);
    if (status == ERROR_SUCCESS) {
      value.resize(wcsnlen(value.c_str(), size / sizeof(wchar_t)));
      return std::optional<std::wstring>(std::move(value));
    }
    // Only a key or value that is not there is no setting.
    if (status == ERROR_FILE_NOT_FOUND) return std::optional<std::wstring>();
    if (status != ERROR_MORE_DATA) return ReadFailure(key, status);
    value.resize(size / sizeof(wchar_t) + 1);  // it grew since it was measured
  }
}

std::optional<std::wstring> ReadArchiverPath(const std::wstring& application_name) {
  auto loaded = LoadArchiverPath(application_name);
  return loaded ? *loaded : std::nullopt;
}

std::wstring InitialArchiverPath(const std::wstring& application_name,
                                 const std::wstring& program_folder) {
  auto stored = LoadArchiverPath(application_name);
  return ChooseArchiverPath(stored ? *stored : std::nullopt, program_folder, IsFile);
}

Result<> StoreArchiverPath(const std::wstring& application_name, const std::wstring& path) {
  const std::wstring key = SettingsKey(application_name);
  // A value that is there but can't be read (of another type, or not readable by this user)
  // is the user's, not ours: the box started without it, so storing the box would lose it.
  if (auto stored = LoadArchiverPath(application_name); !stored) {
    return Fail(stored.message() + " The stored path is kept; the archiver path was not stored.");
  }
  HKEY opened = nullptr;
  LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                   nullptr, &opened, nullptr);
  if (status != ERROR_SUCCESS) return RegistryFailure(key, status);
  const Unique<KeyTraits> handle(opened);
  const std::wstring value_name(kArchiverKey);
  status = RegSetValueExW(handle.get(), value_name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(path.c_str()),
                          static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
  if (status != ERROR_SUCCESS) return RegistryFailure(key, status);
  return {};
}

}  // namespace veltrane
