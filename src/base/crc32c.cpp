// CRC-32C in software: see crc32c.h.
#include "base/crc32c.h"

#include <array>

namespace quindelo {
namespace {

constexpr std::uint32_t kReflectedPolynomial = 0x82F63B78u;

// kTables[0] is the byte-at-a-time table; kTables[k][b] is the CRC of byte b
// followed by k zero bytes, so that eight bytes fold in one step.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (std::uint32_t b = 0; b < 256; ++b) {
    std::uint32_t crc = b;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1u) ? kReflectedPolynomial : 0u);
    t[0][b] = crc;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::uint32_t b = 0; b < 256; ++b)
      t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
  return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

std::uint32_t Crc32cExtend(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint32_t c = ~crc;
  while (size >= 8) {
    const std::uint32_t low = c ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                   std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24);
    c = kTables[7][low & 0xFFu] ^ kTables[6][(low >> 8) & 0xFFu] ^ kTables[5][(low >> 16) & 0xFFu] ^
        kTables[4][low >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^
        kTables[0][p[7]];
    p += 8;
    size -= 8;
  }
  while (size-- > 0) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFFu];
  return ~c;
}

}  // namespace quindelo
