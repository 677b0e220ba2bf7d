#include "job/read_back.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace veltrane {
namespace {

// The copy is read this much at a time, besides what a needle needs to span two pieces.
constexpr std::size_t kPiece = 1 << 18;

using Faults = std::vector<std::optional<MemberFault>>;

// Stored bytes of a member at the same place in both files: [copy_begin, copy_end) of the
// copy holds what the map holds from map_begin on.
struct Span {
  std::uint64_t copy_begin = 0;
  std::uint64_t copy_end = 0;
  std::uint64_t map_begin = 0;
  std::size_t pair = 0;
};

// Finds any of the needles in a run of windows, each starting with the last Overlap() bytes
// of the one before, so a needle that spans two pieces is found whole in the second. A part
// of the copy found equal to the map's bytes of a member the job keeps holds nothing but that
// member, so only the rest of the window is searched, and around each part's ends for a
// needle that crosses one.
class TraceSearch {
 public:
  explicit TraceSearch(std::span<const std::vector<std::byte>> needles) {
    for (const auto& needle : needles) {
      if (needle.empty()) continue;
      longest_ = std::max(longest_, needle.size());
      const auto* begin = reinterpret_cast<const unsigned char*>(needle.data());
      searchers_.emplace_back(begin, begin + needle.size());
    }
  }
  std::size_t Overlap() const { return longest_ == 0 ? 0 : longest_ - 1; }
  bool found() const { return found_; }

  // `window` holds the copy's bytes from `start` on; `equal` are the parts of it found equal
  // to the map's, in the order of their starts.
  void Search(std::uint64_t start, std::span<const std::byte> window, std::span<const Span> equal) {
    if (found_ || searchers_.empty()) return;
    ranges_.clear();
    std::uint64_t from = start;
    for (const Span& part : equal) {
      Widen(start, window.size(), std::min(from, part.copy_begin), part.copy_begin);
      from = std::max(from, part.copy_end);
    }
    Widen(start, window.size(), from, start + window.size());
    // Ranges that touch are searched as one, so a needle across their meeting point is found.
    std::sort(ranges_.begin(), ranges_.end());
    auto [begin, end] = ranges_.front();
    for (const auto& [next_begin, next_end] : ranges_) {
      if (next_begin > end) {
        SearchIn(window.subspan(begin, end - begin));
        begin = next_begin;
      }
      end = std::max(end, next_end);
    }
    SearchIn(window.subspan(begin, end - begin));
  }

 private:
  using Searcher = std::boyer_moore_horspool_searcher<const unsigned char*>;

  // Notes [begin, end) of the copy, widened by a needle's length less one on each side and
  // kept inside the window, as window offsets.
  void Widen(std::uint64_t start, std::size_t size, std::uint64_t begin, std::uint64_t end) {
    const std::uint64_t left = begin - start;
    ranges_.emplace_back(left > Overlap() ? left - Overlap() : 0,
                         std::min<std::uint64_t>(size, end - start + Overlap()));
  }

  // Searches as unsigned char, for which the searcher keeps its shift table in an array.
  void SearchIn(std::span<const std::byte> text) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = begin + text.size();
    for (const Searcher& searcher : searchers_) {
      found_ = found_ || std::search(begin, end, searcher) != end;
    }
  }

  std::vector<Searcher> searchers_;
  std::size_t longest_ = 0;
  bool found_ = false;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges_;
};

// The spans of the pairs stored alike, by their place in the copy; a pair whose data the
// copy's end cuts is marked.
std::vector<Span> SpansOf(const std::vector<MemberPair>& pairs, std::uint64_t copy_size,
                          Faults& faults) {
  std::vector<Span> spans;
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const MemberPair& pair = pairs[i];
    if (!pair.same_stored || pair.map_stored == 0) continue;
    if (pair.copy_start > copy_size || pair.map_stored > copy_size - pair.copy_start) {
      faults[i] = MemberFault::kCutShort;
      continue;
    }
    spans.push_back({pair.copy_start, pair.copy_start + pair.map_stored, pair.map_start, i});
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.copy_begin < b.copy_begin; });
  return spans;
}

// Compares each piece of the copy with the map's bytes of the spans in it. Parts of
// neighbouring spans that lie next to each other in both files are read from the map at once.
class SpanComparer {
 public:
  SpanComparer(mpq::ByteSource& map, std::vector<Span> spans, Faults& faults)
      : map_(map), spans_(std::move(spans)), faults_(faults) {}

  // The parts of the last piece compared that are equal to the map's, in order.
  std::span<const Span> equal() const { return equal_; }

