// Writes a map-like archive with StormLib for the growth benchmark:
//   bench_make_map <path> <variant>
// A 512-byte map header, then an archive with the members a map has (script, terrain,
// doodads, strings, info, shadows, minimap, path map, regions, preview image, triggers)
// with sizes and compressions drawn from the variant number, some imported models, and
// (listfile) and (attributes) (CRC32, file time and MD5). The variant also picks the hash
// table's size, the sector size, and where war3map.wtg comes in the order of members.
#include <StormLib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/support/storm_build.h"

namespace {

using veltrane::test_support::StormMember;

// `size` bytes of which about `noise` in 256 are random and the rest runs of a few values:
// text and tables compress well, terrain and images less, sounds hardly.
std::vector<std::byte> Content(std::size_t size, unsigned noise, std::mt19937& random) {
  static const char kWords[] = "function trigger unit event call set local endif return ";
  std::vector<std::byte> out(size);
  for (std::size_t i = 0; i < size; ++i) {
    const bool random_byte = random() % 256 < noise;
    out[i] = random_byte ? std::byte(random() & 0xFF) : std::byte(kWords[(i / 3) % 56]);
  }
  return out;
}

struct Kind {
  const char* name;
  std::size_t least, most;  // size range in bytes
  unsigned noise;
  std::uint32_t flags, compression;
};

constexpr std::uint32_t kZlib = MPQ_COMPRESSION_ZLIB;
constexpr std::uint32_t kCompress = MPQ_FILE_COMPRESS;

const Kind kKinds[] = {
    {"war3map.j", 20000, 400000, 8, kCompress, kZlib},
    {"war3map.w3e", 30000, 600000, 90, kCompress, kZlib},
    {"war3map.doo", 5000, 200000, 60, kCompress, kZlib},
    {"war3map.wts", 2000, 100000, 6, kCompress, kZlib},
    {"war3map.w3i", 300, 2000, 30, kCompress, kZlib},
    {"war3map.shd", 20000, 300000, 4, kCompress, kZlib},
    {"war3map.mmp", 100, 2000, 40, kCompress, kZlib},
    {"war3map.wpm", 10000, 200000, 20, kCompress, MPQ_COMPRESSION_PKWARE},
    {"war3map.w3r", 100, 5000, 40, kCompress, kZlib},
    {"war3map.w3c", 50, 500, 40, kCompress, kZlib},
    {"war3map.w3u", 500, 20000, 30, kCompress, kZlib},
    {"war3mapMap.blp", 20000, 100000, 200, kCompress, kZlib},
    {"war3mapPreview.tga", 0, 70000, 120, kCompress, kZlib},
    {"war3mapUnits.doo", 500, 20000, 40, kCompress, kZlib},
};

std::size_t Between(std::size_t least, std::size_t most, std::mt19937& random) {
  return least + random() % (most - least + 1);
}

std::vector<StormMember> Members(std::mt19937& random) {
  std::vector<StormMember> members;
  for (const Kind& kind : kKinds) {
    const std::size_t size = Between(kind.least, kind.most, random);
    if (size == 0) continue;
    members.push_back({kind.name, Content(size, kind.noise, random), kind.flags, kind.compression});
  }
  const std::size_t imports = Between(0, 40, random);
  for (std::size_t i = 0; i < imports; ++i) {
    const std::string name = "war3mapImported\\model" + std::to_string(i) + ".mdx";
    members.push_back({name, Content(Between(500, 60000, random), 150, random)});
  }
  // Maps with few triggers have a war3map.wtg of a few hundred bytes.
  const std::size_t triggers =
      random() % 3 == 0 ? Between(100, 1500, random) : Between(2000, 30000, random);
  StormMember wtg{"war3map.wtg", Content(triggers, 60 + random() % 120, random), kCompress, kZlib};
  const std::size_t at = Between(0, members.size(), random);
  members.insert(members.begin() + static_cast<std::ptrdiff_t>(at), std::move(wtg));
  return members;
}

bool PrependMapHeader(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> body((std::istreambuf_iterator<char>(in)), {});
  std::vector<char> file(512, '\0');
  std::copy_n("HM3W", 4, file.begin());
  file.insert(file.end(), body.begin(), body.end());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(file.data(), static_cast<std::streamsize>(file.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_make_map <path> <variant>\n");
    return 2;
  }
  std::mt19937 random(static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10)));
  veltrane::test_support::StormArchive layout;
  layout.members = Members(random);
  layout.max_files = static_cast<std::uint32_t>(layout.members.size() + Between(2, 200, random));
  layout.sector_size = random() % 4 == 0 ? 1024u : 4096u;
  // (listfile) and (attributes) as StormLib stores them by default, compressed, or plain.
  const std::uint32_t internal[] = {0xFFFFFFFF, MPQ_FILE_COMPRESS, MPQ_FILE_EXISTS};
  layout.internal_flags = internal[random() % 3];
  layout.attribute_flags = random() % 2 == 0 ? 0x7u : 0x3u;
  const std::string error = veltrane::test_support::BuildStormArchive(argv[1], layout);
  if (!error.empty()) {
    std::fprintf(stderr, "cannot make %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  if (!PrependMapHeader(argv[1])) {
    std::fprintf(stderr, "cannot write the map header into %s\n", argv[1]);
    return 1;
  }
  return 0;
}
