#pragma once
// The destination that follows the map: a map set by the command line, a drop or the map
// picker names its protected copy beside it, unless the user has given a destination.

#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// The destination box's new text when the map box changes from `old_map` to the full path
// `new_map`: "<map's folder>\<map's name> protected.<map's extension>". The box changes only
// while it holds no destination of the user's: its starting text, nothing, or the copy this
// rule named for the old map. Otherwise nothing, and the box keeps what it holds.
std::optional<std::wstring> DestinationForMap(std::wstring_view old_map, std::wstring_view new_map,
                                              std::wstring_view destination);

}  // namespace veltrane
