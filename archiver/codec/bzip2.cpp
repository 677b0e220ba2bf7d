#include "archiver/codec/bzip2.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace veltrane::mpq {
namespace {

// The stream is read most significant bit first within each byte. Reading past its end
// gives zeros and marks the reader overrun, so a parser checks once per step, not per read.
class BitReader {
 public:
  explicit BitReader(std::span<const std::byte> in) : in_(in) {}

  // The next `n` (1 to 32) bits as a number, the first one highest.
  std::uint32_t Read(int n) {
    while (count_ < n) {
      std::uint64_t next = 0;
      if (next_ < in_.size()) {
        next = std::to_integer<std::uint64_t>(in_[next_++]);
      } else {
        overrun_ = true;
      }
      buffer_ = (buffer_ << 8) | next;
      count_ += 8;
    }
    count_ -= n;
    return static_cast<std::uint32_t>((buffer_ >> count_) & ((std::uint64_t{1} << n) - 1));
  }

  std::uint64_t Read48() {
    const std::uint64_t high = Read(24);
    return (high << 24) | Read(24);
  }

  bool Overrun() const { return overrun_; }

 private:
  std::span<const std::byte> in_;
  std::size_t next_ = 0;
  std::uint64_t buffer_ = 0;
  int count_ = 0;
  bool overrun_ = false;
};

constexpr std::uint64_t kBlockMarker = 0x314159265359;  // the digits of pi
constexpr std::uint64_t kEndMarker = 0x177245385090;    // the digits of the square root of pi
constexpr int kMaxCodeBits = 20;
constexpr unsigned kMaxTables = 6;
constexpr unsigned kGroupSize = 50;  // symbols coded with one selector's table
constexpr unsigned kRunA = 0, kRunB = 1;

// The CRC-32 of bzip2: polynomial 0x04C11DB7 taken most significant bit first, starting from
// all ones and inverted at the end.
constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit) crc = (crc << 1) ^ (crc >> 31 ? 0x04C11DB7u : 0);
    table[i] = crc;
  }
  return table;
}();

std::string Hex32(std::uint32_t value) {
  std::string out = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += "0123456789abcdef"[(value >> shift) & 15];
  return out;
}

