#include "archiver/side_files.h"

#include <algorithm>

#include "archiver/byte_io.h"
#include "archiver/codec/crc32.h"
#include "archiver/codec/md5.h"
#include "archiver/format.h"

namespace veltrane::mpq {
namespace {

// The arrays of (attributes), in the order they are stored.
constexpr std::uint32_t kArrays[] = {kAttributeCrc32, kAttributeFileTime, kAttributeMd5,
                                     kAttributePatchBit};

// The bytes one block takes in the array of `flag`; patch bits are packed eight to a byte.
std::size_t EntrySize(std::uint32_t flag) {
  switch (flag) {
    case kAttributeCrc32:
      return 4;
    case kAttributeFileTime:
      return 8;
    case kAttributeMd5:
      return 16;
    default:
      return 0;
  }
}

std::size_t ArraySize(std::uint32_t flag, std::size_t count) {
  return flag == kAttributePatchBit ? (count + 7) / 8 : EntrySize(flag) * count;
}

// Where the array of `flag` begins, or with no such flag where the arrays end, for the
// arrays present in `flags` holding `count` entries each.
std::size_t ArrayOffset(std::uint32_t flags, std::size_t count, std::uint32_t flag = 0) {
  std::size_t at = 8;
  for (std::uint32_t each : kArrays) {
    if (each == flag) break;
    if (flags & each) at += ArraySize(each, count);
  }
  return at;
}

}  // namespace

bool SameMemberName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldNameChar(x) == FoldNameChar(y);
         });
}

std::vector<std::string_view> ListfileNames(std::span<const std::byte> listfile) {
  const std::string_view text(reinterpret_cast<const char*>(listfile.data()), listfile.size());
  std::vector<std::string_view> names;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find_first_of("\r\n;", start), text.size());
    if (end > start) names.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool ListfileHas(std::span<const std::byte> listfile, std::string_view name) {
  const auto names = ListfileNames(listfile);
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view line) { return SameMemberName(line, name); });
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

ContentDigest DigestOf(std::span<const std::byte> content) {
  return {Crc32(content), Md5(content)};
}

std::optional<Attributes> Attributes::Parse(std::vector<std::byte> data, std::size_t block_count) {
  ByteCursor cursor(data);
  const std::uint32_t version = cursor.U32();
  const std::uint32_t flags = cursor.U32();
  if (!cursor.ok() || version != 100 || (flags & ~0xFu) != 0) return std::nullopt;
  for (std::size_t count : {block_count, block_count - 1}) {
    if (count <= block_count && ArrayOffset(flags, count) == data.size()) {
      return Attributes(std::move(data), flags, count);
    }
  }
  return std::nullopt;
}

void Attributes::Resize(std::size_t count) {
  if (count == count_) return;
  std::vector<std::byte> out(ArrayOffset(flags_, count));
  std::copy_n(bytes_.begin(), 8, out.begin());
  const std::size_t kept = std::min(count, count_);
  for (std::uint32_t flag : kArrays) {
    if (!(flags_ & flag)) continue;
    const auto from =
        bytes_.begin() + static_cast<std::ptrdiff_t>(ArrayOffset(flags_, count_, flag));
    const auto to = out.begin() + static_cast<std::ptrdiff_t>(ArrayOffset(flags_, count, flag));
    std::copy_n(from, ArraySize(flag, kept), to);
  }
  // Patch bits past the kept entries, in the last byte copied, are not kept.
  if ((flags_ & kAttributePatchBit) && kept % 8 != 0) {
    out[ArrayOffset(flags_, count, kAttributePatchBit) + kept / 8] &=
        std::byte((1u << (kept % 8)) - 1);
  }
  bytes_ = std::move(out);
  count_ = count;
}

std::byte* Attributes::Entry(std::uint32_t flag, std::size_t block) {
  return const_cast<std::byte*>(std::as_const(*this).Entry(flag, block));
}

const std::byte* Attributes::Entry(std::uint32_t flag, std::size_t block) const {
  if (!(flags_ & flag) || block >= count_) return nullptr;
  return bytes_.data() + ArrayOffset(flags_, count_, flag) + EntrySize(flag) * block;
}

void Attributes::Describe(std::size_t block, std::span<const std::byte> content,
                          std::uint64_t time) {
  ContentDigest digest;
  if (Entry(kAttributeCrc32, block)) digest.crc32 = Crc32(content);
  // An empty member's MD5 stays all zeros, which readers take as none recorded, as other
  // archivers write it: 16 bytes that compress away instead of 16 that don't.
  if (Entry(kAttributeMd5, block) && !content.empty()) digest.md5 = Md5(content);
  Describe(block, digest, time);
}

void Attributes::Describe(std::size_t block, const ContentDigest& digest, std::uint64_t time) {
  if (std::byte* at = Entry(kAttributeCrc32, block)) StoreLe(at, digest.crc32, 4);
  if (std::byte* at = Entry(kAttributeFileTime, block)) StoreLe(at, time, 8);
  if (std::byte* at = Entry(kAttributeMd5, block))
    std::copy(digest.md5.begin(), digest.md5.end(), at);
  ClearPatchBit(block);
}

void Attributes::Clear(std::size_t block) {
  if (std::byte* at = Entry(kAttributeCrc32, block)) std::fill_n(at, 4, std::byte{0});
  if (std::byte* at = Entry(kAttributeMd5, block)) std::fill_n(at, 16, std::byte{0});
}

std::uint64_t Attributes::FileTime(std::size_t block) const {
  const std::byte* at = Entry(kAttributeFileTime, block);
  return at ? LoadLe(at, 8) : 0;
}

void Attributes::ClearPatchBit(std::size_t block) {
  if (!(flags_ & kAttributePatchBit) || block >= count_) return;
  bytes_[ArrayOffset(flags_, count_, kAttributePatchBit) + block / 8] &=
      ~std::byte{static_cast<unsigned char>(1u << (block % 8))};
}

}  // namespace veltrane::mpq
