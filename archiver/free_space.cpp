#include "archiver/free_space.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace veltrane::mpq {
namespace {

// The spans clipped to [low, high), sorted, with touching and overlapping ones joined.
std::vector<Span> Union(std::vector<Span> spans, std::uint64_t low, std::uint64_t high) {
  for (Span& span : spans) {
    span.begin = std::clamp(span.begin, low, high);
    span.end = std::clamp(span.end, span.begin, high);
  }
  std::erase_if(spans, [](const Span& span) { return span.begin == span.end; });
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.begin < b.begin; });
  std::vector<Span> joined;
  for (const Span& span : spans) {
    if (!joined.empty() && span.begin <= joined.back().end) {
      joined.back().end = std::max(joined.back().end, span.end);
    } else {
      joined.push_back(span);
    }
  }
  return joined;
}

}  // namespace

std::vector<Span> FreeSpans(std::vector<Span> dead, std::vector<Span> live, std::uint64_t low,
                            std::uint64_t high) {
  const std::vector<Span> taken = Union(std::move(live), low, high);
  std::vector<Span> free;
  auto next = taken.begin();
  for (Span span : Union(std::move(dead), low, high)) {
    while (next != taken.end() && next->end <= span.begin) ++next;
    for (auto cut = next; cut != taken.end() && cut->begin < span.end; ++cut) {
      if (cut->begin > span.begin) free.push_back({span.begin, cut->begin});
      span.begin = std::max(span.begin, cut->end);
    }
    if (span.begin < span.end) free.push_back(span);
  }
  return free;
}

std::vector<std::uint64_t> PlacePieces(std::span<const std::uint64_t> sizes,
                                       const std::vector<Span>& free, std::uint64_t end) {
  constexpr std::uint64_t kOpen = std::numeric_limits<std::uint64_t>::max();
  std::vector<Span> room = free;  // begin: the first byte not yet given out
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
    Span& span = *std::find_if(room.begin(), room.end(),
                               [&](const Span& s) { return s.end - s.begin >= sizes[piece]; });
    offsets[piece] = span.begin;
    span.begin += sizes[piece];
  }
  return offsets;
}

}  // namespace veltrane::mpq
