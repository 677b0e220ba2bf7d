#pragma once
// MD5 message digest (RFC 1321): MPQ (attributes) files keep one per member.

#include <array>
#include <cstddef>
#include <span>

namespace veltrane::mpq {

std::array<std::byte, 16> Md5(std::span<const std::byte> data);

}  // namespace veltrane::mpq
