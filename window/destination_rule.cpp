#include "window/destination_rule.h"

#include "job/script_path.h"
#include "window/layout.h"

namespace veltrane {

std::optional<std::wstring> DestinationForMap(std::wstring_view old_map, std::wstring_view new_map,
                                              std::wstring_view destination) {
  const bool users_own = !destination.empty() && destination != kPathRows[2].box.text &&
                         destination != ProtectedCopyPath(old_map);
  if (users_own || new_map.empty()) return std::nullopt;
  return ProtectedCopyPath(new_map);
}

}  // namespace veltrane
