#include "archiver/codec/adpcm.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace veltrane::mpq {
namespace {

// IMA ADPCM's step sizes, chosen by a step index of 0 to 88.
constexpr std::array<std::uint16_t, 89> kSteps = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kLastStep = 88;
constexpr int kFirstStep = 44;  // every channel's step index at the start

// How a sample's low five bits move the step index.
constexpr std::array<std::int8_t, 32> kStepChange = {-1, 0,  -1, 4,  -1, 2,  -1, 6,  -1, 1,  -1,
                                                     5,  -1, 3,  -1, 7,  -1, 1,  -1, 5,  -1, 3,
                                                     -1, 7,  -1, 2,  -1, 4,  -1, 6,  -1, 8};

// Codes that carry no sample bits: the first repeats the channel's last sample with a
// smaller step; the second raises the step by 8 and leaves the turn with the channel.
constexpr unsigned kSmallerStep = 0x80;
constexpr unsigned kLargerStep = 0x81;

struct Channel {
  int sample = 0;
  int step = kFirstStep;
};

// The sample after `code`: bits 0 to 5 add the step halved 0 to 5 times to the step shifted
// right by `shift`; bit 6 makes the difference negative.
int NextSample(const Channel& channel, unsigned code, unsigned shift) {
  const int step = kSteps[channel.step];
  int difference = shift < 16 ? step >> shift : 0;  // steps are below 2^15
  for (int bit = 0; bit < 6; ++bit) {
    if (code & (1u << bit)) difference += step >> bit;
  }
  if (code & 0x40) return std::max(channel.sample - difference, -32768);
  return std::min(channel.sample + difference, 32767);
}

class Output {
 public:
  Output(std::size_t max_size, std::size_t input) : max_size_(max_size) {
    bytes_.reserve(std::min(max_size, 2 * input));  // a sample at most per input byte
  }
  // Appends a sample; false when it no longer fits.
  bool Put(int sample) {
    if (max_size_ - bytes_.size() < 2) return false;
    bytes_.push_back(static_cast<std::byte>(sample & 0xFF));
    bytes_.push_back(static_cast<std::byte>((sample >> 8) & 0xFF));
    return true;
  }
  std::vector<std::byte> Take() && { return std::move(bytes_); }

 private:
  std::size_t max_size_;
  std::vector<std::byte> bytes_;
};

}  // namespace

Result<std::vector<std::byte>> DecodeAdpcm(std::span<const std::byte> in, std::size_t max_size,
                                           int channels) {
  if (in.size() < 2) {
    return Fail("ADPCM data of " + std::to_string(in.size()) +
                " bytes is too short for its 2-byte header");
  }
  const auto shift = std::to_integer<unsigned>(in[1]);
  std::array<Channel, 2> state;
  Output out(max_size, in.size());
  std::size_t at = 2;
  for (int c = 0; c < channels; ++c, at += 2) {
    if (in.size() - at < 2) return std::move(out).Take();
    const unsigned low = std::to_integer<unsigned>(in[at]),
                   high = std::to_integer<unsigned>(in[at + 1]);
    state[c].sample = static_cast<std::int16_t>(low | (high << 8));
    if (!out.Put(state[c].sample)) return std::move(out).Take();
  }
  for (int c = channels - 1; at < in.size(); ++at) {
    const auto code = std::to_integer<unsigned>(in[at]);
    Channel& channel = state[c = (c + 1) % channels];
    if (code == kLargerStep) {
      channel.step = std::min(channel.step + 8, kLastStep);
      c = (c + 1) % channels;
      continue;
    }
    if (code == kSmallerStep) {
      channel.step = std::max(channel.step - 1, 0);
    } else {
      channel.sample = NextSample(channel, code, shift);
    }
    if (!out.Put(channel.sample)) break;
    if (code != kSmallerStep) {
      channel.step = std::clamp(channel.step + kStepChange[code & 0x1F], 0, kLastStep);
    }
  }
  return std::move(out).Take();
}

}  // namespace veltrane::mpq
