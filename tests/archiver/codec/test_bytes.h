#pragma once
// Helpers shared by the codec tests: byte vectors from text and hand-written bit streams.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane::mpq::test {

inline std::vector<std::byte> Bytes(std::string_view text) {
  std::vector<std::byte> out;
  for (char c : text) out.push_back(static_cast<std::byte>(c));
  return out;
}

inline std::string Hex(std::span<const std::byte> data) {
  std::string out;
  for (std::byte b : data) {
    const auto v = std::to_integer<unsigned>(b);
    out += "0123456789abcdef"[v >> 4];
    out += "0123456789abcdef"[v & 15];
  }
  return out;
}

// A PKWARE stream from a header and bits written in stream order ('0'/'1'; anything else
// is ignored, so groups can be spaced). Bits fill each byte from its lowest bit.
inline std::vector<std::byte> DclStream(std::uint8_t mode, std::uint8_t dict_bits,
                                        std::string_view bits) {
  std::vector<std::byte> out = {std::byte{mode}, std::byte{dict_bits}};
  int used = 8;
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (used == 8) out.push_back(std::byte{0}), used = 0;
    if (c == '1') out.back() |= std::byte(1u << used);
    ++used;
  }
  return out;
}

// `value` as `count` raw bits in stream order (lowest bit first), as literals and extra
// bits are stored.
inline std::string RawBits(unsigned value, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += (value >> i) & 1 ? '1' : '0';
  return out;
}

}  // namespace veltrane::mpq::test
