#pragma once
// Little-endian words read from and written to bytes, and the bounds-checked cursor that
// reads them in sequence.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace veltrane::mpq {

// The `size`-byte little-endian word at `at` (size at most 8). On a little-endian host the
// bytes are the word's own, so one copy reads it; the cipher and the tables read millions.
inline std::uint64_t LoadLe(const std::byte* at, std::size_t size) {
  std::uint64_t value = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&value, at, size);
  } else {
    for (std::size_t i = size; i-- > 0;) {
      value = (value << 8) | std::to_integer<std::uint64_t>(at[i]);
    }
  }
  return value;
}
inline std::uint32_t LoadLe32(const std::byte* at) {
  return static_cast<std::uint32_t>(LoadLe(at, 4));
}

// Stores the low `size` bytes of `value` at `at`, least significant first.
inline void StoreLe(std::byte* at, std::uint64_t value, std::size_t size) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &value, size);
  } else {
    for (std::size_t i = 0; i < size; ++i) at[i] = std::byte((value >> (8 * i)) & 0xFF);
  }
}

// Reads fields in sequence from a span; a read past the end fails and leaves the cursor
// marked bad instead of touching memory outside the span.
class ByteCursor {
 public:
  explicit ByteCursor(std::span<const std::byte> data) : data_(data) {}

  bool ok() const { return ok_; }

  std::uint32_t U32() { return static_cast<std::uint32_t>(Read(4)); }

 private:
  bool Has(std::size_t size) {
    if (!ok_ || size > data_.size() - offset_) ok_ = false;
    return ok_;
  }
  std::uint64_t Read(std::size_t size) {
    if (!Has(size)) return 0;
    const std::uint64_t value = LoadLe(data_.data() + offset_, size);
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

// Appends `bytes` to `out`.
inline void PutBytes(std::vector<std::byte>& out, std::span<const std::byte> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

}  // namespace veltrane::mpq
