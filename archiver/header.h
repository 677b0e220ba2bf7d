#pragma once
// The archive header (format version 1): the one encoder and decoder of its 32 bytes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "archiver/format.h"

namespace veltrane::mpq {

// The fields after the signature, in the order they are stored. The game reads only the
// sector size and the two tables; the others are kept as found when a header is decoded.
struct Header {
  std::uint32_t header_size = kHeaderSize;
  std::uint32_t archive_size = 0;
  std::uint16_t format_version = 0;  // 0: version 1
  std::uint16_t sector_shift = 0;    // sector size is 512 << shift
  std::uint32_t hash_position = 0;   // header-relative, as are all positions
  std::uint32_t block_position = 0;
  std::uint32_t hash_count = 0;
  std::uint32_t block_count = 0;
};

using HeaderBytes = std::array<std::byte, kHeaderSize>;

// The stored header: the signature, then the fields.
HeaderBytes EncodeHeader(const Header& header);

// The fields of a stored header; the signature is not checked here.
Header DecodeHeader(std::span<const std::byte, kHeaderSize> stored);

}  // namespace veltrane::mpq
