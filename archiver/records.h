#pragma once
// The stored records of the format (hash and block entries, the header after its signature)
// as lists of their fields, and the one encoder and decoder that walks such a list: each
// field is stored little-endian, as wide as its type, right after the one before.

#include <cstddef>
#include <tuple>
#include <type_traits>

#include "archiver/byte_io.h"
#include "archiver/format.h"
#include "archiver/header.h"

namespace veltrane::mpq {

template <class Record>
struct StoredFields;

template <>
struct StoredFields<HashEntry> {
  static constexpr auto kList =
      std::tuple{&HashEntry::name_a, &HashEntry::name_b, &HashEntry::locale, &HashEntry::platform,
                 &HashEntry::block};
};

template <>
struct StoredFields<BlockEntry> {
  static constexpr auto kList = std::tuple{&BlockEntry::position, &BlockEntry::packed_size,
                                           &BlockEntry::size, &BlockEntry::flags};
};

template <>
struct StoredFields<Header> {
  static constexpr auto kList =
      std::tuple{&Header::header_size,  &Header::archive_size,  &Header::format_version,
                 &Header::sector_shift, &Header::hash_position, &Header::block_position,
                 &Header::hash_count,   &Header::block_count};
};

// How many bytes a record takes when stored.
template <class Record>
constexpr std::size_t kStoredSize =
    std::apply([](auto... field) { return (sizeof(std::declval<Record>().*field) + ...); },
               StoredFields<Record>::kList);

static_assert(kStoredSize<HashEntry> == kEntrySize && kStoredSize<BlockEntry> == kEntrySize);
static_assert(kStoredSize<Header> + 4 == kHeaderSize);  // the signature comes first

// Stores `record`'s fields at `at`, which has room for kStoredSize<Record> bytes.
template <class Record>
void EncodeRecord(const Record& record, std::byte* at) {
  std::apply(
      [&](auto... field) {
        ((StoreLe(at, record.*field, sizeof(record.*field)), at += sizeof(record.*field)), ...);
      },
      StoredFields<Record>::kList);
}

// The record stored at `at`, which holds kStoredSize<Record> bytes.
template <class Record>
Record DecodeRecord(const std::byte* at) {
  Record record;
  std::apply(
      [&](auto... field) {
        ((record.*field = static_cast<std::remove_reference_t<decltype(record.*field)>>(
              LoadLe(at, sizeof(record.*field))),
          at += sizeof(record.*field)),
         ...);
      },
      StoredFields<Record>::kList);
  return record;
}

}  // namespace veltrane::mpq
