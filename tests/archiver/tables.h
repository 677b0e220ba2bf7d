#pragma once
// Test helpers that edit an archive's tables in place with the library's own codec of them.

#include <filesystem>
#include <functional>

#include "archiver/archive.h"

namespace veltrane::mpq::test {

// Parses the archive at `path`, lets `edit` change the entries (not their counts), and
// writes both tables back where they were.
void EditTables(const std::filesystem::path& path, const std::function<void(Archive&)>& edit);

// The parsed tables of the archive at `path`; fails the test when it doesn't parse.
Archive LoadTables(const std::filesystem::path& path);

// Lets `edit` change the fields of the header at `offset` in `bytes`, with the library's
// own header codec.
void EditHeader(std::vector<std::byte>& bytes, std::size_t offset,
                const std::function<void(Header&)>& edit);

std::uint32_t GetU32(const std::vector<std::byte>& bytes, std::size_t offset);
void SetU32(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value);

}  // namespace veltrane::mpq::test
