#include "archiver/member.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "archiver/byte_io.h"
#include "archiver/codec/compression.h"
#include "archiver/crypt.h"

namespace veltrane::mpq {
namespace {

// The most content reserved up front: a damaged block entry can claim far more than its
// sectors really hold.
constexpr std::uint64_t kMaxReserve = 64u << 20;

// A member's stored bytes and how to decode them.
struct Stored {
  std::span<const std::byte> bytes;
  std::uint32_t key = 0;
  bool encrypted = false;
  bool imploded = false;
  std::string_view name;
};

Error Bad(const Stored& src, const std::string& why) {
  return CannotOn("read member", src.name, why);
}

// The stored bytes at [begin, end) of the member, deciphered with `key` when it is enciphered.
std::vector<std::byte> Fetch(const Stored& src, std::uint64_t begin, std::uint64_t end,
                             std::uint32_t key) {
  std::vector<std::byte> out(src.bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                             src.bytes.begin() + static_cast<std::ptrdiff_t>(end));
  if (src.encrypted) Decrypt(out, key);
  return out;
}

MemberContent Unpack(const Stored& src, std::span<const std::byte> raw, std::size_t size) {
  if (raw.size() > size) return Bad(src, "a packed sector is larger than its content");
  auto out = DecompressSector(raw, size, src.imploded);
  if (!out) return Bad(src, out.message());
  if (out->size() != size) return Bad(src, "a sector decompressed to the wrong size");
  return out;
}

MemberContent DecodeSingleUnit(const Stored& src, std::uint32_t size, bool compressed) {
  auto plain = Fetch(src, 0, src.bytes.size(), src.key);
  if (compressed && plain.size() < size) return Unpack(src, plain, size);
  if (plain.size() < size) return Bad(src, "stored data is shorter than the member");
  plain.resize(size);
  return plain;
}

// Compressed members start with a table of sector offsets relative to the member's start.
Result<std::vector<std::uint32_t>> DecodeSectorOffsets(const Stored& src, std::uint64_t sectors) {
  const std::uint64_t table_size = (sectors + 1) * 4;
  if (table_size > src.bytes.size()) return Bad(src, "the sector offset table is cut off");
  const auto plain = Fetch(src, 0, table_size, src.key - 1);
  ByteCursor words(plain);
  std::vector<std::uint32_t> offsets(static_cast<std::size_t>(sectors + 1));
  for (auto& offset : offsets) offset = words.U32();
  for (std::size_t i = 0; i + 1 < offsets.size(); ++i) {
    if (offsets[i] > offsets[i + 1] || offsets[i + 1] > src.bytes.size()) {
      return Bad(src, "the sector offset table is damaged");
    }
  }
  return offsets;
}

// Decodes one sector at a time, so only the content and one sector are held besides the input.
MemberContent DecodeSectors(const Stored& src, std::uint32_t size, std::uint32_t sector_size,
                            bool compressed) {
  const std::uint64_t sectors = (std::uint64_t{size} + sector_size - 1) / sector_size;
  std::vector<std::uint32_t> offsets;
  if (compressed) {
    auto table = DecodeSectorOffsets(src, sectors);
    if (!table) return table.error();
    offsets = std::move(*table);
  } else if (src.bytes.size() < size) {
    return Bad(src, "stored data is shorter than the member");
  }
  std::vector<std::byte> content;
  content.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxReserve)));
  for (std::uint64_t i = 0; i < sectors; ++i) {
    const std::size_t want = std::min<std::size_t>(sector_size, size - content.size());
    const std::uint64_t begin = compressed ? offsets[i] : i * sector_size;
    const std::uint64_t end = compressed ? offsets[i + 1] : begin + want;
    const auto plain = Fetch(src, begin, end, src.key + static_cast<std::uint32_t>(i));
    auto sector = Unpack(src, plain, want);
    if (!sector) return sector.error();
    content.insert(content.end(), sector->begin(), sector->end());
  }
  return content;
}