// A prefix code given by the code length of each symbol. Codes are assigned in order of
// (length, symbol), shortest first, and stored most significant bit first.
class PrefixCode {
 public:
  explicit PrefixCode(std::span<const std::uint8_t> lengths) {
    for (std::uint8_t length : lengths) ++count_[length];
    std::array<std::uint16_t, kMaxCodeBits + 2> start{};
    for (int length = 1; length <= kMaxCodeBits; ++length) {
      start[length + 1] = start[length] + count_[length];
    }
    for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
      symbols_[start[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
    }
  }

  // The next symbol, or nothing when the bits are no code of the table (an incomplete
  // code leaves some unused).
  std::optional<unsigned> Decode(BitReader& bits) const {
    unsigned code = 0, first = 0, index = 0;
    for (int length = 1; length <= kMaxCodeBits; ++length) {
      code |= bits.Read(1);
      if (code - first < count_[length]) return symbols_[index + code - first];
      index += count_[length];
      first = (first + count_[length]) << 1;
      code <<= 1;
    }
    return std::nullopt;
  }

 private:
  std::array<std::uint16_t, kMaxCodeBits + 1> count_{};
  std::array<std::uint16_t, 258> symbols_{};  // 256 byte positions, two run digits, the end
};

// How a block's symbols are coded: the byte values it uses, which start the move-to-front
// list, the Huffman tables and the table of each group of 50 symbols.
struct BlockCodes {
  std::vector<std::uint8_t> used;
  std::vector<std::uint8_t> selectors;
  std::vector<PrefixCode> tables;
};

// The used byte values: 16 bits for the ranges of 16 values, then 16 bits for each range
// marked, the lowest value's bit first.
std::vector<std::uint8_t> ReadUsedBytes(BitReader& bits) {
  std::vector<std::uint8_t> used;
  const std::uint32_t ranges = bits.Read(16);
  for (unsigned range = 0; range < 16; ++range) {
    if (((ranges >> (15 - range)) & 1) == 0) continue;
    const std::uint32_t values = bits.Read(16);
    for (unsigned i = 0; i < 16; ++i) {
      if ((values >> (15 - i)) & 1) used.push_back(static_cast<std::uint8_t>(range * 16 + i));
    }
  }
  return used;
}

// Each selector is its table's position in a move-to-front list of the tables, in unary.
Result<std::vector<std::uint8_t>> ReadSelectors(BitReader& bits, unsigned tables, unsigned count) {
  std::array<std::uint8_t, kMaxTables> order = {0, 1, 2, 3, 4, 5};
  std::vector<std::uint8_t> selectors;
  selectors.reserve(count);
  for (unsigned i = 0; i < count; ++i) {
    unsigned position = 0;
    while (bits.Read(1)) {
      if (++position == tables) {
        return Fail("has a selector beyond its " + std::to_string(tables) + " tables");
      }
    }
    const std::uint8_t table = order[position];
    std::copy_backward(order.begin(), order.begin() + position, order.begin() + position + 1);
    order[0] = table;
    selectors.push_back(table);
  }
  return selectors;
}

// Code lengths: 5 bits for the first symbol's, then for each symbol changes of one, each
// "1" followed by 0 (longer) or 1 (shorter), ended by "0".
Result<PrefixCode> ReadTable(BitReader& bits, unsigned alphabet) {
  std::array<std::uint8_t, 258> lengths{};
  int length = static_cast<int>(bits.Read(5));
  for (unsigned symbol = 0; symbol < alphabet; ++symbol) {
    for (;;) {
      if (length < 1 || length > kMaxCodeBits) {
        return Fail("has a Huffman code length of " + std::to_string(length) + ", expected 1 to " +
                    std::to_string(kMaxCodeBits));
      }
      if (bits.Read(1) == 0) break;
      length += bits.Read(1) ? -1 : 1;
    }
    lengths[symbol] = static_cast<std::uint8_t>(length);
  }
  return PrefixCode(std::span(lengths.data(), alphabet));
}

Result<BlockCodes> ReadCodes(BitReader& bits) {
  BlockCodes codes;
  codes.used = ReadUsedBytes(bits);
  if (codes.used.empty()) return Fail("uses no byte values");
  const unsigned tables = bits.Read(3);
  if (tables < 2 || tables > kMaxTables) {
    return Fail("has " + std::to_string(tables) + " Huffman tables, expected 2 to 6");
  }
  const unsigned count = bits.Read(15);
  if (count == 0) return Fail("has no selectors");
  auto selectors = ReadSelectors(bits, tables, count);
  if (!selectors) return selectors.error();
  codes.selectors = std::move(*selectors);
  // The symbols: two run digits, a position in the move-to-front list other than the
  // first for each used byte but one, and the end of the block.
  const auto alphabet = static_cast<unsigned>(codes.used.size() + 2);
  for (unsigned i = 0; i < tables; ++i) {
    auto table = ReadTable(bits, alphabet);
    if (!table) return table.error();
    codes.tables.push_back(*table);
  }
  return codes;
}

// The block's bytes before the Burrows-Wheeler transform is undone, one in the low 8 bits of
// each entry, so that the same array can hold the transform's links above them. Runs of the
// first byte of the move-to-front list are counted in bijective base 2: RUNA is a digit 1,
// RUNB a digit 2, least significant first. At most `max` bytes; `too_long` says why.
Result<std::vector<std::uint32_t>> ReadSymbols(BitReader& bits, const BlockCodes& codes,
                                               std::size_t max, const std::string& too_long) {
  std::array<std::uint8_t, 256> front{};
  std::copy(codes.used.begin(), codes.used.end(), front.begin());
  const auto end = static_cast<unsigned>(codes.used.size() + 1);
  std::vector<std::uint32_t> block;
  std::size_t run = 0, weight = 1, group = 0, left = 0;
  const PrefixCode* table = nullptr;
  for (;;) {
    if (bits.Overrun()) return Fail("ends inside its data");
    if (left == 0) {
      if (group == codes.selectors.size()) {
        return Fail("has more symbols than its " + std::to_string(group) + " selectors cover");
      }
      table = &codes.tables[codes.selectors[group++]];
      left = kGroupSize;
    }
    --left;
    const auto symbol = table->Decode(bits);
    if (!symbol) return Fail("has bits that are no code of its Huffman table");
    if (*symbol == kRunA || *symbol == kRunB) {
      run += weight << *symbol;  // weight stays below 2 * max: run is checked at each digit
      weight <<= 1;
      if (run > max) return Fail(too_long);
      continue;
    }
    if (run > max - block.size()) return Fail(too_long);
    block.insert(block.end(), run, front[0]);
    run = 0, weight = 1;
    if (*symbol == end) return block;
    if (block.size() == max) return Fail(too_long);
    const unsigned position = *symbol - 1;  // below the number of used bytes
    const std::uint8_t value = front[position];
    std::copy_backward(front.begin(), front.begin() + position, front.begin() + position + 1);
    front[0] = value;
    block.push_back(value);
  }
}

// Links each entry to the next byte of the original order, in the bits above the byte: the
// i-th occurrence of a byte value in the sorted column is its i-th occurrence in the block.
void LinkBlock(std::vector<std::uint32_t>& block) {
  std::array<std::uint32_t, 256> start{};
  for (std::uint32_t entry : block) ++start[entry & 0xFF];
  std::uint32_t sum = 0;
  for (std::uint32_t& count : start) sum += std::exchange(count, sum);
  for (std::uint32_t i = 0; i < block.size(); ++i) block[start[block[i] & 0xFF]++] |= i << 8;
}

class Decoder {
 public:
  Decoder(std::span<const std::byte> stream, std::size_t out_size, std::size_t block_max,
          bool exact)
      : bits_(stream), out_size_(out_size), block_max_(block_max), exact_(exact) {
    // A typical ratio up front; the claimed size alone is not trusted for an allocation.
    out_.reserve(std::min(out_size, stream.size() * 8 + 4096));
  }

