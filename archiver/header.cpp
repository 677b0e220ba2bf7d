#include "archiver/header.h"

#include "archiver/byte_io.h"
#include "archiver/records.h"

namespace veltrane::mpq {

HeaderBytes EncodeHeader(const Header& header) {
  HeaderBytes stored;
  StoreLe(stored.data(), kHeaderSignature, 4);
  EncodeRecord(header, stored.data() + 4);
  return stored;
}

Header DecodeHeader(std::span<const std::byte, kHeaderSize> stored) {
  return DecodeRecord<Header>(stored.data() + 4);
}

}  // namespace veltrane::mpq
