#pragma once
// Positioned reading of an archive's bytes: the archive file itself (ArchiveFile in file.h)
// or bytes already in memory. The reader asks only for the parts it needs.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "archiver/byte_io.h"
#include "common/result.h"

namespace veltrane::mpq {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The current size in bytes.
  virtual Result<std::uint64_t> Size() = 0;
  // Fills `out` with the bytes at `offset`. Callers check the range against Size() first,
  // so a range past the end is reported as a failure, never as a short read.
  virtual Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const std::byte> bytes) : bytes_(bytes) {}

  Result<std::uint64_t> Size() override { return std::uint64_t{bytes_.size()}; }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    std::span<const std::byte> slice;
    if (!SliceOf(bytes_, offset, out.size(), slice)) {
      return Fail("read of " + std::to_string(out.size()) + " bytes at offset " +
                  std::to_string(offset) + " is past the end");
    }
    std::copy(slice.begin(), slice.end(), out.begin());
    return {};
  }

 private:
  std::span<const std::byte> bytes_;
};

}  // namespace veltrane::mpq
