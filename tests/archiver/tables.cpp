#include "tables.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "archiver/byte_io.h"
#include "storm_fixture.h"

namespace veltrane::mpq::test {

std::uint32_t GetU32(const std::vector<std::byte>& bytes, std::size_t offset) {
  (void)bytes.at(offset + 3);  // throws when the word doesn't lie inside
  return LoadLe32(&bytes[offset]);
}

void SetU32(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value) {
  (void)bytes.at(offset + 3);
  StoreLe(&bytes[offset], value, 4);
}

void EditHeader(std::vector<std::byte>& bytes, std::size_t offset,
                const std::function<void(Header&)>& edit) {
  HeaderBytes stored;
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), kHeaderSize, stored.begin());
  Header header = DecodeHeader(stored);
  edit(header);
  stored = EncodeHeader(header);
  std::copy(stored.begin(), stored.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

Archive LoadTables(const std::filesystem::path& path) {
  const Bytes bytes = ReadBytes(path);
  auto archive = ParseArchive(bytes, path.string());
  EXPECT_TRUE(archive.ok()) << (archive ? "" : archive.message());
  return archive ? *archive : Archive{};
}

void EditTables(const std::filesystem::path& path, const std::function<void(Archive&)>& edit) {
  Bytes bytes = ReadBytes(path);
  auto archive = ParseArchive(bytes, path.string());
  ASSERT_TRUE(archive.ok()) << archive.message();
  edit(*archive);
  const auto hashes = EncodeHashTable(*archive);
  const auto blocks = EncodeBlockTable(*archive);
  std::copy(hashes.begin(), hashes.end(),
            bytes.begin() + archive->Absolute(archive->header.hash_position));
  std::copy(blocks.begin(), blocks.end(),
            bytes.begin() + archive->Absolute(archive->header.block_position));
  WriteBytes(path, bytes);
}

}  // namespace veltrane::mpq::test
