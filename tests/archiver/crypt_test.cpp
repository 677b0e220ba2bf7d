// Known values of the format's hash: the table keys every archive reader agrees on.
#include <gtest/gtest.h>

#include "archiver/crypt.h"

namespace veltrane::mpq {
namespace {

TEST(Crypt, TableKeysMatchTheFormat) {
  EXPECT_EQ(HashTableKey(), 0xC3AF3770u);
  EXPECT_EQ(BlockTableKey(), 0xEC83B3A3u);
}

TEST(Crypt, NamesFoldCaseAndSlashes) {
  for (auto kind : {HashKind::kTableIndex, HashKind::kNameA, HashKind::kNameB}) {
    EXPECT_EQ(HashName("Scripts/War3map.J", kind), HashName("scripts\\war3map.j", kind));
    EXPECT_NE(HashName("war3map.j", kind), HashName("war3map.w3e", kind));
  }
}

TEST(Crypt, EncryptThenDecryptKeepsTheUnevenTail) {
  std::vector<std::byte> data(11);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::byte(i * 37);
  auto copy = data;
  Encrypt(copy, 0x12345678);
  EXPECT_NE(copy, data);
  EXPECT_EQ(copy[8], data[8]);  // bytes past the last whole word are never enciphered
  Decrypt(copy, 0x12345678);
  EXPECT_EQ(copy, data);
}

}  // namespace
}  // namespace veltrane::mpq
