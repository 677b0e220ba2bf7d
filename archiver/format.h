#pragma once
// Layout facts of the archive format as the game reads it (format version 1).

#include <cstdint>

namespace veltrane::mpq {

inline constexpr std::uint32_t kHeaderSignature = 0x1A51504D;  // "MPQ\x1A"
inline constexpr std::uint32_t kHeaderSize = 32;
inline constexpr std::uint64_t kHeaderAlignment = 512;
inline constexpr std::uint32_t kEntrySize = 16;  // both hash and block entries

// Block index values of hash entries that name no member.
inline constexpr std::uint32_t kFreeSlot = 0xFFFFFFFF;     // ends a search
inline constexpr std::uint32_t kDeletedSlot = 0xFFFFFFFE;  // a search goes on past it

inline constexpr std::uint32_t kFlagImplode = 0x00000100;
inline constexpr std::uint32_t kFlagCompress = 0x00000200;
inline constexpr std::uint32_t kFlagEncrypted = 0x00010000;
inline constexpr std::uint32_t kFlagFixKey = 0x00020000;
inline constexpr std::uint32_t kFlagSingleUnit = 0x01000000;
inline constexpr std::uint32_t kFlagSectorCrc = 0x04000000;  // a CRC word per sector follows them
inline constexpr std::uint32_t kFlagExists = 0x80000000;

// A member name's character as names are compared and hashed: ASCII upper case, with '/'
// taken as '\\'.
constexpr char FoldNameChar(char c) {
  if (c == '/') return '\\';
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c;
}

inline constexpr const char* kListfileName = "(listfile)";
inline constexpr const char* kAttributesName = "(attributes)";

struct HashEntry {
  std::uint32_t name_a = 0;
  std::uint32_t name_b = 0;
  std::uint16_t locale = 0;
  std::uint16_t platform = 0;
  std::uint32_t block = kFreeSlot;
};

// Positions are relative to the header and 32 bits wide; they wrap around.
struct BlockEntry {
  std::uint32_t position = 0;
  std::uint32_t packed_size = 0;
  std::uint32_t size = 0;
  std::uint32_t flags = 0;
};

}  // namespace veltrane::mpq
