// The codecs against data that StormLib and libbz2 encode.
#include <StormLib.h>
#include <bzlib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "archiver/codec/bzip2.h"
#include "archiver/codec/compression.h"
#include "archiver/codec/explode.h"
#include "storm_oracle.h"
#include "test_bytes.h"

namespace veltrane::mpq {
namespace {

// Kinds of content, each exercising different parts of the format.
std::vector<std::byte> Sample(const std::string& kind, std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size) + static_cast<unsigned>(kind.size()));
  std::vector<std::byte> out;
  const char* words[] = {"trigger ",
                         "unit ",
                         "Player(0) ",
                         "call ",
                         "endif\r\n",
                         "\t",
                         "local integer i = 0\r\n",
                         "GetTriggerUnit() ",
                         "\"ability\" "};
  while (out.size() < size) {
    if (kind == "text") {  // repeats at every distance, printable literals
      for (char c : std::string(words[random() % std::size(words)])) out.push_back(std::byte(c));
    } else if (kind == "binary") {  // all byte values, short matches
      const auto b = static_cast<std::byte>(random() % 7 == 0 ? 0 : random());
      out.insert(out.end(), 1 + random() % 3, b);
    } else if (kind == "wave") {  // 16-bit samples: silence, a tone, and jumps past any step
      const auto at = static_cast<double>(out.size() / 2);
      const auto part = out.size() * 4 / size;
      const double tone = part == 0 ? 0 : 12000 * std::sin(at / 9) + random() % 200;
      const auto sample = static_cast<std::uint16_t>(part == 3 ? (random() % 2) * 60000 : tone);
      out.insert(out.end(), {std::byte(sample & 0xFF), std::byte(sample >> 8)});
    } else if (kind == "codes") {  // small values with a sign bit, as ADPCM writes
      out.push_back(static_cast<std::byte>(random() % 12 | (random() % 2) << 6));
    } else if (kind == "runs") {  // longest copies (518 bytes)
      out.insert(out.end(), 1 + random() % 2000, static_cast<std::byte>('a' + random() % 3));
    } else {  // noise: stored as is
      out.push_back(static_cast<std::byte>(random()));
    }
  }
  out.resize(size);
  return out;
}

const char* const kKinds[] = {"text", "binary", "runs", "noise"};

std::filesystem::path Scratch(const std::string& name) {
  return std::filesystem::path(testing::TempDir()) / ("veltrane_codec_" + name + ".mpq");
}

// StormLib's own decoding of a masked sector.
std::vector<std::byte> StormDecode(std::vector<std::byte> sector, std::size_t size) {
  std::vector<std::byte> out(size);
  int out_size = static_cast<int>(size);
  EXPECT_TRUE(
      SCompDecompress(out.data(), &out_size, sector.data(), static_cast<int>(sector.size())));
  out.resize(out_size);
  return out;
}

struct Seen {
  std::set<int> dictionaries;  // the dictionary size codes of PKWARE streams
  std::set<int> masks;         // the masks of compressed sectors
};

// Decodes every sector of a member StormLib wrote and compares with the original, or with
// StormLib's decoding of the sector when the method loses detail.
Seen CheckMember(std::span<const std::byte> data, std::uint32_t flags, std::uint32_t compression,
                 bool lossy = false) {
  const test::RawMember member = test::AddAndReadBack(Scratch("member"), data, flags, compression);
  const bool imploded = member.flags & MPQ_FILE_IMPLODE;
  Seen seen;
  std::vector<std::byte> joined;
  for (const test::RawSector& sector : member.sectors) {
    const auto out = DecompressSector(sector.bytes, sector.size, imploded);
    EXPECT_TRUE(out.ok()) << out.message();
    if (!out.ok()) return seen;
    joined.insert(joined.end(), out->begin(), out->end());
    if (sector.bytes.size() == sector.size) continue;
    const std::size_t header = imploded ? 0 : 1;
    if (!imploded) seen.masks.insert(std::to_integer<int>(sector.bytes[0]));
    if (lossy) {
      EXPECT_EQ(*out, StormDecode(sector.bytes, sector.size));
    }
    if (imploded || sector.bytes[0] == kMaskPkware) {
      seen.dictionaries.insert(std::to_integer<int>(sector.bytes[header + 1]));
    }
  }
  if (!lossy) {
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), data.begin(), data.end()));
  }
  return seen;
}

