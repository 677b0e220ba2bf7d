#pragma once
// Checksums of the MPQ format: CRC-32 (zlib's polynomial) in (attributes), and Adler-32
// for the per-sector checksum table of members flagged with sector checksums.

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrane::mpq {

std::uint32_t Crc32(std::span<const std::byte> data);
std::uint32_t Adler32(std::span<const std::byte> data);

}  // namespace veltrane::mpq
