#include "archiver/side_files.h"

#include <algorithm>

#include "archiver/byte_io.h"
#include "archiver/codec/crc32.h"
#include "archiver/codec/md5.h"
#include "archiver/format.h"

namespace veltrane::mpq {
namespace {

std::size_t LayoutSize(std::uint32_t flags, std::size_t count) {
  std::size_t size = 8;
  if (flags & kAttributeCrc32) size += 4 * count;
  if (flags & kAttributeFileTime) size += 8 * count;
  if (flags & kAttributeMd5) size += 16 * count;
  if (flags & kAttributePatchBit) size += (count + 7) / 8;
  return size;
}

Attributes DecodeArrays(ByteCursor& cursor, std::uint32_t flags, std::size_t count,
                        std::size_t capacity) {
  Attributes out;
  out.flags = flags;
  if (flags & kAttributeCrc32) {
    out.crc32.reserve(capacity);
    for (std::size_t i = 0; i < count; ++i) out.crc32.push_back(cursor.U32());
  }
  if (flags & kAttributeFileTime) {
    out.file_time.reserve(capacity);
    for (std::size_t i = 0; i < count; ++i) out.file_time.push_back(cursor.U64());
  }
  if (flags & kAttributeMd5) {
    out.md5.reserve(capacity);
    for (std::size_t i = 0; i < count; ++i) {
      auto bytes = cursor.Bytes(16);
      auto& digest = out.md5.emplace_back();
      std::copy(bytes.begin(), bytes.end(), digest.begin());
    }
  }
  if (flags & kAttributePatchBit) {
    auto bits = cursor.Bytes((count + 7) / 8);
    for (std::size_t i = 0; i < count; ++i) {
      out.patch_bit.push_back(((std::to_integer<unsigned>(bits[i / 8]) >> (i % 8)) & 1) != 0);
    }
  }
  return out;
}

}  // namespace

bool SameMemberName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldNameChar(x) == FoldNameChar(y);
         });
}

bool ListfileHas(std::span<const std::byte> listfile, std::string_view name) {
  const std::string_view text(reinterpret_cast<const char*>(listfile.data()), listfile.size());
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find_first_of("\r\n;", start), text.size());
    if (SameMemberName(text.substr(start, end - start), name)) return true;
    start = end + 1;
  }
  return false;
}

std::vector<std::byte> ListfileWith(std::span<const std::byte> listfile, std::string_view name) {
  std::vector<std::byte> out;
  out.reserve(listfile.size() + name.size() + 4);
  out.assign(listfile.begin(), listfile.end());
  auto put = [&](std::string_view text) {
    for (char c : text) out.push_back(static_cast<std::byte>(c));
  };
  if (!out.empty() && out.back() != std::byte{'\n'} && out.back() != std::byte{'\r'}) put("\r\n");
  for (char c : name) out.push_back(static_cast<std::byte>(c == '/' ? '\\' : c));
  put("\r\n");
  return out;
}

void Attributes::Resize(std::size_t count) {
  if (flags & kAttributeCrc32) crc32.resize(count, 0);
  if (flags & kAttributeFileTime) file_time.resize(count, 0);
  if (flags & kAttributeMd5) md5.resize(count, {});
  if (flags & kAttributePatchBit) patch_bit.resize(count, false);
}

ContentDigest DigestOf(std::span<const std::byte> content) {
  return {Crc32(content), Md5(content)};
}

void Attributes::Describe(std::size_t block, std::span<const std::byte> content,
                          std::uint64_t time) {
  ContentDigest digest;
  if (block < crc32.size()) digest.crc32 = Crc32(content);
  if (block < md5.size()) digest.md5 = Md5(content);
  Describe(block, digest, time);
}

void Attributes::Describe(std::size_t block, const ContentDigest& digest, std::uint64_t time) {
  if (block < crc32.size()) crc32[block] = digest.crc32;
  if (block < file_time.size()) file_time[block] = time;
  if (block < md5.size()) md5[block] = digest.md5;
  if (block < patch_bit.size()) patch_bit[block] = false;
}

void Attributes::Clear(std::size_t block) {
  if (block < crc32.size()) crc32[block] = 0;
  if (block < md5.size()) md5[block] = {};
}

std::optional<Attributes> ParseAttributes(std::span<const std::byte> data, std::size_t block_count,
                                          std::size_t capacity) {
  ByteCursor cursor(data);
  const std::uint32_t version = cursor.U32();
  const std::uint32_t flags = cursor.U32();
  if (!cursor.ok() || version != 100 || (flags & ~0xFu) != 0) return std::nullopt;
  for (std::size_t count : {block_count, block_count - 1}) {
    if (count > block_count || LayoutSize(flags, count) != data.size()) continue;
    Attributes out = DecodeArrays(cursor, flags, count, std::max(count, capacity));
    out.version = version;
    return out;
  }
  return std::nullopt;
}

std::vector<std::byte> EncodeAttributes(const Attributes& attributes) {
  const std::size_t bits = (attributes.patch_bit.size() + 7) / 8;
  std::vector<std::byte> out(8 + attributes.crc32.size() * 4 + attributes.file_time.size() * 8 +
                             attributes.md5.size() * 16 +
                             ((attributes.flags & kAttributePatchBit) ? bits : 0));
  std::byte* at = out.data();
  auto put = [&](std::uint64_t value, std::size_t size) {
    StoreLe(at, value, size);
    at += size;
  };
  put(attributes.version, 4);
  put(attributes.flags, 4);
  for (auto crc : attributes.crc32) put(crc, 4);
  for (auto time : attributes.file_time) put(time, 8);
  for (const auto& digest : attributes.md5) at = std::copy(digest.begin(), digest.end(), at);
  if (attributes.flags & kAttributePatchBit) {
    for (std::size_t i = 0; i < attributes.patch_bit.size(); ++i) {
      if (attributes.patch_bit[i]) at[i / 8] |= std::byte(1u << (i % 8));
    }
  }
  return out;
}

}  // namespace veltrane::mpq
