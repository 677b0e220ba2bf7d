// Makes maps the way real ones look, and checks a protected copy against its map, with
// StormLib as the independent reader.
//   e2e_maps make <map> <with-wtg: 0|1>
//   e2e_maps check <map> <protected copy>
#include <StormLib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/storm_build.h"

namespace {

using veltrane::test_support::StormArchive;
using veltrane::test_support::StormMember;
using Bytes = std::vector<char>;

std::vector<std::byte> Text(const std::string& text, int repeat) {
  std::vector<std::byte> out;
  for (int i = 0; i < repeat; ++i) {
    for (char c : text) out.push_back(static_cast<std::byte>(c));
  }
  return out;
}

std::vector<std::byte> Noise(size_t size, unsigned seed) {
  std::vector<std::byte> out(size);
  for (auto& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<std::byte>(seed >> 16);
  }
  return out;
}

std::vector<StormMember> MapMembers(bool with_wtg) {
  std::vector<StormMember> members = {
      {"war3map.w3i", Text("map info ", 300), MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB},
      {"war3map.j", Text("function main takes nothing returns nothing\r\n", 400), MPQ_FILE_COMPRESS,
       MPQ_COMPRESSION_PKWARE},
      {"war3map.w3e", Noise(20000, 7), MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB},
      {"war3mapMap.blp", Text("minimap ", 900), MPQ_FILE_IMPLODE, 0},
      {"war3map.wts", Text("STRING 1\r\n{\r\nName\r\n}\r\n", 200),
       MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY, MPQ_COMPRESSION_ZLIB},
      {"Units\\war3mapUnits.doo", Noise(3000, 11), MPQ_FILE_COMPRESS, MPQ_COMPRESSION_PKWARE},
  };
  if (with_wtg) {
    members.push_back(
        {"war3map.wtg", Text("WTG!trigger data ", 500), MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB});
  }
  return members;
}

int Make(const std::string& path, bool with_wtg) {
  const std::string plain = path + ".plain";
  StormArchive recipe;
  recipe.members = MapMembers(with_wtg);
  // (listfile) and (attributes) compressed and encrypted with the position-adjusted key.
  recipe.internal_flags = MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY;
  recipe.attribute_flags = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5;
  recipe.max_files = 32;
  const std::string error = veltrane::test_support::BuildStormArchive(plain, recipe);
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  // A map starts with a 512-byte header of its own; the archive follows it.
  std::ifstream in(plain, std::ios::binary);
  const Bytes body((std::istreambuf_iterator<char>(in)), {});
  Bytes preamble(512, '\0');
  std::memcpy(preamble.data(), "HM3W\0\0\0\0Test map", 16);
  std::ofstream out(path, std::ios::binary);
  out.write(preamble.data(), static_cast<std::streamsize>(preamble.size()));
  out.write(body.data(), static_cast<std::streamsize>(body.size()));
  out.close();
  std::filesystem::remove(plain);
  return out ? 0 : 1;
}

std::map<std::string, Bytes> ReadAll(const std::string& path, bool& ok) {
  std::map<std::string, Bytes> members;
  HANDLE archive = nullptr;
  ok = SFileOpenArchive(path.c_str(), 0, STREAM_FLAG_READ_ONLY, &archive);
  if (!ok) return members;
  SFILE_FIND_DATA found;
  HANDLE search = SFileFindFirstFile(archive, "*", &found, nullptr);
  for (bool more = search != nullptr; more; more = SFileFindNextFile(search, &found)) {
    HANDLE file = nullptr;
    Bytes content(found.dwFileSize);
    DWORD read = 0;
    if (!SFileOpenFileEx(archive, found.cFileName, 0, &file) ||
        (!content.empty() &&
         !SFileReadFile(file, content.data(), found.dwFileSize, &read, nullptr)) ||
        read != content.size()) {
      std::fprintf(stderr, "%s: cannot read %s\n", path.c_str(), found.cFileName);
      ok = false;
    }
    if (file != nullptr) SFileCloseFile(file);
    const DWORD verified = SFileVerifyFile(archive, found.cFileName, SFILE_VERIFY_ALL);
    if (verified & VERIFY_FILE_ERROR_MASK) {
      std::fprintf(stderr, "%s: %s fails verification (0x%x)\n", path.c_str(), found.cFileName,
                   verified);
      ok = false;
    }
    members[found.cFileName] = std::move(content);
  }
  if (search != nullptr) SFileFindClose(search);
  SFileCloseArchive(archive);
  return members;
}

int Check(const std::string& map_path, const std::string& result_path) {
  bool map_ok = false;
  bool result_ok = false;
  auto map = ReadAll(map_path, map_ok);
  auto result = ReadAll(result_path, result_ok);
  if (!map_ok || !result_ok) return 1;
  int failures = 0;
  auto fail = [&failures](const std::string& what) {
    std::fprintf(stderr, "check: %s\n", what.c_str());
    ++failures;
  };
  const auto wtg = result.find("war3map.wtg");
  if (wtg == result.end())
    fail("war3map.wtg is missing from the protected copy");
  else if (!wtg->second.empty())
    fail("war3map.wtg is not empty: " + std::to_string(wtg->second.size()) + " bytes");
  for (const auto& [name, content] : map) {
    if (name == "war3map.wtg" || name == "(listfile)" || name == "(attributes)") continue;
    const auto copy = result.find(name);
    if (copy == result.end())
      fail(name + " is missing from the protected copy");
    else if (copy->second != content)
      fail(name + " differs from the map's");
  }
  for (const auto& [name, content] : result) {
    if (!map.count(name) && name != "war3map.wtg") fail("unexpected member " + name);
  }
  if (failures == 0) std::printf("ok: %zu members checked\n", result.size());
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0)
    return Make(argv[2], std::strcmp(argv[3], "1") == 0);
  if (argc == 4 && std::strcmp(argv[1], "check") == 0) return Check(argv[2], argv[3]);
  std::fprintf(stderr, "usage: e2e_maps make <map> <with-wtg 0|1> | check <map> <copy>\n");
  return 2;
}
