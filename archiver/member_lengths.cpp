#include "archiver/member_lengths.h"

#include "archiver/crypt.h"

namespace veltrane::mpq {

std::vector<std::uint32_t> MemberLengths(const Archive& archive, std::string_view name) {
  std::vector<std::uint32_t> lengths;
  const std::size_t count = archive.hashes.size();
  if (count == 0) return lengths;
  const std::uint32_t name_a = HashName(name, HashKind::kNameA);
  const std::uint32_t name_b = HashName(name, HashKind::kNameB);
  const std::size_t start = HashName(name, HashKind::kTableIndex) % count;
  // Entries of one name in several locales lie on the same search path, which a free slot
  // ends; a full table is searched once round.
  for (std::size_t step = 0; step < count; ++step) {
    const HashEntry& entry = archive.hashes[(start + step) % count];
    if (entry.block == kFreeSlot) break;
    if (entry.name_a != name_a || entry.name_b != name_b) continue;
    if (entry.block >= archive.blocks.size()) continue;
    const BlockEntry& block = archive.blocks[entry.block];
    if (block.flags & kFlagExists) lengths.push_back(block.size);
  }
  return lengths;
}

}  // namespace veltrane::mpq