TEST(StormArchive, SectorsDecodeForEveryMethod) {
  struct Method {
    const char* name;
    std::uint32_t flags, compression;
  };
  const Method methods[] = {
      {"pkware mask", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_PKWARE},
      {"imploded", MPQ_FILE_IMPLODE, 0},
      {"zlib mask", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB},
      {"bzip2 mask", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_BZIP2},
      {"huffman mask", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_HUFFMANN},
      {"huffman then zlib", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_HUFFMANN | MPQ_COMPRESSION_ZLIB},
  };
  // Sector sizes below 0x600, 0xC00 and above select the three dictionary sizes.
  const std::size_t sizes[] = {1, 700, 2000, 4096, 10000};
  for (const Method& method : methods) {
    Seen seen;
    for (const char* kind : kKinds) {
      for (std::size_t size : sizes) {
        SCOPED_TRACE(std::string(method.name) + " " + kind + " " + std::to_string(size));
        const auto data = Sample(kind, size);
        Seen member = CheckMember(data, method.flags, method.compression);
        seen.dictionaries.merge(member.dictionaries);
        seen.masks.merge(member.masks);
      }
    }
    if (method.compression == MPQ_COMPRESSION_PKWARE || method.compression == 0) {
      EXPECT_EQ(seen.dictionaries, (std::set<int>{4, 5, 6})) << method.name;
    } else {
      EXPECT_TRUE(seen.masks.contains(static_cast<int>(method.compression))) << method.name;
    }
  }
}

// A WAVE file of 16-bit PCM samples, the only kind StormLib compresses with ADPCM; its
// channel count picks mono or stereo.
std::vector<std::byte> WaveFile(std::size_t size, std::uint32_t channels) {
  std::vector<std::byte> file = test::Bytes(std::string("RIFF....WAVEfmt \x10\0\0\0\1\0", 22));
  const std::uint32_t rate = 22050, align = 2 * channels;
  for (std::uint32_t half : {channels, rate, 0u, rate * align, 0u, align, 16u}) {
    file.insert(file.end(), {std::byte(half & 0xFF), std::byte((half >> 8) & 0xFF)});
  }
  const auto samples = Sample("wave", size - file.size());
  file.insert(file.end(), samples.begin(), samples.end());
  return file;
}

// Sound as the game's archives hold it: ADPCM, mostly followed by Huffman coding.
TEST(StormArchive, WaveSectorsDecodeAsStormDecodesThem) {
  const std::uint32_t methods[] = {MPQ_COMPRESSION_ADPCM_MONO | MPQ_COMPRESSION_HUFFMANN,
                                   MPQ_COMPRESSION_ADPCM_STEREO | MPQ_COMPRESSION_HUFFMANN,
                                   MPQ_COMPRESSION_ADPCM_MONO, MPQ_COMPRESSION_ADPCM_STEREO};
  for (std::uint32_t method : methods) {
    SCOPED_TRACE(method);
    const Seen seen = CheckMember(WaveFile(30000, method & MPQ_COMPRESSION_ADPCM_MONO ? 1 : 2),
                                  MPQ_FILE_COMPRESS, method, true);
    EXPECT_TRUE(seen.masks.contains(static_cast<int>(method)));
  }
}

