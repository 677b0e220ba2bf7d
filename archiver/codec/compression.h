#pragma once
// MPQ sector compression: decoding the methods Warcraft III maps use (zlib, PKWARE DCL)
// and encoding with zlib.

#include <cstddef>
#include <span>
#include <vector>

#include "common/result.h"

namespace veltrane::mpq {

// Compression mask bytes that start a compressed sector.
inline constexpr std::byte kMaskZlib{0x02};
inline constexpr std::byte kMaskPkware{0x08};

// Decodes one sector into exactly `out_size` bytes. A sector as long as its data is stored
// as is; an imploded member's sector is a bare PKWARE stream; any other sector starts with
// a compression mask byte. Only zlib (0x02) and PKWARE (0x08) are accepted.
Result<std::vector<std::byte>> DecompressSector(std::span<const std::byte> in, std::size_t out_size,
                                                bool imploded);

// 0x02 followed by a zlib stream of `in` at level 9. Deterministic; the caller stores the
// sector as is when this is not smaller.
std::vector<std::byte> CompressSectorZlib(std::span<const std::byte> in);

}  // namespace veltrane::mpq
