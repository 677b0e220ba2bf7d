#include "archiver/codec/explode.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "archiver/codec/bit_reader.h"

namespace veltrane::mpq {
namespace {

constexpr int kMaxCodeBits = 13;

// A fixed prefix code given by the code length of each symbol. Codes are assigned in order
// of (length, symbol), shortest first, and the stream carries every code bit inverted,
// most significant bit first.
class PrefixCode {
 public:
  template <std::size_t N>
  constexpr explicit PrefixCode(const std::array<std::uint8_t, N>& lengths) {
    for (std::uint8_t length : lengths) ++count_[length];
    std::array<std::uint16_t, kMaxCodeBits + 2> start{};
    for (int length = 1; length <= kMaxCodeBits; ++length) {
      start[length + 1] = start[length] + count_[length];
    }
    for (std::size_t symbol = 0; symbol < N; ++symbol) {
      symbols_[start[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
    }
  }

  // The next symbol, or nothing when the input ends inside a code.
  std::optional<unsigned> Decode(BitReader& bits) const {
    unsigned code = 0, first = 0, index = 0;
    for (int length = 1; length <= kMaxCodeBits; ++length) {
      const auto bit = bits.Read(1);
      if (!bit) return std::nullopt;
      code |= *bit ^ 1u;
      if (code - first < count_[length]) return symbols_[index + code - first];
      index += count_[length];
      first = (first + count_[length]) << 1;
      code <<= 1;
    }
    return std::nullopt;  // unreachable: every table below is a complete code
  }

 private:
  std::array<std::uint16_t, kMaxCodeBits + 1> count_{};
  std::array<std::uint16_t, 256> symbols_{};
};

// Copy lengths: 16 symbols, each a base plus a number of extra bits read after the code.
constexpr std::array<std::uint8_t, 16> kLengthBits = {3, 2, 3, 3, 4, 4, 4, 5,
                                                      5, 5, 5, 6, 6, 6, 7, 7};
constexpr std::array<std::uint16_t, 16> kLengthBase = {2,  3,  4,  5,  6,  7,  8,   9,
                                                       10, 12, 16, 24, 40, 72, 136, 264};
constexpr std::array<std::uint8_t, 16> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0,
                                                       1, 2, 3, 4, 5, 6, 7, 8};
// The length one past the longest copy marks the end of the stream.
constexpr unsigned kEndOfStream = 519;

// The upper six bits of a copy distance.
constexpr std::array<std::uint8_t, 64> kDistanceBits = {
    2, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};

// Literal bytes in ASCII mode, weighted toward printable text.
constexpr std::array<std::uint8_t, 256> kAsciiBits = {
    11, 12, 12, 12, 12, 12, 12, 12, 12, 8,  7,  12, 12, 7,  12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 12, 13, 12, 12, 12, 12, 12, 4,  10, 8,  12, 10, 12, 10, 8,  7,  7,  8,  9,  7,  6,  7,  8,
    7,  6,  7,  7,  7,  7,  8,  7,  7,  8,  8,  12, 11, 7,  9,  11, 12, 6,  7,  6,  6,  5,  7,  8,
    8,  6,  11, 9,  6,  7,  6,  6,  7,  11, 6,  6,  6,  7,  9,  8,  9,  9,  11, 8,  11, 9,  12, 8,
    12, 5,  6,  6,  6,  5,  6,  6,  6,  5,  11, 7,  5,  6,  5,  5,  6,  10, 5,  5,  5,  5,  8,  7,
    8,  8,  10, 11, 11, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,
    13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13,
    13, 13, 13, 13, 13, 13, 13, 13, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,
    12, 12, 12, 12, 12, 12, 12, 12, 13, 12, 13, 13, 13, 12, 13, 13, 13, 12, 13, 13, 13, 13, 12, 13,
    13, 13, 12, 12, 12, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13};

constexpr PrefixCode kLengthCode(kLengthBits);
constexpr PrefixCode kDistanceCode(kDistanceBits);
constexpr PrefixCode kAsciiCode(kAsciiBits);

class Decoder {
 public:
  Decoder(std::span<const std::byte> stream, std::size_t out_size, bool ascii, int dict_bits)
      : bits_(stream), out_size_(out_size), ascii_(ascii), dict_bits_(dict_bits) {
    // A typical ratio up front; the claimed size alone is not trusted for an allocation.
    out_.reserve(std::min(out_size, stream.size() * 8 + 4096));
  }

