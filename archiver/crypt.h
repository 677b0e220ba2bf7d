#pragma once
// The archive format's name hashing and its table and member cipher.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace veltrane::mpq {

// Which of the four hash variants a name is hashed with.
enum class HashKind : std::uint32_t { kTableIndex = 0, kNameA = 1, kNameB = 2, kFileKey = 3 };

// Hashes a member name the way the format does: ASCII upper case, '/' taken as '\'.
std::uint32_t HashName(std::string_view name, HashKind kind);

// Enciphers / deciphers whole 32-bit little-endian words in place; a tail of fewer than
// four bytes is left as it is, as the format does.
void Encrypt(std::span<std::byte> data, std::uint32_t key);
void Decrypt(std::span<std::byte> data, std::uint32_t key);

// The key of a member: the hash of its name after the last path separator, adjusted by its
// position and size when the member carries the position-adjusted-key flag.
std::uint32_t MemberKey(std::string_view name, std::uint32_t position, std::uint32_t size,
                        bool position_adjusted);

// Every key with which the stored word `stored` deciphers to `plain` as the first word of
// a run: a member's key can be found from a first word whose value the format fixes.
std::vector<std::uint32_t> KeysDeciphering(std::uint32_t stored, std::uint32_t plain);

// Keys of the two tables.
std::uint32_t HashTableKey();
std::uint32_t BlockTableKey();

}  // namespace veltrane::mpq
