#pragma once
// The lengths of members as the block table records them, without reading their content.

#include <cstdint>
#include <string_view>
#include <vector>

#include "archiver/archive.h"

namespace veltrane::mpq {

// The recorded length of every hash entry named `name`, in any locale or platform, that
// points at a block in use. Empty when the name isn't there.
std::vector<std::uint32_t> MemberLengths(const Archive& archive, std::string_view name);

}  // namespace veltrane::mpq
