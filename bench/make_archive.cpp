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

namespace {

std::vector<char> Noise(std::size_t size, std::uint64_t seed) {
  std::vector<char> out(size);
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char& c : out) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

bool AddMember(HANDLE mpq, const std::string& name, const std::vector<char>& data, DWORD flags,
               DWORD compression) {
  HANDLE file = nullptr;
  if (!SFileCreateFile(mpq, name.c_str(), 0, static_cast<DWORD>(data.size()), 0, flags, &file)) {
    return false;
  }
  const bool written =
      SFileWriteFile(file, data.data(), static_cast<DWORD>(data.size()), compression);
  return SFileFinishFile(file) && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_make_archive <path> <total bytes> <members>\n");
    return 2;
  }
  const std::uint64_t total = std::strtoull(argv[2], nullptr, 10);
  const std::uint32_t members = static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10));
  HANDLE mpq = nullptr;
  std::remove(argv[1]);
  // Room for the bookkeeping members beyond the requested count.
  if (!SFileCreateArchive(argv[1], MPQ_CREATE_LISTFILE | MPQ_CREATE_ATTRIBUTES, members + 8,
                          &mpq)) {
    std::fprintf(stderr, "cannot create %s\n", argv[1]);
    return 1;
  }
  std::string triggers;
  while (triggers.size() < 20000) triggers += "trigger event condition action ";
  bool ok = AddMember(mpq, "war3map.wtg", {triggers.begin(), triggers.end()}, MPQ_FILE_COMPRESS,
                      MPQ_COMPRESSION_ZLIB);
  const std::size_t each = static_cast<std::size_t>(total / members);
  for (std::uint32_t i = 1; ok && i < members; ++i) {
    char name[64];
    std::snprintf(name, sizeof(name), "units\\data%05u.bin", i);
    ok = AddMember(mpq, name, Noise(each, i), 0, 0);
  }
  ok = SFileCloseArchive(mpq) && ok;
  if (!ok) std::fprintf(stderr, "cannot fill %s\n", argv[1]);
  return ok ? 0 : 1;
}
