#include "archiver/free_space.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace veltrane::mpq {
namespace {

// The ranges clipped to [low, high), sorted, with touching and overlapping ones joined.
std::vector<ByteRange> Union(std::vector<ByteRange> ranges, std::uint64_t low, std::uint64_t high) {
  for (ByteRange& range : ranges) {
    range.begin = std::clamp(range.begin, low, high);
    range.end = std::clamp(range.end, range.begin, high);
  }
  std::erase_if(ranges, [](const ByteRange& range) { return range.begin == range.end; });
  std::sort(ranges.begin(), ranges.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.begin < b.begin; });
  std::vector<ByteRange> joined;
  for (const ByteRange& range : ranges) {
    if (!joined.empty() && range.begin <= joined.back().end) {
      joined.back().end = std::max(joined.back().end, range.end);
    } else {
      joined.push_back(range);
    }
  }
  return joined;
}

}  // namespace

std::vector<ByteRange> FreeRanges(std::vector<ByteRange> dead, std::vector<ByteRange> live,
                                  std::uint64_t low, std::uint64_t high) {
  const std::vector<ByteRange> taken = Union(std::move(live), low, high);
  std::vector<ByteRange> free;
  auto next = taken.begin();
  for (ByteRange range : Union(std::move(dead), low, high)) {
    while (next != taken.end() && next->end <= range.begin) ++next;
    for (auto cut = next; cut != taken.end() && cut->begin < range.end; ++cut) {
      if (cut->begin > range.begin) free.push_back({range.begin, cut->begin});
      range.begin = std::max(range.begin, cut->end);
    }
    if (range.begin < range.end) free.push_back(range);
  }
  return free;
}

std::vector<std::uint64_t> PlacePieces(std::span<const std::uint64_t> sizes,
                                       const std::vector<ByteRange>& free, std::uint64_t end) {
  constexpr std::uint64_t kOpen = std::numeric_limits<std::uint64_t>::max();
  std::vector<ByteRange> room = free;  // begin: the first byte not yet given out
  if (!room.empty() && room.back().end == end) {
    room.back().end = kOpen;
  } else {
    room.push_back({end, kOpen});
  }
  std::vector<std::size_t> order(sizes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
  std::vector<std::uint64_t> offsets(sizes.size());
  for (std::size_t piece : order) {
    ByteRange& range = *std::find_if(room.begin(), room.end(), [&](const ByteRange& r) {
      return r.end - r.begin >= sizes[piece];
    });
    offsets[piece] = range.begin;
    range.begin += sizes[piece];
  }
  return offsets;
}

}  // namespace veltrane::mpq
