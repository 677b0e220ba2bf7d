#include "archiver/codec/compression.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <zlib.h>

#include "archiver/codec/adpcm.h"
#include "archiver/codec/bzip2.h"
#include "archiver/codec/explode.h"
#include "archiver/codec/huffman.h"

namespace veltrane::mpq {
namespace {

std::string Hex(unsigned value) {
  const char* digits = "0123456789abcdef";
  return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

// Names the methods in a mask the archiver does not decode, for the error message.
std::string MethodNames(unsigned mask) {
  if (mask == 0x12) return "LZMA";
  struct Method {
    unsigned bit;
    const char* name;
  };
  constexpr Method kMethods[] = {
      {0x01, "Huffman"}, {0x02, "zlib"},   {0x04, "unknown 0x04"}, {0x08, "PKWARE"},
      {0x10, "bzip2"},   {0x20, "sparse"}, {0x40, "ADPCM mono"},   {0x80, "ADPCM stereo"}};
  std::string names;
  for (const Method& method : kMethods) {
    if ((mask & method.bit) == 0) continue;
    if (!names.empty()) names += " + ";
    names += method.name;
  }
  return names.empty() ? "none" : names;
}

// Grows the output as data is decoded, so a size claimed by a damaged archive costs no
// more memory than the stream really produces.
int InflateInto(z_stream& stream, std::vector<std::byte>& out, std::size_t max_size) {
  std::size_t step =
      std::min<std::size_t>(max_size, std::max<std::size_t>(64 << 10, 4 * stream.avail_in));
  for (;;) {
    if (stream.avail_out == 0 && out.size() < max_size) {
      const std::size_t produced = out.size();
      out.resize(std::min(max_size, produced + step));
      step *= 2;
      stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
      stream.avail_out = static_cast<uInt>(out.size() - produced);
    }
    const int rc = inflate(&stream, Z_NO_FLUSH);
    if (rc != Z_OK) return rc;
  }
}

// Whether the deflate data goes on past a full output: one more byte of room shows it.
bool InflatesFurther(z_stream& stream) {
  Bytef spare = 0;
  stream.next_out = &spare;
  stream.avail_out = 1;
  const int rc = inflate(&stream, Z_NO_FLUSH);
  return (rc == Z_OK || rc == Z_STREAM_END) && stream.avail_out == 0;
}

// The zlib header's two bytes: deflate with a window of at most 32 KiB, a valid check of
// the pair, and no preset dictionary.
Result<> CheckZlibHeader(std::span<const std::byte> in) {
  if (in.size() < 2) return Fail("zlib stream is truncated: its 2-byte header is cut off");
  const auto method = std::to_integer<unsigned>(in[0]), flags = std::to_integer<unsigned>(in[1]);
  if ((method & 15) != 8 || (method >> 4) > 7 || (method * 256 + flags) % 31 != 0) {
    return Fail("zlib stream is corrupt: incorrect header check");
  }
  if (flags & 0x20) return Fail("zlib stream is corrupt: it needs a preset dictionary");
  return {};
}

// Decodes the deflate data after the zlib header, up to `max_size` bytes. The Adler-32 check
// that follows is not read: the game's reader ignores it, so a wrong or missing one passes.
Result<std::vector<std::byte>> Inflate(std::span<const std::byte> in, std::size_t max_size) {
  constexpr std::size_t kMax = std::numeric_limits<uInt>::max();
  if (in.size() > kMax || max_size > kMax) return Fail("zlib sector is too large");
  if (auto header = CheckZlibHeader(in); !header) return header.error();
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return Fail("zlib could not start a decoder");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(in.data() + 2));
  stream.avail_in = static_cast<uInt>(in.size() - 2);
  std::vector<std::byte> out;
  Bytef none = 0;  // zlib wants an output pointer even before there is room
  stream.next_out = &none;
  const int rc = InflateInto(stream, out, max_size);
  const std::size_t produced = stream.total_out;
  const std::string detail = stream.msg ? stream.msg : "";
  const bool further = rc == Z_BUF_ERROR && produced == max_size && InflatesFurther(stream);
  inflateEnd(&stream);
  out.resize(produced);
  if (rc == Z_STREAM_END) return out;
  if (further) return Fail("zlib stream expands beyond " + std::to_string(max_size) + " bytes");
  if (rc == Z_BUF_ERROR) {
    return Fail("zlib stream is truncated after " + std::to_string(produced) + " bytes");
  }
  return Fail("zlib stream is corrupt: " +
              (detail.empty() ? "error " + std::to_string(rc) : detail));
}

Result<std::vector<std::byte>> AdpcmMono(std::span<const std::byte> in, std::size_t max_size) {
  return DecodeAdpcm(in, max_size, 1);
}

Result<std::vector<std::byte>> AdpcmStereo(std::span<const std::byte> in, std::size_t max_size) {
  return DecodeAdpcm(in, max_size, 2);
}

// The methods a mask combines, in the order the game's reader undoes them: the reverse of
// the order its writer applies them (ADPCM, Huffman, zlib, PKWARE, bzip2). Each stage gives
// at most the sector's size, and the last one exactly that.
struct Stage {
  unsigned bit;
  const char* name;
  Result<std::vector<std::byte>> (*decode)(std::span<const std::byte>, std::size_t);
};
constexpr Stage kStages[] = {{0x10, "bzip2", Bunzip2AtMost}, {0x08, "PKWARE", ExplodeAtMost},
                             {0x02, "zlib", Inflate},        {0x01, "Huffman", Unhuff},
                             {0x80, "ADPCM", AdpcmStereo},   {0x40, "ADPCM", AdpcmMono}};
constexpr unsigned kStageBits = 0xDB;
constexpr unsigned kMaskLzma = 0x12;  // later games' LZMA, not bzip2 with zlib

Result<std::vector<std::byte>> Undo(unsigned mask, std::span<const std::byte> data,
                                    std::size_t out_size) {
  std::vector<std::byte> current(data.begin(), data.end());
  const char* last = "";
  for (const Stage& stage : kStages) {
    if ((mask & stage.bit) == 0) continue;
    auto next = stage.decode(current, out_size);
    if (!next) return next.error();
    current = std::move(*next);
    last = stage.name;
  }
  if (current.size() != out_size) {
    return Fail(std::string(last) + " stream ends after " + std::to_string(current.size()) +
                " bytes, expected " + std::to_string(out_size));
  }
  return current;
}

}  // namespace

Result<std::vector<std::byte>> DecompressSector(std::span<const std::byte> in, std::size_t out_size,
                                                bool imploded) {
  if (in.size() == out_size) return std::vector<std::byte>(in.begin(), in.end());
  if (in.size() > out_size) {
    return Fail("sector of " + std::to_string(in.size()) + " bytes is larger than its " +
                std::to_string(out_size) + " bytes of data");
  }
  if (imploded) return Explode(in, out_size);
  if (in.empty()) return Fail("sector is empty, expected " + std::to_string(out_size) + " bytes");
  const auto mask = std::to_integer<unsigned>(in[0]);
  const std::string named = "sector compression mask " + Hex(mask) + " (" + MethodNames(mask) + ")";
  if (mask == 0 || (mask & ~kStageBits) != 0 || mask == kMaskLzma) {
    return Fail(named +
                " is not supported; the game's reader decodes Huffman (0x01), zlib (0x02), PKWARE "
                "(0x08), bzip2 (0x10), ADPCM (0x40, 0x80) and their combinations");
  }
  auto out = Undo(mask, in.subspan(1), out_size);
  if (!out) return Fail(named + ": " + out.message());
  return out;
}

bool FrequenciesRuleOutSaving(std::span<const std::byte> in, unsigned tenths) {
  // n^2 below must fit in 64 bits; sectors are at most 2 GiB.
  if (in.empty() || tenths == 0 || in.size() > (std::uint64_t{1} << 31)) return false;
  std::array<std::uint64_t, 256> counts{};
  for (std::byte b : in) ++counts[std::to_integer<unsigned>(b)];
  // The collision entropy, -log2 of the sum of squared byte frequencies, never exceeds the
  // entropy that bounds any coder of single bytes. It is above the bits per byte that the
  // saving leaves when sum(c^2) * 2^bits < n^2; the sums are integers, so every build gives
  // the same answer, and 2^bits is rounded up, never ruling out too much.
  std::uint64_t squares = 0;
  for (std::uint64_t count : counts) squares += count * count;
  const double bits = 8.0 * (10 - std::min(tenths, 10u)) / 10;
  const auto factor = static_cast<std::uint64_t>(std::ceil(std::exp2(bits)));
  const std::uint64_t n = in.size();
  return squares < n * n / factor;
}

std::optional<std::vector<std::byte>> CompressSectorZlib(std::span<const std::byte> in, int level) {
  uLong bound = compressBound(static_cast<uLong>(in.size()));
  std::vector<std::byte> out(1 + bound);
  out[0] = kMaskZlib;
  const int rc = compress2(reinterpret_cast<Bytef*>(out.data() + 1), &bound,
                           reinterpret_cast<const Bytef*>(in.data()), static_cast<uLong>(in.size()),
                           std::clamp(level, kZlibFastest, kZlibSmallest));
  if (rc != Z_OK) return std::nullopt;
  out.resize(1 + bound);
  return out;
}

}  // namespace veltrane::mpq
