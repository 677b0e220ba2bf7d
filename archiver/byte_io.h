#pragma once
// Little-endian decoding through one bounds-checked cursor, and encoding into byte vectors.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace veltrane::mpq {

// Reads fields in sequence from a span; a read past the end fails and leaves the cursor
// marked bad instead of touching memory outside the span.
class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::byte> data) : data_(data) {}

  bool ok() const { return ok_; }
  std::size_t offset() const { return offset_; }
  std::size_t remaining() const { return ok_ ? data_.size() - offset_ : 0; }

  std::uint16_t U16() { return static_cast<std::uint16_t>(Read(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Read(4)); }
  std::uint64_t U64() { return Read(8); }

  // The next `size` bytes, or an empty span (and a bad cursor) when fewer remain.
  std::span<const std::byte> Bytes(std::size_t size) {
    if (!Has(size)) return {};
    auto out = data_.subspan(offset_, size);
    offset_ += size;
    return out;
  }

 private:
  bool Has(std::size_t size) {
    if (!ok_ || size > data_.size() - offset_) ok_ = false;
    return ok_;
  }
  std::uint64_t Read(std::size_t size) {
    if (!Has(size)) return 0;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
      value |= std::uint64_t{std::to_integer<std::uint8_t>(data_[offset_ + i])} << (8 * i);
    }
    offset_ += size;
    return value;
  }

  std::span<const std::byte> data_;
  std::size_t offset_ = 0;
  bool ok_ = true;
};

// The part of `data` at [offset, offset+size), or nothing when it doesn't lie inside.
inline bool SliceOf(std::span<const std::byte> data, std::uint64_t offset, std::uint64_t size,
                    std::span<const std::byte>& out) {
  if (offset > data.size() || size > data.size() - offset) return false;
  out = data.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
  return true;
}

inline void PutU16(std::vector<std::byte>& out, std::uint16_t value) {
  out.push_back(std::byte(value & 0xFF));
  out.push_back(std::byte(value >> 8));
}
inline void PutU32(std::vector<std::byte>& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(std::byte((value >> (8 * i)) & 0xFF));
}
inline void PutU64(std::vector<std::byte>& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(std::byte((value >> (8 * i)) & 0xFF));
}
inline void PutBytes(std::vector<std::byte>& out, std::span<const std::byte> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace veltrane::mpq
