#include "archiver/codec/crc32.h"

#include <algorithm>

#include <zlib.h>

namespace veltrane::mpq {
namespace {

// zlib takes lengths as uInt, so large inputs go through in pieces.
constexpr std::size_t kPiece = 1u << 30;

const Bytef* Ptr(std::span<const std::byte> data, std::size_t at) {
  return reinterpret_cast<const Bytef*>(data.data() + at);
}

}  // namespace

std::uint32_t Crc32(std::span<const std::byte> data) {
  uLong crc = crc32(0L, Z_NULL, 0);
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    crc = crc32(crc, Ptr(data, at), static_cast<uInt>(std::min(kPiece, data.size() - at)));
  }
  return static_cast<std::uint32_t>(crc);
}

}  // namespace veltrane::mpq
