#pragma once
// Decompressor for bzip2 streams, which MPQ archives use for sectors with compression mask
// 0x10.

#include <cstddef>
#include <span>
#include <vector>

#include "common/result.h"

namespace veltrane::mpq {

// Decodes one complete bzip2 stream ("BZh", the block size digit, blocks, the end-of-stream
// marker and the combined CRC) into exactly `out_size` bytes; what follows the stream is not
// read. Output never grows past `out_size` and memory stays within what the stream's block
// size allows. A stream that ends short, fails a CRC, breaks a rule of the format or expands
// beyond `out_size` gives an error.
Result<std::vector<std::byte>> Bunzip2(std::span<const std::byte> in, std::size_t out_size);

// The same, for a stage that another method's decoding follows: the stream may give fewer
// than `max_size` bytes, never more.
Result<std::vector<std::byte>> Bunzip2AtMost(std::span<const std::byte> in, std::size_t max_size);

}  // namespace veltrane::mpq
