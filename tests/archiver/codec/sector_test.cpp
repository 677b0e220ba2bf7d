#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archiver/codec/compression.h"
#include "archiver/codec/explode.h"
#include "test_bytes.h"

namespace veltrane::mpq {
namespace {

using test::Bytes;
using test::DclStream;
using test::RawBits;

// Codes of the PKWARE format, in stream order.
const std::string kLen2 = "101", kLen3 = "11", kDistHigh0 = "11";
const std::string kEnd = "1 0000000 11111111";  // copy length 519
std::string Lit(char c) {
  return "0 " + RawBits(static_cast<unsigned char>(c), 8) + " ";
}

// "AB", then 3 bytes from 2 back: overlapping copy giving "ABABA".
const std::string kAbaba = Lit('A') + Lit('B') + "1 " + kLen3 + kDistHigh0 + RawBits(1, 4);
// 'A', then 40 bytes from 1 back (length base 40 with 5 extra bits): 41 times 'A'.
const std::string kRun = Lit('A') + "1 000010 00000" + kDistHigh0 + RawBits(0, 4);

struct ExplodeCase {
  const char* name;
  std::vector<std::byte> stream;
  std::size_t out_size;
  const char* expect;  // the output, or with '!' first a part of the error message
};

TEST(Explode, HandMadeStreams) {
  const ExplodeCase cases[] = {
      {"overlapping copy", DclStream(0, 4, kAbaba + kEnd), 5, "ABABA"},
      {"full output needs no end marker", DclStream(0, 4, kAbaba), 5, "ABABA"},
      {"large dictionary keeps 6 low bits",
       DclStream(0, 6, Lit('Z') + "1" + kLen3 + kDistHigh0 + RawBits(0, 6) + kEnd), 4, "ZZZZ"},
      {"empty output", DclStream(0, 4, kEnd), 0, ""},
      {"copy before start", DclStream(0, 4, Lit('A') + "1" + kLen2 + kDistHigh0 + RawBits(3, 2)), 3,
       "!before the start"},
      {"copy past expected size", DclStream(0, 4, kAbaba + kEnd), 4,
       "!expands beyond the expected 4"},
      {"end marker too early", DclStream(0, 4, Lit('A') + kEnd), 2,
       "!ends after 1 bytes, expected 2"},
      {"input ends inside a literal", DclStream(0, 4, "0 1010"), 2, "!truncated"},
      {"input ends inside a copy", DclStream(0, 4, Lit('A') + "1 1"), 2, "!truncated"},
      {"input ends without end marker", DclStream(0, 4, Lit('A')), 2, "!truncated"},
      {"header only", DclStream(0, 5, ""), 1, "!truncated"},
      {"one byte", {std::byte{0}}, 1, "!too short"},
      {"unknown literal mode", DclStream(2, 4, kEnd), 0, "!literal mode 2"},
      {"dictionary code too small", DclStream(0, 3, kEnd), 0, "!dictionary size code 3"},
      {"dictionary code too large", DclStream(1, 7, kEnd), 0, "!dictionary size code 7"},
  };
  for (const ExplodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto out = Explode(c.stream, c.out_size);
    const std::string expect = c.expect;
    if (expect.starts_with('!')) {
      ASSERT_FALSE(out.ok());
      EXPECT_NE(out.message().find(expect.substr(1)), std::string::npos) << out.message();
    } else {
      ASSERT_TRUE(out.ok()) << out.message();
      EXPECT_EQ(*out, Bytes(expect));
    }
  }
}

std::vector<std::byte> WithMask(std::byte mask, std::vector<std::byte> body) {
  body.insert(body.begin(), mask);
  return body;
}

TEST(DecompressSector, DecodesTheMasksTheGameReadsDeclinesOthers) {
  const std::vector<std::byte> text = Bytes(std::string(300, 'x') + "tail");
  const std::vector<std::byte> zlib = *CompressSectorZlib(text);
  const std::vector<std::byte> run = DclStream(0, 4, kRun + kEnd);
  const std::string a41(41, 'A');
  std::vector<std::byte> zlib_cut(zlib.begin(), zlib.begin() + zlib.size() / 2);
  std::vector<std::byte> zlib_bad_check = zlib, zlib_no_check(zlib.begin(), zlib.end() - 4);
  zlib_bad_check.back() ^= std::byte{1};
  std::vector<std::byte> zlib_cut_deflate(zlib.begin(), zlib.end() - 5);
  struct Case {
    const char* name;
    std::vector<std::byte> in;
    std::size_t out_size;
    bool imploded;
    std::string expect;  // the output, or with '!' first a part of the error message
  };
  const Case cases[] = {
      {"stored, even when it starts like a mask", Bytes("\x02zz"), 3, false, "\x02zz"},
      {"zlib", zlib, text.size(), false, std::string(300, 'x') + "tail"},
      {"pkware", WithMask(kMaskPkware, run), 41, false, a41},
      {"imploded member has no mask", run, 41, true, a41},
      {"pkware error passes through", WithMask(kMaskPkware, run), 40, false, "!expands beyond"},
      {"zlib shorter than expected", zlib, text.size() + 1, false, "!ends after 304 bytes"},
      {"zlib longer than expected", zlib, text.size() - 1, false, "!expands beyond 303"},
      {"zlib truncated", zlib_cut, text.size(), false, "!truncated"},
      {"zlib with a wrong check", zlib_bad_check, text.size(), false,
       std::string(300, 'x') + "tail"},
      {"zlib without its check", zlib_no_check, text.size(), false, std::string(300, 'x') + "tail"},
      {"zlib cut in its last deflate byte", zlib_cut_deflate, text.size(), false, "!truncated"},
      {"zlib claims a huge size", zlib, 3'000'000'000u, false, "!ends after 304 bytes"},
      {"zlib corrupt", Bytes("\x02garbage"), 20, false, "!zlib stream is corrupt"},
      {"empty", {}, 4, false, "!empty"},
      {"larger than its data", Bytes("abcde"), 4, false, "!larger than"},
      {"huffman", Bytes("\x01..."), 9, false, "!mask 0x01 (Huffman)"},
      {"bzip2 error passes through",
       Bytes("\x10"
             "BZh9"),
       9, false, "!bzip2 stream is truncated"},
      {"lzma", Bytes("\x12..."), 9, false, "!mask 0x12 (LZMA)"},
      {"sparse", Bytes("\x20..."), 9, false, "!mask 0x20 (sparse)"},
      {"adpcm mono", Bytes("\x41..."), 9, false, "!mask 0x41 (Huffman + ADPCM mono)"},
      {"adpcm stereo", Bytes("\x80..."), 9, false, "!mask 0x80 (ADPCM stereo)"},
      {"zlib after pkware", Bytes("\x0a..."), 9, false, "!mask 0x0a (zlib + PKWARE)"},
      {"unknown bit", Bytes("\x06..."), 9, false, "!mask 0x06 (zlib + unknown 0x04) is not"},
      {"no method", Bytes(std::string("\0...", 4)), 9, false, "!mask 0x00 (none) is not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto out = DecompressSector(c.in, c.out_size, c.imploded);
    if (c.expect.starts_with('!')) {
      ASSERT_FALSE(out.ok());
      EXPECT_NE(out.message().find(c.expect.substr(1)), std::string::npos) << out.message();
    } else {
      ASSERT_TRUE(out.ok()) << out.message();
      EXPECT_EQ(*out, Bytes(c.expect));
    }
  }
}

TEST(CompressSectorZlib, IsDeterministicAndMasked) {
  const std::vector<std::byte> text = Bytes(std::string(4096, 'q'));
  const std::vector<std::byte> once = *CompressSectorZlib(text);
  EXPECT_EQ(once, *CompressSectorZlib(text));
  EXPECT_EQ(once.front(), kMaskZlib);
  EXPECT_LT(once.size(), 64u);
}

}  // namespace
}  // namespace veltrane::mpq
