#include "job/paths.h"

#include <algorithm>

namespace veltrane {
namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

wchar_t LowerAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c;
}

}  // namespace

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring joined(folder);
  if (!joined.empty() && !IsSeparator(joined.back())) joined += L'\\';
  while (!name.empty() && IsSeparator(name.front())) name.remove_prefix(1);
  return joined.append(name);
}

std::wstring FolderOf(std::wstring_view full_path) {
  const size_t separator = full_path.find_last_of(L"\\/");
  if (separator == std::wstring_view::npos) return std::wstring(full_path);
  const bool root = separator == 2 && full_path[1] == L':';
  return std::wstring(full_path.substr(0, root ? separator + 1 : separator));
}

std::wstring_view NameOf(std::wstring_view path) {
  const size_t end = path.find_last_of(L"\\/:");
  return end == std::wstring_view::npos ? path : path.substr(end + 1);
}

bool HasExtension(std::wstring_view path, std::wstring_view extension) {
  if (path.size() < extension.size()) return false;
  const auto tail = path.substr(path.size() - extension.size());
  for (size_t i = 0; i < tail.size(); ++i) {
    if (LowerAscii(tail[i]) != LowerAscii(extension[i])) return false;
  }
  return true;
}

std::vector<std::wstring_view> SplitList(std::wstring_view list) {
  std::vector<std::wstring_view> parts;
  while (!list.empty()) {
    const size_t end = std::min(list.find(L';'), list.size());
    if (end > 0) parts.push_back(list.substr(0, end));
    list.remove_prefix(std::min(end + 1, list.size()));
  }
  return parts;
}

}  // namespace veltrane