// The sector as zlib packs it, or nothing when it is kept raw: zlib doesn't shrink it, or
// its byte frequencies already show that it can't save the share `packing` asks.
std::optional<std::vector<std::byte>> PackSector(std::span<const std::byte> sector,
                                                 const Packing& packing) {
  if (packing.least_saving_tenths > 0 &&
      FrequenciesRuleOutSaving(sector, packing.least_saving_tenths)) {
    return std::nullopt;
  }
  auto packed = CompressSectorZlib(sector, packing.zlib_level);
  if (!packed || packed->size() >= sector.size()) return std::nullopt;
  return packed;
}

// Where the stored bytes of `block` begin, and how many of them lie inside the file.
std::pair<std::uint64_t, std::uint64_t> StoredRange(const Archive& archive,
                                                    const BlockEntry& block) {
  const std::uint64_t start = archive.Absolute(block.position);
  if (start > archive.file_size) return {start, 0};
  return {start, std::min<std::uint64_t>(block.packed_size, archive.file_size - start)};
}

// Takes from `block` how its stored bytes are to be decoded: its flags and its key.
void TakeFlagsAndKey(Stored& src, const BlockEntry& block) {
  src.encrypted = (block.flags & kFlagEncrypted) != 0;
  src.imploded = (block.flags & kFlagImplode) != 0;
  src.key = MemberKey(src.name, block.position, block.size, (block.flags & kFlagFixKey) != 0);
}

// Sector `index` of `previous` as stored, or an empty span when it has none.
std::span<const std::byte> OldSector(const PackedSectors* previous, std::size_t index) {
  if (!previous || index + 1 >= previous->offsets.size()) return {};
  const std::uint32_t begin = previous->offsets[index];
  return std::span(previous->bytes).subspan(begin, previous->offsets[index + 1] - begin);
}

bool SameBytes(std::span<const std::byte> a, std::span<const std::byte> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// Whether the packed sector `old` holds exactly `sector`.
bool Holds(std::span<const std::byte> old, std::span<const std::byte> sector) {
  if (old.size() == sector.size()) return SameBytes(old, sector);
  const auto content = DecompressSector(old, sector.size(), false);
  return content && SameBytes(*content, sector);
}

}  // namespace

Result<std::vector<std::byte>> ReadStoredBytes(ByteSource& source, const Archive& archive,
                                               const BlockEntry& block) {
  const auto [start, size] = StoredRange(archive, block);
  std::vector<std::byte> stored(static_cast<std::size_t>(size));
  auto read = source.ReadAt(start, stored);
  if (!read) return read.error();
  return stored;
}

MemberContent DecodeMember(std::span<const std::byte> stored, const Archive& archive,
                           const BlockEntry& block, std::string_view name) {
  Stored src;
  src.bytes = stored.first(std::min<std::size_t>(stored.size(), block.packed_size));
  src.name = name;
  if (stored.size() < block.packed_size) {
    return Bad(src, "its data lies outside the archive file");
  }
  if (block.size == 0) return std::vector<std::byte>{};
  TakeFlagsAndKey(src, block);
  const bool compressed = (block.flags & (kFlagImplode | kFlagCompress)) != 0;
  if (block.flags & kFlagSingleUnit) return DecodeSingleUnit(src, block.size, compressed);
  return DecodeSectors(src, block.size, archive.SectorSize(), compressed);
}

