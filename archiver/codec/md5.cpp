#include "archiver/codec/md5.h"

#include <bit>
#include <cstdint>

#include "archiver/byte_io.h"

namespace veltrane::mpq {
namespace {

// floor(abs(sin(i + 1)) * 2^32) for i = 0..63, as RFC 1321 defines the round constants.
constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left-rotation amounts: four per round, repeated over the round's sixteen steps.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

struct State {
  std::uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;
};

void Block(State& s, const std::byte* block) {
  std::uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe32(block + 4 * i);
  std::uint32_t a = s.a, b = s.b, c = s.c, d = s.d;
  for (int i = 0; i < 64; ++i) {
    const int round = i / 16;
    std::uint32_t f;
    int k;
    if (round == 0) {
      f = (b & c) | (~b & d), k = i;
    } else if (round == 1) {
      f = (b & d) | (c & ~d), k = (5 * i + 1) % 16;
    } else if (round == 2) {
      f = b ^ c ^ d, k = (3 * i + 5) % 16;
    } else {
      f = c ^ (b | ~d), k = (7 * i) % 16;
    }
    const std::uint32_t rotated = std::rotl(a + f + kSine[i] + x[k], kShift[round][i % 4]);
    a = d, d = c, c = b, b = b + rotated;
  }
  s.a += a, s.b += b, s.c += c, s.d += d;
}

}  // namespace

std::array<std::byte, 16> Md5(std::span<const std::byte> data) {
  State state;
  const std::size_t whole = data.size() / 64 * 64;
  for (std::size_t at = 0; at < whole; at += 64) Block(state, data.data() + at);

  // The tail, a 0x80 marker, zeros up to 56 mod 64, then the bit length, little-endian.
  std::byte tail[128] = {};
  const std::size_t rest = data.size() - whole;
  for (std::size_t i = 0; i < rest; ++i) tail[i] = data[whole + i];
  tail[rest] = std::byte{0x80};
  const std::size_t tail_size = rest < 56 ? 64 : 128;
  const std::uint64_t bits = static_cast<std::uint64_t>(data.size()) * 8;
  StoreLe(tail + tail_size - 8, bits, 8);
  for (std::size_t at = 0; at < tail_size; at += 64) Block(state, tail + at);

  std::array<std::byte, 16> digest;
  const std::uint32_t words[4] = {state.a, state.b, state.c, state.d};
  for (int i = 0; i < 4; ++i) StoreLe(digest.data() + 4 * i, words[i], 4);
  return digest;
}

}  // namespace veltrane::mpq
