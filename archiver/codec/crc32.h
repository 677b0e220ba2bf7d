#pragma once
// The CRC-32 (zlib's polynomial) that (attributes) records of each member.

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane::mpq {

std::uint32_t Crc32(std::span<const std::byte> data);

}  // namespace veltrane::mpq
