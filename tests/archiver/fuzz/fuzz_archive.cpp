// Fuzz entry point for the archive reader and the in-place update. Input: archive bytes.
// Reads the well-known members, then replaces war3map.wtg through an in-memory file; a
// successful update must leave an archive that parses and holds exactly the new content.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "archiver/archive.h"
#include "archiver/file.h"
#include "archiver/member.h"
#include "archiver/update.h"

namespace veltrane::mpq {
namespace {

// Writes past this size fail as a full disk would, which also drives the restore path.
constexpr std::uint64_t kMaxFileSize = 64u << 20;

class MemoryFile final : public ArchiveFile {
 public:
  explicit MemoryFile(std::span<const std::byte> bytes) : bytes_(bytes.begin(), bytes.end()) {}

  Result<std::uint64_t> Size() override { return std::uint64_t{bytes_.size()}; }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    return MemorySource(bytes_).ReadAt(offset, out);
  }
  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    if (offset > kMaxFileSize || data.size() > kMaxFileSize - offset) return Fail("disk full");
    if (offset + data.size() > bytes_.size()) bytes_.resize(offset + data.size());
    std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
    return {};
  }
  Result<void> Flush() override { return {}; }
  Result<void> Truncate(std::uint64_t size) override {
    if (size > kMaxFileSize) return Fail("disk full");
    bytes_.resize(size);
    return {};
  }
  const std::vector<std::byte>& bytes() const { return bytes_; }

 private:
  std::vector<std::byte> bytes_;
};

Result<std::vector<std::byte>> Read(std::span<const std::byte> file, const Archive& archive,
                                    const char* name) {
  const auto slot = FindMember(archive, name);
  if (!slot) return Fail("absent");
  const std::uint32_t block = archive.hashes[*slot].block;
  if (block >= archive.blocks.size()) return Fail("bad block");
  return ReadMember(file, archive, archive.blocks[block], name);
}

void ReadKnownMembers(std::span<const std::byte> file) {
  const auto archive = ParseArchive(file, "fuzz.mpq");
  if (!archive.ok()) return;
  for (const char* name : {"(listfile)", "(attributes)", "war3map.wtg", "war3map.j"}) {
    (void)Read(file, *archive, name);
  }
}

void UpdateAndCheck(std::span<const std::byte> file) {
  MemoryFile memory(file);
  const InputFile input{{std::byte{'W'}, std::byte{'T'}, std::byte{'G'}, std::byte{'!'}}, 1};
  if (!AddToArchive(memory, "war3map.wtg", input, "fuzz.mpq").ok()) {
    // A refused update leaves the file as it was.
    if (!std::equal(file.begin(), file.end(), memory.bytes().begin(), memory.bytes().end())) {
      std::abort();
    }
    return;
  }
  const auto archive = ParseArchive(memory.bytes(), "fuzz.mpq");
  if (!archive.ok()) std::abort();
  // Whichever entry of the name a lookup in any locale takes holds the new content.
  const auto slots = NameEntries(*archive, "war3map.wtg");
  if (slots.empty()) std::abort();
  for (const std::uint32_t slot : slots) {
    const auto& block = archive->blocks[archive->hashes[slot].block];
    const auto content = ReadMember(memory.bytes(), *archive, block, "war3map.wtg");
    if (!content.ok() || *content != input.content) std::abort();
  }
}

}  // namespace
}  // namespace veltrane::mpq

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto file = std::as_bytes(std::span(data, size));
  veltrane::mpq::ReadKnownMembers(file);
  veltrane::mpq::UpdateAndCheck(file);
  return 0;
}
