#pragma once
// Decompressor for the PKWARE Data Compression Library ("implode") format, which MPQ
// archives use for members flagged as imploded and for sectors with compression mask 0x08.

#include <cstddef>
#include <span>
#include <vector>

#include "common/result.h"

namespace veltrane::mpq {

// Decodes `in` (2-byte header, then the bit stream) into exactly `out_size` bytes.
// Output never grows past `out_size`; a stream that ends short, copies from before the
// start of the data, or expands beyond `out_size` gives an error.
Result<std::vector<std::byte>> Explode(std::span<const std::byte> in, std::size_t out_size);

// As Explode, for a stream whose data may be shorter than `max_size`: one that ends with its
// end marker earlier gives what it holds.
Result<std::vector<std::byte>> ExplodeAtMost(std::span<const std::byte> in, std::size_t max_size);

}  // namespace veltrane::mpq