std::optional<PackedSectors> ReadPackedSectors(std::span<const std::byte> stored,
                                               const Archive& archive, const BlockEntry& block,
                                               std::string_view name) {
  const std::uint32_t form = block.flags & (kFlagImplode | kFlagCompress | kFlagSingleUnit);
  if (form != kFlagCompress || block.size == 0 || stored.size() < block.packed_size) {
    return std::nullopt;
  }
  Stored src;
  src.bytes = stored.first(block.packed_size);
  src.name = name;
  TakeFlagsAndKey(src, block);
  const std::uint32_t sector_size = archive.SectorSize();
  auto offsets =
      DecodeSectorOffsets(src, (std::uint64_t{block.size} + sector_size - 1) / sector_size);
  if (!offsets) return std::nullopt;
  PackedSectors out;
  out.bytes.reserve(offsets->back() - offsets->front());
  for (std::size_t i = 0; i + 1 < offsets->size(); ++i) {
    out.offsets.push_back(static_cast<std::uint32_t>(out.bytes.size()));
    PutBytes(out.bytes,
             Fetch(src, (*offsets)[i], (*offsets)[i + 1], src.key + static_cast<std::uint32_t>(i)));
  }
  out.offsets.push_back(static_cast<std::uint32_t>(out.bytes.size()));
  return out;
}

MemberContent DecodePackedSectors(const PackedSectors& sectors, const BlockEntry& block,
                                  std::uint32_t sector_size, std::string_view name) {
  Stored src;
  src.name = name;
  std::vector<std::byte> content;
  content.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(block.size, kMaxReserve)));
  for (std::size_t i = 0; i + 1 < sectors.offsets.size(); ++i) {
    const std::size_t want = std::min<std::size_t>(sector_size, block.size - content.size());
    auto sector = Unpack(src, OldSector(&sectors, i), want);
    if (!sector) return sector.error();
    PutBytes(content, *sector);
  }
  return content;
}

MemberContent ReadMember(std::span<const std::byte> file, const Archive& archive,
                         const BlockEntry& block, std::string_view name) {
  MemorySource source(file);
  auto stored = ReadStoredBytes(source, archive, block);
  if (!stored) return stored.error();
  return DecodeMember(*stored, archive, block, name);
}

EncodedMember EncodeMember(std::span<const std::byte> content, std::uint32_t sector_size,
                           const Packing& packing, const PackedSectors* previous) {
  const auto plain = [&] { return EncodedMember{{content.begin(), content.end()}, kFlagExists}; };
  if (content.empty()) return plain();
  // The compressed form is kept only while it stays below this size. A rewrite keeps any
  // saving: stored plain, it would take more room than the sectors it keeps.
  const unsigned tenths = previous ? 0 : packing.least_saving_tenths;
  const auto limit =
      static_cast<std::size_t>(content.size() - std::uint64_t{content.size()} * tenths / 10);
  const std::size_t sectors = (content.size() + sector_size - 1) / sector_size;
  const std::size_t table_size = (sectors + 1) * 4;
  if (table_size >= limit) return plain();
  // The offset table, then the sectors; stored plain once that can't save enough.
  EncodedMember out{std::vector<std::byte>(table_size), kFlagExists | kFlagCompress};
  // A rewrite comes out about as long as the sectors it keeps.
  out.bytes.reserve(
      previous ? std::min(content.size(), table_size + previous->bytes.size() + sector_size)
               : content.size());
  StoreLe(out.bytes.data(), table_size, 4);
  for (std::size_t i = 0; i < sectors; ++i) {
    auto sector = content.subspan(
        i * sector_size, std::min<std::size_t>(sector_size, content.size() - i * sector_size));
    const auto old = OldSector(previous, i);
    if (!old.empty() && Holds(old, sector)) {
      PutBytes(out.bytes, old);
    } else {
      // A changed sector that was stored compressed gets the smallest form, to take little
      // more room than before; one stored plain stays plain unless `packing` finds it worth
      // packing.
      const bool was_packed = !old.empty() && old.size() < sector.size();
      const auto packed = PackSector(sector, was_packed ? Packing{} : packing);
      PutBytes(out.bytes, packed ? std::span<const std::byte>(*packed) : sector);
    }
    if (out.bytes.size() >= limit) return plain();
    StoreLe(out.bytes.data() + (i + 1) * 4, out.bytes.size(), 4);
  }
  return out;
}

}  // namespace veltrane::mpq
