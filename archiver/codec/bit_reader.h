#pragma once
// The bit reader of the sector codecs whose streams are read least significant bit first
// within each byte (PKWARE DCL and Huffman).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace veltrane::mpq {

class BitReader {
 public:
  explicit BitReader(std::span<const std::byte> in) : in_(in) {}

  // The next `n` (at most 16) bits, the first one lowest; nothing when the input ends.
  std::optional<std::uint32_t> Read(int n) {
    while (count_ < n) {
      if (next_ == in_.size()) return std::nullopt;
      buffer_ |= std::to_integer<std::uint32_t>(in_[next_++]) << count_;
      count_ += 8;
    }
    const std::uint32_t value = buffer_ & ((1u << n) - 1);
    buffer_ >>= n;
    count_ -= n;
    return value;
  }

 private:
  std::span<const std::byte> in_;
  std::size_t next_ = 0;
  std::uint32_t buffer_ = 0;
  int count_ = 0;
};

}  // namespace veltrane::mpq
