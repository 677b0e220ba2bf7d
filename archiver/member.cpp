#include "archiver/member.h"

#include <string>

#include "archiver/byte_io.h"
#include "archiver/codec/compression.h"
#include "archiver/crypt.h"

namespace veltrane::mpq {
namespace {

struct Source {
  std::span<const std::byte> data;  // the member's packed bytes
  std::uint32_t key = 0;
  bool encrypted = false;
  bool imploded = false;
  std::string name;
};

Error Bad(const Source& src, const std::string& why) {
  return Fail("cannot read member '" + src.name + "': " + why);
}

// Deciphers a copy of `raw` with `key` when the member is enciphered.
std::vector<std::byte> Plain(const Source& src, std::span<const std::byte> raw, std::uint32_t key) {
  std::vector<std::byte> out(raw.begin(), raw.end());
  if (src.encrypted) Decrypt(out, key);
  return out;
}

Result<std::vector<std::byte>> Unpack(const Source& src, std::span<const std::byte> raw,
                                      std::size_t size) {
  if (raw.size() > size) return Bad(src, "a packed sector is larger than its content");
  auto out = DecompressSector(raw, size, src.imploded);
  if (!out) return Bad(src, out.message());
  if (out->size() != size) return Bad(src, "a sector decompressed to the wrong size");
  return out;
}

Result<std::vector<std::byte>> ReadSingleUnit(const Source& src, std::uint32_t size,
                                              bool compressed) {
  auto plain = Plain(src, src.data, src.key);
  if (compressed && plain.size() < size) return Unpack(src, plain, size);
  if (plain.size() < size) return Bad(src, "stored data is shorter than the member");
  plain.resize(size);
  return plain;
}

// Compressed members start with a table of sector offsets relative to the member's start.
Result<std::vector<std::uint32_t>> ReadSectorOffsets(const Source& src, std::size_t sectors) {
  ByteCursor cursor(src.data);
  auto raw = cursor.Bytes((sectors + 1) * 4);
  if (!cursor.ok()) return Bad(src, "the sector offset table is cut off");
  auto plain = Plain(src, raw, src.key - 1);
  ByteCursor words(plain);
  std::vector<std::uint32_t> offsets(sectors + 1);
  for (auto& offset : offsets) offset = words.U32();
  for (std::size_t i = 0; i < sectors; ++i) {
    if (offsets[i] > offsets[i + 1] || offsets[i + 1] > src.data.size()) {
      return Bad(src, "the sector offset table is damaged");
    }
  }
  return offsets;
}

Result<std::vector<std::byte>> ReadSectors(const Source& src, std::uint32_t size,
                                           std::uint32_t sector_size, bool compressed) {
  const std::size_t sectors = (std::size_t{size} + sector_size - 1) / sector_size;
  std::vector<std::uint32_t> offsets;
  if (compressed) {
    auto table = ReadSectorOffsets(src, sectors);
    if (!table) return table.error();
    offsets = std::move(*table);
  } else {
    if (src.data.size() < size) return Bad(src, "stored data is shorter than the member");
    for (std::size_t i = 0; i <= sectors; ++i) {
      offsets.push_back(static_cast<std::uint32_t>(std::min<std::size_t>(i * sector_size, size)));
    }
  }
  std::vector<std::byte> content;
  content.reserve(size);
  for (std::size_t i = 0; i < sectors; ++i) {
    const std::size_t want = std::min<std::size_t>(sector_size, size - content.size());
    auto raw = src.data.subspan(offsets[i], offsets[i + 1] - offsets[i]);
    auto plain = Plain(src, raw, src.key + static_cast<std::uint32_t>(i));
    auto sector = Unpack(src, plain, want);
    if (!sector) return sector.error();
    content.insert(content.end(), sector->begin(), sector->end());
  }
  return content;
}

}  // namespace

Result<std::vector<std::byte>> ReadMember(std::span<const std::byte> file, const Archive& archive,
                                          const BlockEntry& block, std::string_view name) {
  Source src;
  src.name = std::string(name);
  if (!SliceOf(file, archive.Absolute(block.position), block.packed_size, src.data)) {
    return Bad(src, "its data lies outside the archive file");
  }
  if (block.size == 0) return std::vector<std::byte>{};
  src.encrypted = (block.flags & kFlagEncrypted) != 0;
  src.imploded = (block.flags & kFlagImplode) != 0;
  src.key = MemberKey(name, block.position, block.size, (block.flags & kFlagFixKey) != 0);
  const bool compressed = (block.flags & (kFlagImplode | kFlagCompress)) != 0;
  if (block.flags & kFlagSingleUnit) return ReadSingleUnit(src, block.size, compressed);
  return ReadSectors(src, block.size, archive.SectorSize(), compressed);
}

EncodedMember EncodeMember(std::span<const std::byte> content, std::uint32_t sector_size) {
  EncodedMember plain{{content.begin(), content.end()}, kFlagExists};
  if (content.empty()) return plain;
  const std::size_t sectors = (content.size() + sector_size - 1) / sector_size;
  std::vector<std::byte> body;
  std::vector<std::byte> offsets;
  const auto table_size = static_cast<std::uint32_t>((sectors + 1) * 4);
  PutU32(offsets, table_size);
  for (std::size_t i = 0; i < sectors; ++i) {
    auto sector = content.subspan(
        i * sector_size, std::min<std::size_t>(sector_size, content.size() - i * sector_size));
    auto packed = CompressSectorZlib(sector);
    PutBytes(body, packed.size() < sector.size() ? std::span<const std::byte>(packed) : sector);
    PutU32(offsets, static_cast<std::uint32_t>(table_size + body.size()));
  }
  if (offsets.size() + body.size() >= content.size()) return plain;
  EncodedMember out{std::move(offsets), kFlagExists | kFlagCompress};
  PutBytes(out.bytes, body);
  return out;
}

}  // namespace veltrane::mpq
