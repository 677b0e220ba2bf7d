#include "archiver/crypt.h"

#include <array>

#include "archiver/byte_io.h"
#include "archiver/format.h"

namespace veltrane::mpq {
namespace {

// 0x500 pseudo-random words: five rows of 256, one per hash kind plus one for the cipher.
std::array<std::uint32_t, 0x500> MakeCryptTable() {
  std::array<std::uint32_t, 0x500> table{};
  std::uint32_t seed = 0x00100001;
  for (std::uint32_t column = 0; column < 0x100; ++column) {
    for (std::uint32_t row = 0; row < 5; ++row) {
      seed = (seed * 125 + 3) % 0x2AAAAB;
      const std::uint32_t high = (seed & 0xFFFF) << 16;
      seed = (seed * 125 + 3) % 0x2AAAAB;
      const std::uint32_t low = seed & 0xFFFF;
      table[row * 0x100 + column] = high | low;
    }
  }
  return table;
}

const std::array<std::uint32_t, 0x500>& CryptTable() {
  static const auto table = MakeCryptTable();
  return table;
}

// One pass of the cipher; `decrypting` selects which side of the XOR feeds the key stream
// (it always runs on the plain word).
void Cipher(std::span<std::byte> data, std::uint32_t key, bool decrypting) {
  const auto& table = CryptTable();
  std::uint32_t seed1 = key;
  std::uint32_t seed2 = 0xEEEEEEEE;
  for (std::size_t i = 0; i + 4 <= data.size(); i += 4) {
    seed2 += table[0x400 + (seed1 & 0xFF)];
    const std::uint32_t in = LoadLe32(&data[i]);
    const std::uint32_t out = in ^ (seed1 + seed2);
    const std::uint32_t plain = decrypting ? out : in;
    seed1 = ((~seed1 << 0x15) + 0x11111111) | (seed1 >> 0x0B);
    seed2 = plain + seed2 + (seed2 << 5) + 3;
    StoreLe(&data[i], out, 4);
  }
}

}  // namespace

std::uint32_t HashName(std::string_view name, HashKind kind) {
  const auto& table = CryptTable();
  const std::uint32_t row = static_cast<std::uint32_t>(kind) * 0x100;
  std::uint32_t seed1 = 0x7FED7FED;
  std::uint32_t seed2 = 0xEEEEEEEE;
  for (char c : name) {
    const std::uint32_t ch = static_cast<unsigned char>(FoldNameChar(c));
    seed1 = table[row + ch] ^ (seed1 + seed2);
    seed2 = ch + seed1 + seed2 + (seed2 << 5) + 3;
  }
  return seed1;
}

void Encrypt(std::span<std::byte> data, std::uint32_t key) {
  Cipher(data, key, false);
}
void Decrypt(std::span<std::byte> data, std::uint32_t key) {
  Cipher(data, key, true);
}

std::uint32_t MemberKey(std::string_view name, std::uint32_t position, std::uint32_t size,
                        bool position_adjusted) {
  const auto cut = name.find_last_of("\\/");
  const auto base = cut == std::string_view::npos ? name : name.substr(cut + 1);
  std::uint32_t key = HashName(base, HashKind::kFileKey);
  if (position_adjusted) key = (key + position) ^ size;
  return key;
}

std::vector<std::uint32_t> KeysDeciphering(std::uint32_t stored, std::uint32_t plain) {
  // The first word deciphers as stored ^ (key + seed2), where seed2 depends only on the
  // key's low byte: each low byte gives one key, kept when its low byte is that one.
  const auto& table = CryptTable();
  std::vector<std::uint32_t> keys;
  for (std::uint32_t low = 0; low < 0x100; ++low) {
    const std::uint32_t key = (stored ^ plain) - (0xEEEEEEEE + table[0x400 + low]);
    if ((key & 0xFF) == low) keys.push_back(key);
  }
  return keys;
}

std::uint32_t HashTableKey() {
  return HashName("(hash table)", HashKind::kFileKey);
}
std::uint32_t BlockTableKey() {
  return HashName("(block table)", HashKind::kFileKey);
}

}  // namespace veltrane::mpq
