#include "archiver/header.h"

#include <algorithm>
#include <vector>

#include "archiver/byte_io.h"

namespace veltrane::mpq {

HeaderBytes EncodeHeader(const Header& header) {
  std::vector<std::byte> out;
  out.reserve(kHeaderSize);
  PutU32(out, kHeaderSignature);
  PutU32(out, header.header_size);
  PutU32(out, header.archive_size);
  PutU16(out, header.format_version);
  PutU16(out, header.sector_shift);
  PutU32(out, header.hash_position);
  PutU32(out, header.block_position);
  PutU32(out, header.hash_count);
  PutU32(out, header.block_count);
  HeaderBytes stored;
  std::copy(out.begin(), out.end(), stored.begin());
  return stored;
}

Header DecodeHeader(std::span<const std::byte, kHeaderSize> stored) {
  ByteCursor cursor(stored);
  cursor.U32();  // signature
  Header header;
  header.header_size = cursor.U32();
  header.archive_size = cursor.U32();
  header.format_version = cursor.U16();
  header.sector_shift = cursor.U16();
  header.hash_position = cursor.U32();
  header.block_position = cursor.U32();
  header.hash_count = cursor.U32();
  header.block_count = cursor.U32();
  return header;
}

}  // namespace veltrane::mpq
