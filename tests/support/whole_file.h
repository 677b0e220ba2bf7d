#pragma once
// Whole-file reads and writes for every test, native and under Wine.

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace veltrane::test_support {

// The file's content as `Bytes` (a std::string or a vector of bytes); empty when it can't
// be read.
template <class Bytes = std::string>
Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if constexpr (std::is_same_v<Bytes, std::string>) {
    return text;
  } else {
    Bytes out(text.size());
    if (!text.empty()) std::memcpy(out.data(), text.data(), text.size());
    return out;
  }
}

// Replaces the file's content; throws when it can't, which fails the test that called it.
inline void WriteRaw(const std::filesystem::path& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}
template <class Bytes>
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  WriteRaw(path, bytes.data(), bytes.size());
}
inline void WriteBytes(const std::filesystem::path& path, const char* text) {
  WriteRaw(path, text, std::strlen(text));
}

// Whether `needle` (not empty) occurs anywhere in `haystack`, both byte containers.
template <class Bytes>
bool Holds(const Bytes& haystack, const Bytes& needle) {
  return !needle.empty() && std::search(haystack.begin(), haystack.end(),
                                        std::boyer_moore_horspool_searcher(
                                            needle.begin(), needle.end())) != haystack.end();
}

}  // namespace veltrane::test_support
