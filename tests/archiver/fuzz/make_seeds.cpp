// Writes the starting corpora of the fuzz targets from StormLib- and libbz2-made data:
//   make_seeds <corpus folder>  ->  <folder>/codec/*, <folder>/bzip2/*, <folder>/archive/*
#include <StormLib.h>
#include <bzlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "../codec/storm_oracle.h"
#include "archiver/codec/compression.h"

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

namespace {

Bytes Text(std::size_t size) {
  const std::string words = "call SetUnitState(u, UNIT_STATE_LIFE, 100.0)\r\nendif\r\n";
  Bytes out;
  for (std::size_t i = 0; i < size; ++i)
    out.push_back(std::byte(words[(i * 7 + i / 13) % words.size()]));
  return out;
}

void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), {});
  return Bytes(reinterpret_cast<std::byte*>(chars.data()),
               reinterpret_cast<std::byte*>(chars.data()) + chars.size());
}

// Codec input: flags, expected size (16-bit little endian), sector.
void CodecSeed(const fs::path& path, std::uint8_t flags, std::size_t size, const Bytes& sector) {
  Bytes out = {std::byte{flags}, std::byte(size & 0xFF), std::byte(size >> 8)};
  out.insert(out.end(), sector.begin(), sector.end());
  Write(path, out);
}

// A sector as StormLib's SCompCompress packs `data` with `mask`, Huffman table `type` and
// ADPCM level `level`.
Bytes Packed(const Bytes& data, unsigned mask, int type, int level) {
  Bytes out(data.size());
  int size = static_cast<int>(out.size());
  Bytes in = data;
  SCompCompress(out.data(), &size, in.data(), static_cast<int>(in.size()), mask, type, level);
  out.resize(size);
  return out;
}

// Sound-like samples, and the sectors of every Huffman table and ADPCM kind made of them.
void WaveSeeds(const fs::path& dir) {
  Bytes wave;
  for (int i = 0; i < 1500; ++i) {
    const auto sample = static_cast<std::uint16_t>(9000 * std::sin(i / 7.0) + (i % 13) * 40);
    wave.insert(wave.end(), {std::byte(sample & 0xFF), std::byte(sample >> 8)});
  }
  const Bytes codes = Packed(wave, 0x40, 0, 0);  // ADPCM's output, what tables 2 to 8 suit
  for (int type : {0, 1, 7}) {
    const Bytes data = type == 7 ? Bytes(codes.begin() + 1, codes.end()) : Text(600);
    CodecSeed(dir / ("huffman_" + std::to_string(type)), 0, data.size(),
              Packed(data, 0x01, type, 0));
  }
  for (unsigned mask : {0x40u, 0x80u, 0x41u, 0x81u}) {
    CodecSeed(dir / ("adpcm_" + std::to_string(mask)), 0, wave.size(), Packed(wave, mask, 0, 3));
  }
  CodecSeed(dir / "huffman_zlib", 0, 2000, Packed(Text(2000), 0x03, 0, 0));
}

void CodecSeeds(const fs::path& dir) {
  for (unsigned mode : {0u, 1u}) {
    for (unsigned dict : {1024u, 2048u, 4096u}) {
      const Bytes data = Text(dict + 300);
      const auto name = "implode_" + std::to_string(mode) + "_" + std::to_string(dict);
      CodecSeed(dir / name, 1, data.size(), veltrane::mpq::test::StormImplode(data, mode, dict));
    }
  }
  const Bytes data = Text(1500);
  Bytes masked = veltrane::mpq::test::StormImplode(data, 0, 2048);
  masked.insert(masked.begin(), veltrane::mpq::kMaskPkware);
  CodecSeed(dir / "pkware_mask", 0, data.size(), masked);
  CodecSeed(dir / "zlib_mask", 2, data.size(), *veltrane::mpq::CompressSectorZlib(data));
  CodecSeed(dir / "stored", 2, 16, Text(16));
  WaveSeeds(dir);
}