// Every Huffman weight table, and every ADPCM shift with the table StormLib pairs it with.
TEST(StormCompress, EveryHuffmanTableAndAdpcmLevel) {
  struct Row {
    unsigned mask;
    int type, level;
  };
  std::vector<Row> rows;
  for (int type = 0; type <= 8; ++type) rows.push_back({MPQ_COMPRESSION_HUFFMANN, type, 0});
  for (unsigned adpcm : {MPQ_COMPRESSION_ADPCM_MONO, MPQ_COMPRESSION_ADPCM_STEREO}) {
    for (int level : {0, 1, 3}) rows.push_back({adpcm | MPQ_COMPRESSION_HUFFMANN, 0, level});
  }
  for (const Row& row : rows) {
    int compressed = 0;
    for (const char* kind : {"text", "binary", "wave", "codes"}) {
      SCOPED_TRACE(std::to_string(row.mask) + " " + std::to_string(row.type) + " " +
                   std::to_string(row.level) + " " + kind);
      auto data = Sample(kind, 4096);
      std::vector<std::byte> packed(data.size());
      int size = static_cast<int>(packed.size());
      ASSERT_TRUE(SCompCompress(packed.data(), &size, data.data(), static_cast<int>(data.size()),
                                row.mask, row.type, row.level));
      packed.resize(size);
      if (packed.size() == data.size()) continue;  // kept as is
      EXPECT_EQ(std::to_integer<unsigned>(packed[0]), row.mask);
      const auto out = DecompressSector(packed, data.size(), false);
      ASSERT_TRUE(out.ok()) << out.message();
      EXPECT_EQ(*out, StormDecode(packed, data.size()));
      if (row.mask == MPQ_COMPRESSION_HUFFMANN) {
        EXPECT_EQ(*out, data);
      }
      ++compressed;
    }
    EXPECT_GT(compressed, 0);
  }
}

TEST(StormImplode, EveryModeAndDictionary) {
  for (unsigned mode : {0u, 1u}) {
    for (unsigned dictionary : {1024u, 2048u, 4096u}) {
      for (const char* kind : kKinds) {
        for (std::size_t size : {0, 1, 517, 20000}) {
          SCOPED_TRACE(std::to_string(mode) + " " + std::to_string(dictionary) + " " + kind + " " +
                       std::to_string(size));
          const auto data = Sample(kind, size);
          const auto stream = test::StormImplode(data, mode, dictionary);
          ASSERT_GE(stream.size(), 2u);
          EXPECT_EQ(std::to_integer<unsigned>(stream[0]), mode);
          const auto out = Explode(stream, data.size());
          ASSERT_TRUE(out.ok()) << out.message();
          EXPECT_TRUE(*out == data);
        }
      }
    }
  }
}

// Damaged real streams: every outcome is either exactly the expected size or an error.
TEST(StormImplode, DamagedStreamsFailCleanly) {
  std::mt19937 random(7);
  for (unsigned mode : {0u, 1u}) {
    const auto data = Sample("text", 6000);
    const auto stream = test::StormImplode(data, mode, 4096);
    for (int round = 0; round < 300; ++round) {
      auto damaged = stream;
      if (round % 3 == 0) {
        damaged.resize(random() % damaged.size());
      } else {
        for (int flips = 1 + round % 4; flips > 0; --flips) {
          damaged[random() % damaged.size()] ^= std::byte(1u << (random() % 8));
        }
      }
      const auto out = Explode(damaged, data.size());
      if (out.ok()) {
        EXPECT_EQ(out->size(), data.size());
      } else {
        EXPECT_FALSE(out.message().empty());
      }
    }
  }
}

TEST(ZlibSectors, InteroperateWithStorm) {
  for (const char* kind : kKinds) {
    SCOPED_TRACE(kind);
    auto data = Sample(kind, 4096);
    // Ours decoded by StormLib; a sector that does not shrink is stored as is instead.
    auto ours = *CompressSectorZlib(data);
    if (ours.size() >= data.size()) ours = data;
    std::vector<std::byte> back(data.size());
    int back_size = static_cast<int>(back.size());
    ASSERT_TRUE(
        SCompDecompress(back.data(), &back_size, ours.data(), static_cast<int>(ours.size())));
    EXPECT_EQ(back, data);
    // StormLib's decoded by ours; it keeps data as is when compression does not help.
    std::vector<std::byte> theirs(data.size() + 64);
    int theirs_size = static_cast<int>(theirs.size());
    ASSERT_TRUE(SCompCompress(theirs.data(), &theirs_size, data.data(),
                              static_cast<int>(data.size()), MPQ_COMPRESSION_ZLIB, 0, 0));
    theirs.resize(theirs_size);
    const auto out = DecompressSector(theirs, data.size(), false);
    ASSERT_TRUE(out.ok()) << out.message();
    EXPECT_EQ(*out, data);
    // PKWARE over zlib (mask 0x0a), which StormLib's writer hardly ever gains by: its implode
    // of our zlib stream.
    auto both = test::StormImplode(std::span(ours).subspan(1), 0, 4096);
    both.insert(both.begin(), std::byte{0x0a});
    if (both.size() >= data.size()) continue;
    EXPECT_EQ(StormDecode(both, data.size()), data);
    const auto unpacked = DecompressSector(both, data.size(), false);
    ASSERT_TRUE(unpacked.ok()) << unpacked.message();
    EXPECT_EQ(*unpacked, data);
  }
}