  Result<std::vector<std::byte>> Run() && {
    for (unsigned block = 1;; ++block) {
      const std::uint64_t marker = bits_.Read48();
      if (bits_.Overrun()) return Truncated();
      if (marker == kEndMarker) break;
      if (marker != kBlockMarker) {
        return Corrupt("block " + std::to_string(block) +
                       " starts with neither the block marker nor the end-of-stream marker");
      }
      const Result<> decoded = Block(block);
      if (!decoded) return decoded.error();
    }
    const std::uint32_t stored = bits_.Read(32);
    if (bits_.Overrun()) return Truncated();
    if (stored != combined_) {
      return Corrupt("its combined CRC is " + Hex32(stored) + ", its blocks' " + Hex32(combined_));
    }
    if (exact_ && out_.size() != out_size_) {
      return Fail("bzip2 stream ends after " + std::to_string(out_.size()) + " bytes, expected " +
                  std::to_string(out_size_));
    }
    return std::move(out_);
  }

 private:
  static Error Corrupt(const std::string& detail) {
    return Fail("bzip2 stream is corrupt: " + detail);
  }

  Error Truncated() const {
    return Fail("bzip2 stream is truncated after " + std::to_string(out_.size()) +
                " bytes, expected " + std::to_string(out_size_));
  }

  // A block's error, or the truncation that caused it.
  Error InBlock(unsigned block, const Error& error) const {
    if (bits_.Overrun()) return Truncated();
    return Corrupt("block " + std::to_string(block) + " " + error.message);
  }

  // The first stage turns at most one byte in five into a count that follows four equal
  // bytes, so a block of more than 5/4 of the output still expected cannot fit it. Capping
  // blocks there bounds the work and memory of a damaged stream by the expected size too.
  std::size_t BlockRoom() const {
    const std::size_t left = out_size_ - out_.size();
    return std::min(block_max_, left + left / 4 + 1);
  }

