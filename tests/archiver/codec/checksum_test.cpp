#include <gtest/gtest.h>

#include <string>

#include "archiver/codec/crc32.h"
#include "archiver/codec/md5.h"
#include "test_bytes.h"

namespace veltrane::mpq {
namespace {

using test::Bytes;

struct Md5Case {
  std::string input;
  const char* digest;
};

TEST(Md5, MatchesReferenceDigests) {
  const Md5Case cases[] = {
      // RFC 1321 test suite.
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      // Lengths around the padding boundaries: the length field fits in the last block
      // only up to 55 bytes of tail.
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(63, 'a'), "b06521f39153d618550606be297466d5"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(65, 'a'), "c743a45e0d2e6a95cb859adae0248435"},
      {std::string(1000, 'a'), "cabe45dcc9ae5b66ba86600cca6b8ba8"},
  };
  for (const Md5Case& c : cases) {
    EXPECT_EQ(test::Hex(Md5(Bytes(c.input))), c.digest) << "length " << c.input.size();
  }
}

TEST(Checksums, MatchZlibCheckValues) {
  EXPECT_EQ(Crc32(Bytes("123456789")), 0xcbf43926u);
  EXPECT_EQ(Crc32({}), 0u);
}

}  // namespace
}  // namespace veltrane::mpq
