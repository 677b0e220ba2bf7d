#include "archiver/member.h"

#include <algorithm>
#include <optional>
#include <string>

#include "archiver/byte_io.h"
#include "archiver/codec/compression.h"
#include "archiver/crypt.h"

namespace veltrane::mpq {
namespace {

// The most content reserved up front: a damaged block entry can claim far more than its
// sectors really hold.
constexpr std::uint64_t kMaxReserve = 64u << 20;

struct Source {
  explicit Source(ByteSource& from) : file(from) {}
  ByteSource& file;
  std::uint64_t start = 0;  // absolute offset of the member's stored bytes
  std::uint32_t packed_size = 0;
  std::uint32_t key = 0;
  bool encrypted = false;
  bool imploded = false;
  std::string name;
  std::optional<Error> read_error;  // the archive file itself could not be read
};

void SetWord(std::vector<std::byte>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = std::byte((value >> (8 * i)) & 0xFF);
}

Error Bad(const Source& src, const std::string& why) {
  return Fail("cannot read member '" + src.name + "': " + why);
}

// The `size` stored bytes at `offset` in the member (a range inside it), deciphered with
// `key` when the member is enciphered.
Result<std::vector<std::byte>> Fetch(Source& src, std::uint64_t offset, std::uint64_t size,
                                     std::uint32_t key) {
  std::vector<std::byte> out(static_cast<std::size_t>(size));
  auto read = src.file.ReadAt(src.start + offset, out);
  if (!read) {
    src.read_error = read.error();
    return read.error();
  }
  if (src.encrypted) Decrypt(out, key);
  return out;
}

MemberContent Unpack(const Source& src, std::span<const std::byte> raw, std::size_t size) {
  if (raw.size() > size) return Bad(src, "a packed sector is larger than its content");
  auto out = DecompressSector(raw, size, src.imploded);
  if (!out) return Bad(src, out.message());
  if (out->size() != size) return Bad(src, "a sector decompressed to the wrong size");
  return out;
}

MemberContent ReadSingleUnit(Source& src, std::uint32_t size, bool compressed) {
  auto plain = Fetch(src, 0, src.packed_size, src.key);
  if (!plain) return plain.error();
  if (compressed && plain->size() < size) return Unpack(src, *plain, size);
  if (plain->size() < size) return Bad(src, "stored data is shorter than the member");
  plain->resize(size);
  return plain;
}

// Compressed members start with a table of sector offsets relative to the member's start.
Result<std::vector<std::uint32_t>> ReadSectorOffsets(Source& src, std::uint64_t sectors) {
  const std::uint64_t table_size = (sectors + 1) * 4;
  if (table_size > src.packed_size) return Bad(src, "the sector offset table is cut off");
  auto plain = Fetch(src, 0, table_size, src.key - 1);
  if (!plain) return plain.error();
  ByteCursor words(*plain);
  std::vector<std::uint32_t> offsets(static_cast<std::size_t>(sectors + 1));
  for (auto& offset : offsets) offset = words.U32();
  for (std::size_t i = 0; i + 1 < offsets.size(); ++i) {
    if (offsets[i] > offsets[i + 1] || offsets[i + 1] > src.packed_size) {
      return Bad(src, "the sector offset table is damaged");
    }
  }
  return offsets;
}

// Reads and decodes one sector at a time, so only the content and one sector are held.
MemberContent ReadSectors(Source& src, std::uint32_t size, std::uint32_t sector_size,
                          bool compressed) {
  const std::uint64_t sectors = (std::uint64_t{size} + sector_size - 1) / sector_size;
  std::vector<std::uint32_t> offsets;
  if (compressed) {
    auto table = ReadSectorOffsets(src, sectors);
    if (!table) return table.error();
    offsets = std::move(*table);
  } else if (src.packed_size < size) {
    return Bad(src, "stored data is shorter than the member");
  }
  std::vector<std::byte> content;
  content.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxReserve)));
  for (std::uint64_t i = 0; i < sectors; ++i) {
    const std::size_t want = std::min<std::size_t>(sector_size, size - content.size());
    const std::uint64_t begin = compressed ? offsets[i] : i * sector_size;
    const std::uint64_t end = compressed ? offsets[i + 1] : begin + want;
    auto plain = Fetch(src, begin, end - begin, src.key + static_cast<std::uint32_t>(i));
    if (!plain) return plain.error();
    auto sector = Unpack(src, *plain, want);
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
  if (packed.size() >= sector.size()) return std::nullopt;
  return packed;
}

MemberContent ReadStored(Source& src, const Archive& archive, const BlockEntry& block) {
  src.start = archive.Absolute(block.position);
  src.packed_size = block.packed_size;
  if (src.start > archive.file_size || block.packed_size > archive.file_size - src.start) {
    return Bad(src, "its data lies outside the archive file");
  }
  if (block.size == 0) return std::vector<std::byte>{};
  src.encrypted = (block.flags & kFlagEncrypted) != 0;
  src.imploded = (block.flags & kFlagImplode) != 0;
  src.key = MemberKey(src.name, block.position, block.size, (block.flags & kFlagFixKey) != 0);
  const bool compressed = (block.flags & (kFlagImplode | kFlagCompress)) != 0;
  if (block.flags & kFlagSingleUnit) return ReadSingleUnit(src, block.size, compressed);
  return ReadSectors(src, block.size, archive.SectorSize(), compressed);
}

}  // namespace

Result<MemberContent> ReadMember(ByteSource& file, const Archive& archive, const BlockEntry& block,
                                 std::string_view name) {
  Source src(file);
  src.name = std::string(name);
  MemberContent content = ReadStored(src, archive, block);
  if (src.read_error) return *src.read_error;
  return content;
}

MemberContent ReadMember(std::span<const std::byte> file, const Archive& archive,
                         const BlockEntry& block, std::string_view name) {
  MemorySource source(file);
  auto read = ReadMember(source, archive, block, name);
  if (!read) return read.error();
  return std::move(*read);
}

EncodedMember EncodeMember(std::span<const std::byte> content, std::uint32_t sector_size,
                           const Packing& packing) {
  const auto plain = [&] { return EncodedMember{{content.begin(), content.end()}, kFlagExists}; };
  if (content.empty()) return plain();
  // The compressed form is kept only while it stays below this size.
  const auto limit = static_cast<std::size_t>(
      content.size() - std::uint64_t{content.size()} * packing.least_saving_tenths / 10);
  const std::size_t sectors = (content.size() + sector_size - 1) / sector_size;
  const std::size_t table_size = (sectors + 1) * 4;
  if (table_size >= limit) return plain();
  // The offset table, then the sectors; stored plain once that can't save enough.
  EncodedMember out{std::vector<std::byte>(table_size), kFlagExists | kFlagCompress};
  out.bytes.reserve(content.size());
  SetWord(out.bytes, 0, static_cast<std::uint32_t>(table_size));
  for (std::size_t i = 0; i < sectors; ++i) {
    auto sector = content.subspan(
        i * sector_size, std::min<std::size_t>(sector_size, content.size() - i * sector_size));
    const auto packed = PackSector(sector, packing);
    PutBytes(out.bytes, packed ? std::span<const std::byte>(*packed) : sector);
    if (out.bytes.size() >= limit) return plain();
    SetWord(out.bytes, (i + 1) * 4, static_cast<std::uint32_t>(out.bytes.size()));
  }
  return out;
}

}  // namespace veltrane::mpq
