#pragma once
// The two bookkeeping members: (listfile), the names of members, and (attributes), a CRC32,
// file time and MD5 per block table entry.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace veltrane::mpq {

// Member names compare case-insensitively, with '/' equal to '\'.
bool SameMemberName(std::string_view a, std::string_view b);

// Whether the listfile names `name` (lines split at CR, LF or ';').
bool ListfileHas(std::span<const std::byte> listfile, std::string_view name);

// The listfile with `name` appended on a line of its own, with '\' as its separator.
std::vector<std::byte> ListfileWith(std::span<const std::byte> listfile, std::string_view name);

inline constexpr std::uint32_t kAttributeCrc32 = 0x1;
inline constexpr std::uint32_t kAttributeFileTime = 0x2;
inline constexpr std::uint32_t kAttributeMd5 = 0x4;
inline constexpr std::uint32_t kAttributePatchBit = 0x8;

// What (attributes) records of a member's content.
struct ContentDigest {
  std::uint32_t crc32 = 0;
  std::array<std::byte, 16> md5{};
};

ContentDigest DigestOf(std::span<const std::byte> content);

struct Attributes {
  std::uint32_t version = 100;
  std::uint32_t flags = 0;
  std::vector<std::uint32_t> crc32;
  std::vector<std::uint64_t> file_time;
  std::vector<std::array<std::byte, 16>> md5;
  std::vector<bool> patch_bit;

  // Entries are indexed by block; grows or shrinks every present array to `count`.
  void Resize(std::size_t count);
  // Sets the entry of `block` for the given content and time, in the arrays present.
  void Describe(std::size_t block, std::span<const std::byte> content, std::uint64_t time);
  void Describe(std::size_t block, const ContentDigest& digest, std::uint64_t time);
  // Zeroes the CRC32 and MD5 of `block`, which no one can know for (attributes) itself; its
  // file time stays.
  void Clear(std::size_t block);
};

// Parses (attributes) written for `block_count` blocks (or one fewer, as some tools write);
// nothing when the layout is not one of those. The arrays get room for `capacity` entries,
// so growing them to that count later copies nothing.
std::optional<Attributes> ParseAttributes(std::span<const std::byte> data, std::size_t block_count,
                                          std::size_t capacity = 0);

std::vector<std::byte> EncodeAttributes(const Attributes& attributes);

}  // namespace veltrane::mpq