Bytes Bzip2(const Bytes& data, int level) {
  Bytes out(data.size() + data.size() / 50 + 1024);
  auto size = static_cast<unsigned>(out.size());
  Bytes in = data;
  in.push_back(std::byte{0});  // libbz2 refuses a null source
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                               reinterpret_cast<char*>(in.data()),
                               static_cast<unsigned>(data.size()), level, 0, 0) != BZ_OK) {
    std::cerr << "libbz2 could not compress " << data.size() << " bytes\n";
  }
  out.resize(size);
  return out;
}

// bzip2 input: expected size (24-bit little endian), stream.
void Bzip2Seeds(const fs::path& dir, const fs::path& codec_dir) {
  const auto seed = [&](const char* name, const Bytes& data, int level) {
    Bytes out = {std::byte(data.size() & 0xFF), std::byte((data.size() >> 8) & 0xFF),
                 std::byte(data.size() >> 16)};
    const Bytes stream = Bzip2(data, level);
    out.insert(out.end(), stream.begin(), stream.end());
    Write(dir / name, out);
  };
  Bytes runs;
  for (std::size_t i = 0; runs.size() < 20000; ++i) runs.insert(runs.end(), i % 700, std::byte(i));
  seed("empty", {}, 9);
  seed("text", Text(1500), 9);
  seed("runs", runs, 9);
  seed("three_blocks", Text(250'000), 1);
  Bytes masked = Bzip2(Text(1500), 9);
  masked.insert(masked.begin(), veltrane::mpq::kMaskBzip2);
  CodecSeed(codec_dir / "bzip2_mask", 0, 1500, masked);
}

struct Member {
  const char* name;
  std::size_t size;
  DWORD flags, compression;
};

void ArchiveSeed(const fs::path& path, DWORD max_files, const std::vector<Member>& members,
                 std::size_t prefix = 0) {
  const fs::path temp = fs::temp_directory_path() / "veltrane_seed.mpq";
  const fs::path source = fs::temp_directory_path() / "veltrane_seed.src";
  fs::remove(temp);
  HANDLE mpq = nullptr;
  SFileCreateArchive(temp.c_str(), MPQ_CREATE_LISTFILE | MPQ_CREATE_ATTRIBUTES, max_files, &mpq);
  for (const Member& m : members) {
    Write(source, Text(m.size));
    if (!SFileAddFileEx(mpq, source.c_str(), m.name, m.flags, m.compression, m.compression)) {
      std::cerr << "could not add " << m.name << "\n";
    }
  }
  SFileCloseArchive(mpq);
  // Maps keep a 512-byte header of their own before the archive.
  Bytes bytes(prefix, std::byte{0});
  const Bytes archive = ReadAll(temp);
  bytes.insert(bytes.end(), archive.begin(), archive.end());
  Write(path, bytes);
}

void ArchiveSeeds(const fs::path& dir) {
  const DWORD zlib = MPQ_FILE_COMPRESS, z = MPQ_COMPRESSION_ZLIB, pk = MPQ_COMPRESSION_PKWARE;
  const std::vector<Member> map = {
      {"war3map.wtg", 300, zlib, z},
      {"war3map.j", 5000, zlib, pk},
      {"war3map.w3i", 200, MPQ_FILE_IMPLODE, 0},
      {"war3map.w3e", 900, zlib | MPQ_FILE_ENCRYPTED, z},
      {"war3map.doo", 700, zlib | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY, z},
      {"war3map.shd", 600, zlib | MPQ_FILE_SINGLE_UNIT, z},
      {"war3map.mmp", 5000, zlib | MPQ_FILE_SECTOR_CRC, z},
      {"war3map.wts", 40, 0, 0},
  };
  ArchiveSeed(dir / "map", 16, map);
  ArchiveSeed(dir / "map_with_prefix", 16, map, 512);
  ArchiveSeed(dir / "no_wtg", 8, {{"war3map.j", 100, zlib, z}});
  ArchiveSeed(dir / "full_table", 4, {{"a.txt", 10, zlib, z}, {"b.txt", 10, zlib, z}});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seeds <corpus folder>\n";
    return 2;
  }
  const fs::path root(argv[1]);
  fs::create_directories(root / "codec");
  fs::create_directories(root / "archive");
  fs::create_directories(root / "bzip2");
  CodecSeeds(root / "codec");
  Bzip2Seeds(root / "bzip2", root / "codec");
  ArchiveSeeds(root / "archive");
  return 0;
}
