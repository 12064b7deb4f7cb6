// CRC-32C (Castagnoli polynomial 0x1EDC6F41, reflected 0x82F63B78), the
// checksum of the name index's file and of each folder record it describes.
// Computed in software, eight bytes a step (slicing-by-8), the same on every
// machine and byte order.
//
// Crc32c("123456789") is 0xE3069283. Extend(Crc32c(a), b) equals
// Crc32c(a followed by b).
//
// Thread-safety: pure functions over constant tables; any thread at any time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quindelo {

// The CRC-32C of crc's data continued with data[0, size).
std::uint32_t Crc32cExtend(std::uint32_t crc, const void* data, std::size_t size);

// The CRC-32C of data[0, size).
inline std::uint32_t Crc32c(const void* data, std::size_t size) {
  return Crc32cExtend(0, data, size);
}

}  // namespace quindelo