  Result<std::vector<std::byte>> Run() && {
    // The end marker is optional once the expected size is reached.
    while (out_.size() < out_size_) {
      const auto is_copy = bits_.Read(1);
      if (!is_copy) return Truncated();
      const Result<> step = *is_copy ? Copy() : Literal();
      if (!step) return step.error();
      if (ended_) break;
    }
    return std::move(out_);
  }

 private:
  Error Truncated() const {
    return Fail("PKWARE stream is truncated: input ends after " + std::to_string(out_.size()) +
                " of " + std::to_string(out_size_) + " bytes");
  }

  Result<> Literal() {
    const auto value = ascii_ ? kAsciiCode.Decode(bits_) : bits_.Read(8);
    if (!value) return Truncated();
    out_.push_back(static_cast<std::byte>(*value));
    return {};
  }

  Result<> Copy() {
    const auto symbol = kLengthCode.Decode(bits_);
    if (!symbol) return Truncated();
    const auto extra = bits_.Read(kLengthExtra[*symbol]);
    if (!extra) return Truncated();
    const unsigned length = kLengthBase[*symbol] + *extra;
    if (length == kEndOfStream) {
      ended_ = true;
      return {};
    }
    // Two-byte copies keep only 2 low distance bits; longer ones as many as the dictionary.
    const int low_bits = length == 2 ? 2 : dict_bits_;
    const auto high = kDistanceCode.Decode(bits_);
    if (!high) return Truncated();
    const auto low = bits_.Read(low_bits);
    if (!low) return Truncated();
    return Emit(((*high << low_bits) | *low) + 1, length);
  }

  Result<> Emit(std::size_t distance, std::size_t length) {
    if (distance > out_.size()) {
      return Fail("PKWARE stream copies from " + std::to_string(distance) +
                  " bytes back at output offset " + std::to_string(out_.size()) +
                  ", before the start of the data");
    }
    if (length > out_size_ - out_.size()) {
      return Fail("PKWARE stream expands beyond the expected " + std::to_string(out_size_) +
                  " bytes");
    }
    // Byte by byte: a copy may overlap the bytes it produces.
    const std::size_t from = out_.size() - distance;
    for (std::size_t i = 0; i < length; ++i) out_.push_back(out_[from + i]);
    return {};
  }

  BitReader bits_;
  std::size_t out_size_;
  bool ascii_;
  int dict_bits_;
  bool ended_ = false;
  std::vector<std::byte> out_;
};

}  // namespace

Result<std::vector<std::byte>> ExplodeAtMost(std::span<const std::byte> in, std::size_t max_size) {
  if (in.size() < 2) {
    return Fail("PKWARE stream of " + std::to_string(in.size()) +
                " bytes is too short for its 2-byte header");
  }
  const auto mode = std::to_integer<unsigned>(in[0]);
  const auto dict_bits = std::to_integer<int>(in[1]);
  if (mode > 1) {
    return Fail("PKWARE stream has unknown literal mode " + std::to_string(mode) +
                " (expected 0 for binary or 1 for ASCII)");
  }
  // 4, 5 and 6 select dictionaries of 1024, 2048 and 4096 bytes.
  if (dict_bits < 4 || dict_bits > 6) {
    return Fail("PKWARE stream has unknown dictionary size code " + std::to_string(dict_bits) +
                " (expected 4, 5 or 6)");
  }
  return Decoder(in.subspan(2), max_size, mode == 1, dict_bits).Run();
}

Result<std::vector<std::byte>> Explode(std::span<const std::byte> in, std::size_t out_size) {
  auto out = ExplodeAtMost(in, out_size);
  if (out && out->size() != out_size) {
    return Fail("PKWARE stream ends after " + std::to_string(out->size()) + " bytes, expected " +
                std::to_string(out_size));
  }
  return out;
}

}  // namespace veltrane::mpq
