// Writes a synthetic map archive with StormLib for the benchmark:
//   bench_make_archive <path> <total bytes> <members>
// Members: war3map.wtg (zlib), then stored members of incompressible bytes that fill the
// archive to about <total bytes>; (listfile) and (attributes) as StormLib writes them. The
// hash table is the smallest power of two above the member count.
#include <StormLib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/storm_build.h"

namespace {

using veltrane::test_support::StormMember;

std::vector<std::byte> Noise(std::size_t size, std::uint64_t seed) {
  std::vector<std::byte> out(size);
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::byte& c : out) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = static_cast<std::byte>(x >> 24);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_make_archive <path> <total bytes> <members>\n");
    return 2;
  }
  const std::uint64_t total = std::strtoull(argv[2], nullptr, 10);
  const std::uint32_t members = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  veltrane::test_support::StormArchive layout;
  layout.max_files = members + 8;  // room for the bookkeeping members beyond the count
  veltrane::test_support::StormBuilder builder(argv[1], layout);
  std::string triggers;
  while (triggers.size() < 20000) triggers += "trigger event condition action ";
  StormMember wtg{"war3map.wtg", {}, MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB};
  for (char c : triggers) wtg.content.push_back(static_cast<std::byte>(c));
  bool ok = builder.Add(wtg);
  const std::size_t each = static_cast<std::size_t>(total / members);
  for (std::uint32_t i = 1; ok && i < members; ++i) {
    char name[64];
    std::snprintf(name, sizeof(name), "units\\data%05u.bin", i);
    ok = builder.Add({name, Noise(each, i), 0, 0});
  }
  const std::string error = builder.Finish();
  if (!error.empty()) std::fprintf(stderr, "cannot fill %s: %s\n", argv[1], error.c_str());
  return error.empty() ? 0 : 1;
}
