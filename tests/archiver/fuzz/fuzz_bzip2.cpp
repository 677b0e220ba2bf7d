// Fuzz entry point for the bzip2 decoder. Input: three bytes of expected size (little
// endian, so several blocks of level 1 fit), then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "archiver/codec/bzip2.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::size_t out_size = data[0] | (std::size_t{data[1]} << 8) | (std::size_t{data[2]} << 16);
  const auto stream = std::as_bytes(std::span(data, size)).subspan(3);
  const auto out = veltrane::mpq::Bunzip2(stream, out_size);
  if (out.ok() && out->size() != out_size) std::abort();
  return 0;
}
