#pragma once
// MPQ sector compression: decoding every method and combination the game reads (Huffman,
// zlib, PKWARE DCL, bzip2, ADPCM) and encoding with zlib.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "common/result.h"

namespace veltrane::mpq {

// Compression mask bytes that start a compressed sector.
inline constexpr std::byte kMaskZlib{0x02};
inline constexpr std::byte kMaskPkware{0x08};

// Decodes one sector into exactly `out_size` bytes. A sector as long as its data is stored
// as is; an imploded member's sector is a bare PKWARE stream; any other sector starts with
// a compression mask byte whose bits name the methods applied: 0x01 Huffman, 0x02 zlib,
// 0x08 PKWARE, 0x10 bzip2, 0x40 ADPCM mono, 0x80 ADPCM stereo. They are undone bzip2 first,
// then PKWARE, zlib, Huffman and ADPCM; LZMA (0x12), sparse (0x20) and unknown bits are
// refused.
Result<std::vector<std::byte>> DecompressSector(std::span<const std::byte> in, std::size_t out_size,
                                                bool imploded);

// Whether the byte frequencies of `in` alone show that no coder of single bytes can save
// `tenths` tenths of its size. A cheap test that spares zlib the sectors of random-looking
// bytes such as CRCs and MD5s; repeats of long strings, which zlib would find, are not seen.
bool FrequenciesRuleOutSaving(std::span<const std::byte> in, unsigned tenths);

// zlib's levels: 1 is the fastest, 9 the smallest.
inline constexpr int kZlibFastest = 1;
inline constexpr int kZlibSmallest = 9;

// 0x02 followed by a zlib stream of `in` at `level`, or nothing when zlib fails. Deterministic;
// the caller stores the sector as is when this is not smaller, or nothing.
std::optional<std::vector<std::byte>> CompressSectorZlib(std::span<const std::byte> in,
                                                         int level = kZlibSmallest);

}  // namespace veltrane::mpq
