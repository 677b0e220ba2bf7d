#pragma once
// Decoder for the IMA ADPCM variant of MPQ sectors with compression mask bit 0x40 (mono) or
// 0x80 (stereo), which the game's archives use for sound, usually before Huffman coding.

#include <cstddef>
#include <span>
#include <vector>

#include "common/result.h"

namespace veltrane::mpq {

// Decodes `in` (a zero byte, the shift byte, each channel's first sample as 16 bits little
// endian, then one byte per sample or step change, channels taking turns) into 16-bit little
// endian samples, as many as fit in `max_size` bytes. Input too short for the header gives
// an error; input that ends early gives what it holds.
Result<std::vector<std::byte>> DecodeAdpcm(std::span<const std::byte> in, std::size_t max_size,
                                           int channels);

}  // namespace veltrane::mpq
