#include "storm_oracle.h"

#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

// libstorm exports the PKWARE DCL implode entry point, whose callers choose the literal mode
// and dictionary size; StormLib.h does not declare it.
extern "C" unsigned int implode(unsigned int (*read_buf)(char*, unsigned int*, void*),
                                void (*write_buf)(char*, unsigned int*, void*), char* work_buf,
                                void* param, unsigned int* type, unsigned int* dsize);

namespace veltrane::mpq::test {
namespace {

std::vector<std::byte> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), {});
  std::vector<std::byte> out(chars.size());
  std::transform(chars.begin(), chars.end(), out.begin(), [](char c) { return std::byte(c); });
  return out;
}

std::uint32_t Le32(std::span<const std::byte> data, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | std::to_integer<std::uint32_t>(data[at + i]);
  return v;
}

struct Stored {
  std::uint64_t offset = 0;
  std::uint32_t flags = 0, sector_size = 0;
};

Stored AddMember(const std::filesystem::path& archive, const std::filesystem::path& source,
                 std::uint32_t flags, std::uint32_t compression) {
  Stored stored;
  HANDLE mpq = nullptr, file = nullptr;
  std::filesystem::remove(archive);
  EXPECT_TRUE(SFileCreateArchive(archive.c_str(), MPQ_CREATE_ARCHIVE_V1, 16, &mpq));
  EXPECT_TRUE(SFileAddFileEx(mpq, source.c_str(), "member", flags, compression, compression));
  EXPECT_TRUE(SFileOpenFileEx(mpq, "member", SFILE_OPEN_FROM_MPQ, &file));
  SFileGetFileInfo(file, SFileInfoByteOffset, &stored.offset, sizeof(stored.offset), nullptr);
  SFileGetFileInfo(file, SFileInfoFlags, &stored.flags, sizeof(stored.flags), nullptr);
  SFileGetFileInfo(mpq, SFileMpqSectorSize, &stored.sector_size, sizeof(stored.sector_size),
                   nullptr);
  SFileCloseFile(file);
  SFileCloseArchive(mpq);
  return stored;
}

}  // namespace

RawMember AddAndReadBack(const std::filesystem::path& archive, std::span<const std::byte> data,
                         std::uint32_t flags, std::uint32_t compression) {
  const auto source = archive.string() + ".src";
  std::ofstream(source, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  const Stored stored = AddMember(archive, source, flags, compression);
  const std::vector<std::byte> file = ReadFile(archive);

  // Compressed members start with a table of sector offsets relative to the member.
  RawMember member{stored.flags, {}};
  const std::size_t count = (data.size() + stored.sector_size - 1) / stored.sector_size;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t begin = stored.offset + Le32(file, stored.offset + 4 * i);
    const std::size_t end = stored.offset + Le32(file, stored.offset + 4 * (i + 1));
    const std::size_t size =
        std::min<std::size_t>(stored.sector_size, data.size() - i * stored.sector_size);
    member.sectors.push_back({{file.begin() + begin, file.begin() + end}, size});
  }
  return member;
}

namespace {

struct ImplodeIo {
  std::span<const std::byte> in;
  std::size_t taken = 0;
  std::vector<std::byte> out;
};

unsigned int ReadInput(char* buf, unsigned int* size, void* param) {
  auto* io = static_cast<ImplodeIo*>(param);
  const std::size_t n = std::min<std::size_t>(*size, io->in.size() - io->taken);
  if (n > 0) std::memcpy(buf, io->in.data() + io->taken, n);  // an empty span's data() is null
  io->taken += n;
  return static_cast<unsigned int>(n);
}

void WriteOutput(char* buf, unsigned int* size, void* param) {
  auto* io = static_cast<ImplodeIo*>(param);
  const auto* bytes = reinterpret_cast<const std::byte*>(buf);
  io->out.insert(io->out.end(), bytes, bytes + *size);
}

}  // namespace

std::vector<std::byte> StormImplode(std::span<const std::byte> data, unsigned mode,
                                    unsigned dictionary) {
  std::vector<char> work(1 << 17);  // larger than the library's work area
  ImplodeIo io{data, 0, {}};
  implode(ReadInput, WriteOutput, work.data(), &io, &mode, &dictionary);
  return io.out;
}

}  // namespace veltrane::mpq::test