  Result<void> Compare(std::uint64_t piece_begin, std::span<const std::byte> piece) {
    const std::uint64_t piece_end = piece_begin + piece.size();
    while (first_ < spans_.size() && spans_[first_].copy_end <= piece_begin) ++first_;
    parts_.clear();
    equal_.clear();
    for (std::size_t i = first_; i < spans_.size() && spans_[i].copy_begin < piece_end; ++i) {
      const Span& span = spans_[i];
      const std::uint64_t begin = std::max(span.copy_begin, piece_begin);
      const std::uint64_t end = std::min(span.copy_end, piece_end);
      if (begin >= end || faults_[span.pair]) continue;
      parts_.push_back({begin, end, span.map_begin + (begin - span.copy_begin), span.pair});
    }
    for (std::size_t run = 0; run < parts_.size();) {
      std::size_t next = run + 1;
      while (next < parts_.size() && Adjoins(parts_[next - 1], parts_[next])) ++next;
      auto compared = CompareRun(piece_begin, piece, run, next);
      if (!compared) return compared;
      run = next;
    }
    return {};
  }

 private:
  static bool Adjoins(const Span& a, const Span& b) {
    return b.copy_begin == a.copy_end && b.map_begin == a.map_begin + (a.copy_end - a.copy_begin);
  }

  // Reads the map's bytes of parts_[first, last) at once and compares each part. The parts
  // of a run follow each other inside one piece, so the run fits the buffer.
  Result<void> CompareRun(std::uint64_t piece_begin, std::span<const std::byte> piece,
                          std::size_t first, std::size_t last) {
    const std::uint64_t map_begin = parts_[first].map_begin;
    const auto run = static_cast<std::size_t>(parts_[last - 1].copy_end - parts_[first].copy_begin);
    auto read = map_.ReadAt(map_begin, std::span(map_bytes_.get(), run));
    if (!read) return read;
    for (std::size_t i = first; i < last; ++i) {
      const Span& part = parts_[i];
      const auto size = static_cast<std::size_t>(part.copy_end - part.copy_begin);
      if (std::memcmp(piece.data() + (part.copy_begin - piece_begin),
                      map_bytes_.get() + (part.map_begin - map_begin), size) != 0) {
        faults_[part.pair] = MemberFault::kDiffers;
      } else {
        equal_.push_back(part);
      }
    }
    return {};
  }

  mpq::ByteSource& map_;
  std::vector<Span> spans_;
  Faults& faults_;
  std::size_t first_ = 0;    // spans before it end before the current piece
  std::vector<Span> parts_;  // the spans' parts in the current piece
  std::vector<Span> equal_;  // those found equal, in order
  // Filled by each read before it is compared, so never cleared.
  std::unique_ptr<std::byte[]> map_bytes_ = std::make_unique_for_overwrite<std::byte[]>(kPiece);
};

// The one pass over the copy. Each window holds the end of the piece before it that the search
// needs, then the next piece; one buffer, never cleared, serves every window.
Result<void> ReadOnce(mpq::ByteSource& copy, std::uint64_t size, TraceSearch& search,
                      SpanComparer& comparer) {
  const std::size_t overlap = search.Overlap();
  const auto buffer = std::make_unique_for_overwrite<std::byte[]>(overlap + kPiece);
  std::size_t window = 0;
  for (std::uint64_t offset = 0; offset < size;) {
    const std::size_t kept = std::min(window, overlap);
    std::memmove(buffer.get(), buffer.get() + (window - kept), kept);
    const auto fresh = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - offset));
    window = kept + fresh;
    const std::span piece(buffer.get() + kept, fresh);
    auto read = copy.ReadAt(offset, piece);
    if (!read) return read;
    auto compared = comparer.Compare(offset, piece);
    if (!compared) return compared;
    search.Search(offset - kept, std::span(buffer.get(), window), comparer.equal());
    offset += fresh;
  }
  return {};
}

}  // namespace

Result<ReadBack> ReadBackCopy(mpq::ByteSource& map, const mpq::Archive& map_archive,
                              mpq::ByteSource& copy, const mpq::Archive& copy_archive,
                              std::span<const std::vector<std::byte>> needles) {
  const auto pairs = PairMembers(map, map_archive, copy, copy_archive);
  Faults faults(pairs.size());
  TraceSearch search(needles);
  SpanComparer comparer(map, SpansOf(pairs, copy_archive.file_size, faults), faults);
  auto read = ReadOnce(copy, copy_archive.file_size, search, comparer);
  if (!read) return read.error();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (!pairs[i].same_stored) {
      auto fault = CompareDecoded(pairs[i], map, map_archive, copy, copy_archive);
      if (!fault) return fault.error();
      faults[i] = *fault;
    }
    if (!faults[i]) continue;
    auto kept = KeptUnreadable(pairs[i], map, map_archive, copy, copy_archive);
    if (!kept) return kept.error();
    if (*kept) faults[i].reset();
  }
  ReadBack out;
  out.trace_found = search.found();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (faults[i])
      out.damaged.push_back(
          {pairs[i].member.name, pairs[i].member.map_slot, pairs[i].member.locale, *faults[i]});
  }
  auto bookkeeping = CheckBookkeeping(map_archive, copy, copy_archive);
  if (!bookkeeping) return bookkeeping.error();
  out.damaged.insert(out.damaged.end(), bookkeeping->begin(), bookkeeping->end());
  return out;
}

}  // namespace veltrane
