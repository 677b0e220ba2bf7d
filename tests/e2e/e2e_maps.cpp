// Makes maps the way real ones look, and checks a protected copy against its source, with
// StormLib as the independent reader.
//   e2e_maps make <map> <with-wtg: 0|1>
//   e2e_maps check <source map> <protected copy>
#include <StormLib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<char>;

struct Member {
  const char* name;
  DWORD flags;
  DWORD compression;
  Bytes content;
};

Bytes Text(const std::string& text, int repeat) {
  std::string out;
  for (int i = 0; i < repeat; ++i) out += text;
  return Bytes(out.begin(), out.end());
}

Bytes Noise(size_t size, unsigned seed) {
  Bytes out(size);
  for (auto& c : out) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return out;
}

std::vector<Member> MapMembers(bool with_wtg) {
  std::vector<Member> members = {
      {"war3map.w3i", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB, Text("map info ", 300)},
      {"war3map.j", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_PKWARE,
       Text("function main takes nothing returns nothing\r\n", 400)},
      {"war3map.w3e", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB, Noise(20000, 7)},
      {"war3mapMap.blp", MPQ_FILE_IMPLODE, 0, Text("minimap ", 900)},
      {"war3map.wts", MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY,
       MPQ_COMPRESSION_ZLIB, Text("STRING 1\r\n{\r\nName\r\n}\r\n", 200)},
      {"Units\\war3mapUnits.doo", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_PKWARE, Noise(3000, 11)},
  };
  if (with_wtg) {
    members.push_back(
        {"war3map.wtg", MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB, Text("WTG!trigger data ", 500)});
  }
  return members;
}

bool AddMember(HANDLE archive, const Member& member) {
  HANDLE file = nullptr;
  if (!SFileCreateFile(archive, member.name, 0, static_cast<DWORD>(member.content.size()), 0,
                       member.flags | MPQ_FILE_REPLACEEXISTING, &file)) {
    return false;
  }
  const bool written = SFileWriteFile(
      file, member.content.data(), static_cast<DWORD>(member.content.size()), member.compression);
  return SFileFinishFile(file) && written;
}

int Make(const std::string& path, bool with_wtg) {
  const std::string plain = path + ".plain";
  SFILE_CREATE_MPQ create{};
  create.cbSize = sizeof create;
  create.dwMpqVersion = MPQ_FORMAT_VERSION_1;
  // (listfile) and (attributes) compressed and encrypted with the position-adjusted key.
  create.dwFileFlags1 = MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY;
  create.dwFileFlags2 = MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY;
  create.dwAttrFlags = MPQ_ATTRIBUTE_CRC32 | MPQ_ATTRIBUTE_FILETIME | MPQ_ATTRIBUTE_MD5;
  create.dwSectorSize = 4096;
  create.dwMaxFileCount = 32;
  std::filesystem::remove(plain);
  HANDLE archive = nullptr;
  if (!SFileCreateArchive2(plain.c_str(), &create, &archive)) {
    std::fprintf(stderr, "cannot create %s: %u\n", plain.c_str(), GetLastError());
    return 1;
  }
  for (const Member& member : MapMembers(with_wtg)) {
    if (!AddMember(archive, member)) {
      std::fprintf(stderr, "cannot add %s: %u\n", member.name, GetLastError());
      return 1;
    }
  }
  if (!SFileCloseArchive(archive)) return 1;

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

int Check(const std::string& source_path, const std::string& result_path) {
  bool source_ok = false;
  bool result_ok = false;
  auto source = ReadAll(source_path, source_ok);
  auto result = ReadAll(result_path, result_ok);
  if (!source_ok || !result_ok) return 1;
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
  for (const auto& [name, content] : source) {
    if (name == "war3map.wtg" || name == "(listfile)" || name == "(attributes)") continue;
    const auto copy = result.find(name);
    if (copy == result.end())
      fail(name + " is missing from the protected copy");
    else if (copy->second != content)
      fail(name + " differs from the source's");
  }
  for (const auto& [name, content] : result) {
    if (!source.count(name) && name != "war3map.wtg") fail("unexpected member " + name);
  }
  if (failures == 0) std::printf("ok: %zu members checked\n", result.size());
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "make") == 0)
    return Make(argv[2], std::strcmp(argv[3], "1") == 0);
  if (argc == 4 && std::strcmp(argv[1], "check") == 0) return Check(argv[2], argv[3]);
  std::fprintf(stderr, "usage: e2e_maps make <map> <with-wtg 0|1> | check <source> <copy>\n");
  return 2;
}