  std::string TooLong() const {
    const std::size_t room = BlockRoom();
    if (room == block_max_) return "holds more than its block size of " + std::to_string(room);
    return "holds more than " + std::to_string(room) + " bytes, more than the " +
           std::to_string(out_size_ - out_.size()) + " bytes still expected can come from";
  }

  Result<> Block(unsigned block) {
    const std::uint32_t stored = bits_.Read(32);
    const bool randomised = bits_.Read(1);
    const std::uint32_t origin = bits_.Read(24);
    if (randomised) {
      return Fail("bzip2 stream's block " + std::to_string(block) +
                  " is randomised, an obsolete form that is not supported");
    }
    const auto codes = ReadCodes(bits_);
    if (!codes) return InBlock(block, codes.error());
    auto data = ReadSymbols(bits_, *codes, BlockRoom(), TooLong());
    if (!data) return InBlock(block, data.error());
    if (origin >= data->size()) {
      return InBlock(block,
                     Fail("has origin pointer " + std::to_string(origin) + ", expected below its " +
                          std::to_string(data->size()) + " bytes"));
    }
    LinkBlock(*data);
    crc_ = 0xFFFFFFFF;
    const Result<> expanded = Expand(*data, origin);
    if (!expanded) return expanded;
    const std::uint32_t crc = ~crc_;
    if (crc != stored) {
      return InBlock(block, Fail("has CRC " + Hex32(stored) + ", its data's is " + Hex32(crc)));
    }
    combined_ = ((combined_ << 1) | (combined_ >> 31)) ^ crc;
    return {};
  }

  // Follows the links from the origin, undoing the runs of the first stage: after four equal
  // bytes, the next byte counts further copies of them (0 to 255).
  Result<> Expand(const std::vector<std::uint32_t>& data, std::uint32_t origin) {
    std::uint32_t at = data[origin] >> 8;
    unsigned last = 256, same = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
      const std::uint32_t entry = data[at];
      at = entry >> 8;
      const unsigned value = entry & 0xFF;
      if (same == 4) {
        if (!Emit(last, value)) return Expands();
        same = 0;
        continue;
      }
      same = value == last ? same + 1 : 1;
      last = value;
      if (!Emit(value, 1)) return Expands();
    }
    return {};
  }

  bool Emit(unsigned value, std::size_t count) {
    if (count > out_size_ - out_.size()) return false;
    for (std::size_t i = 0; i < count; ++i) crc_ = (crc_ << 8) ^ kCrcTable[(crc_ >> 24) ^ value];
    out_.insert(out_.end(), count, static_cast<std::byte>(value));
    return true;
  }

  Error Expands() const {
    return Fail("bzip2 stream expands beyond " + std::to_string(out_size_) + " bytes");
  }

  BitReader bits_;
  std::size_t out_size_, block_max_;
  bool exact_;  // the stream must give all out_size_ bytes, not just at most that many
  std::uint32_t crc_ = 0, combined_ = 0;
  std::vector<std::byte> out_;
};

}  // namespace

namespace {

Result<std::vector<std::byte>> Decode(std::span<const std::byte> in, std::size_t out_size,
                                      bool exact) {
  const auto at = [&](std::size_t i) { return std::to_integer<char>(in[i]); };
  if (in.size() < 4 || at(0) != 'B' || at(1) != 'Z' || at(2) != 'h' || at(3) < '1' || at(3) > '9') {
    return Fail("bzip2 stream does not start with \"BZh\" and a block size digit 1 to 9");
  }
  // The digit gives the largest block in units of 100 000 bytes.
  const auto block_max = static_cast<std::size_t>(at(3) - '0') * 100'000;
  return Decoder(in.subspan(4), out_size, block_max, exact).Run();
}

}  // namespace

Result<std::vector<std::byte>> Bunzip2(std::span<const std::byte> in, std::size_t out_size) {
  return Decode(in, out_size, true);
}

Result<std::vector<std::byte>> Bunzip2AtMost(std::span<const std::byte> in, std::size_t max_size) {
  return Decode(in, max_size, false);
}

}  // namespace veltrane::mpq
