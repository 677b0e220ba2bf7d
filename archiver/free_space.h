#pragma once
// Byte ranges of the archive file: which an update frees, and where its new pieces go.

#include <cstdint>
#include <span>
#include <vector>

namespace veltrane::mpq {

// The bytes [begin, end) of the file, absolute offsets.
struct ByteRange {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  std::uint64_t size() const { return end - begin; }
};

// The bytes of `dead` that lie inside [low, high) and in no range of `live`: sorted, disjoint
// and none empty. Either list may be unsorted, overlapping, or reach outside the bounds.
std::vector<ByteRange> FreeRanges(std::vector<ByteRange> dead, std::vector<ByteRange> live,
                                  std::uint64_t low, std::uint64_t high);

// Where pieces of the given sizes go: first fit, largest piece first, in `free` (as
// FreeRanges gives it) and then past `end`, the file's end. A free range that reaches `end`
// goes on past it, so a piece may start in it and end beyond. The offset of each piece.
std::vector<std::uint64_t> PlacePieces(std::span<const std::uint64_t> sizes,
                                       const std::vector<ByteRange>& free, std::uint64_t end);

}  // namespace veltrane::mpq
