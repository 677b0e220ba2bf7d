#pragma once
// The rows of the update table (update_test.cpp): archives of every shape mpqadd has to
// handle, each with the member to store in it.

#include <StormLib.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "storm_fixture.h"

namespace veltrane::mpq::test {

inline constexpr std::uint32_t kZlib = MPQ_COMPRESSION_ZLIB;
inline constexpr std::uint32_t kPkware = MPQ_COMPRESSION_PKWARE;

// Members of every stored form, as a map holds them.
std::vector<MemberRecipe> MixedMembers();

// A row of the update table: an archive, a change to it, and the member to store.
struct UpdateCase {
  std::string label;
  ArchiveRecipe recipe;
  std::string name;  // member to store
  Bytes content;
  std::size_t preamble = 0;
  std::function<void(Bytes&, std::size_t header)> damage;  // applied to the fresh archive
  std::function<void(const std::filesystem::path&)> edit;  // then applied to its tables
  std::vector<MemberRecipe> also;  // further names that must read back as given
  std::string error;               // when set: the run must fail with this in its message
  bool made_listfile = false;      // a (listfile) made by renaming a member
  bool made_attributes = false;    // an (attributes) made by renaming a member
  Bytes kept;                      // bytes after the archive that must stay in the file
};

std::vector<UpdateCase> UpdateCases();

// Names the row in test output.
void PrintTo(const UpdateCase& c, std::ostream* out);

}  // namespace veltrane::mpq::test
