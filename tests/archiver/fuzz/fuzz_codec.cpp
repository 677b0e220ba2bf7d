// Fuzz entry point for the sector codecs. Input: one flag byte (bit 0: member is imploded,
// bit 1: also round-trip the payload through zlib), two bytes of expected size (little
// endian), then the sector bytes, whose mask byte picks any method or combination.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "archiver/codec/compression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veltrane::mpq;
  if (size < 3) return 0;
  const auto input = std::as_bytes(std::span(data, size));
  const bool imploded = data[0] & 1;
  const std::size_t out_size = data[1] | (std::size_t{data[2]} << 8);
  const auto sector = input.subspan(3);

  const auto out = DecompressSector(sector, out_size, imploded);
  if (out.ok() && out->size() != out_size) std::abort();

  // A compressed sector that shrinks must decode to what went in.
  if (data[0] & 2) {
    const auto packed = CompressSectorZlib(sector);
    if (!packed) std::abort();
    if (packed->size() < sector.size()) {
      const auto back = DecompressSector(*packed, sector.size(), false);
      if (!back.ok() || !std::equal(back->begin(), back->end(), sector.begin(), sector.end())) {
        std::abort();
      }
    }
  }
  return 0;
}
