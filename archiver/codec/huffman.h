#pragma once
// Decoder for the adaptive Huffman coding of MPQ sectors with compression mask bit 0x01,
// which the game's archives use for sound, usually after ADPCM.

#include <cstddef>
#include <span>
#include <vector>

#include "common/result.h"

namespace veltrane::mpq {

// Decodes `in` (a byte that picks one of the format's weight tables, then the bit stream)
// until its end symbol or `max_size` bytes, whichever comes first. A stream that ends inside
// a code, or before either, gives an error; the output never grows past `max_size`.
Result<std::vector<std::byte>> Unhuff(std::span<const std::byte> in, std::size_t max_size);

}  // namespace veltrane::mpq