// A bzip2 stream of `data` made by libbz2 at `level` (1 to 9: blocks of 100 000 to 900 000).
std::vector<std::byte> Bzip2(std::span<const std::byte> data, int level) {
  std::vector<std::byte> out(data.size() + data.size() / 50 + 1024);
  auto size = static_cast<unsigned>(out.size());
  // libbz2 refuses a null source, which an empty vector's data() may be.
  std::vector<char> in(data.size() + 1);
  if (!data.empty()) std::memcpy(in.data(), data.data(), data.size());
  const int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size, in.data(),
                                          static_cast<unsigned>(data.size()), level, 0, 0);
  EXPECT_EQ(rc, BZ_OK);
  out.resize(size);
  return out;
}

TEST(Bzip2, DecodesLibbz2Streams) {
  struct Size {
    std::size_t bytes;
    int level;
  };
  // The largest size makes several blocks at level 1, except for runs that the first
  // stage's counts shrink into one.
  const Size sizes[] = {{0, 9}, {1, 9}, {4096, 9}, {250'000, 1}};
  for (const char* kind : kKinds) {
    for (const Size& size : sizes) {
      SCOPED_TRACE(std::string(kind) + " " + std::to_string(size.bytes));
      const auto data = Sample(kind, size.bytes);
      const auto out = Bunzip2(Bzip2(data, size.level), data.size());
      ASSERT_TRUE(out.ok()) << out.message();
      EXPECT_TRUE(*out == data);
    }
  }
}

TEST(Bzip2, DamagedStreamsGiveErrors) {
  const auto data = Sample("text", 4096);
  const auto stream = Bzip2(data, 9);
  struct Case {
    const char* name;
    std::size_t at;  // the byte changed, or the length kept when `flip` is 0
    std::uint8_t flip;
    std::size_t out_size;
    const char* error;
  };
  // The block's CRC follows the 4-byte header and the 6-byte block marker; the randomised
  // flag is the next bit after it. The combined CRC ends in the last byte.
  const Case cases[] = {
      {"cut inside a block", stream.size() / 2, 0, 4096, "truncated after 0 bytes, expected 4096"},
      {"cut inside the combined CRC", stream.size() - 1, 0, 4096, "truncated after 4096 bytes"},
      {"bad magic", 0, 'B' ^ 'C', 4096, "does not start with \"BZh\""},
      {"flipped block CRC", 10, 0x01, 4096, "corrupt: block 1 has CRC"},
      {"randomised block", 14, 0x80, 4096, "block 1 is randomised"},
      {"flipped combined CRC", stream.size() - 2, 0x01, 4096, "corrupt: its combined CRC"},
      {"more data than expected", 0, 0, 4095, "expands beyond 4095 bytes"},
      {"block larger than the expected size allows", 0, 0, 100, "holds more than 126 bytes"},
      {"less data than expected", 0, 0, 4097, "ends after 4096 bytes, expected 4097"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto damaged = stream;
    if (c.flip != 0) damaged[c.at] ^= std::byte{c.flip};
    if (c.flip == 0 && c.at != 0) damaged.resize(c.at);
    const auto out = Bunzip2(damaged, c.out_size);
    ASSERT_FALSE(out.ok());
    EXPECT_NE(out.message().find(c.error), std::string::npos) << out.message();
  }
}

}  // namespace
}  // namespace veltrane::mpq
