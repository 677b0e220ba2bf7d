#pragma once
// The two bookkeeping members: (listfile), the names of members, and (attributes), a CRC32,
// file time and MD5 per block table entry.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane::mpq {

// Member names compare case-insensitively, with '/' equal to '\'.
bool SameMemberName(std::string_view a, std::string_view b);

// The names a listfile gives: its lines, split at CR, LF or ';', empty ones left out. The
// views are into `listfile`.
std::vector<std::string_view> ListfileNames(std::span<const std::byte> listfile);

// Whether the listfile names `name`.
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

// (attributes) as its bytes, edited in place: a version and flags, then one array per flag
// (CRC32s, file times, MD5s, patch bits), each with an entry per block.
class Attributes {
 public:
  // Takes (attributes) written for `block_count` blocks (or one fewer, as some tools
  // write); nothing when the layout is not one of those.
  static std::optional<Attributes> Parse(std::vector<std::byte> data, std::size_t block_count);

  // Grows or shrinks every array to `count` entries; new entries are zero.
  void Resize(std::size_t count);
  // Sets the entry of `block` for the given content and time, in the arrays present.
  void Describe(std::size_t block, std::span<const std::byte> content, std::uint64_t time);
  void Describe(std::size_t block, const ContentDigest& digest, std::uint64_t time);
  // Zeroes the CRC32 and MD5 of `block`, which no one can know for (attributes) itself; its
  // file time stays.
  void Clear(std::size_t block);
  // The file time of `block`, or 0 when none is recorded.
  std::uint64_t FileTime(std::size_t block) const;

  std::span<const std::byte> bytes() const { return bytes_; }

 private:
  Attributes(std::vector<std::byte> bytes, std::uint32_t flags, std::size_t count)
      : bytes_(std::move(bytes)), flags_(flags), count_(count) {}
  // Where the entry of `block` in the array of `flag` begins, or nothing when the array is
  // absent or the block beyond it.
  std::byte* Entry(std::uint32_t flag, std::size_t block);
  const std::byte* Entry(std::uint32_t flag, std::size_t block) const;
  void ClearPatchBit(std::size_t block);

  std::vector<std::byte> bytes_;
  std::uint32_t flags_ = 0;
  std::size_t count_ = 0;
};

}  // namespace veltrane::mpq
