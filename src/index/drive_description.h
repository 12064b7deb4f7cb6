// The 128-byte drive description: which drive and volume an index belongs
// to. Stored unchanged inside the drive record of an index file, so its
// byte layout is fixed:
//   0   3  drive root text ("C:" and a NUL)
//   3  81  remote name, NUL-terminated
//  84  33  volume label, NUL-terminated
// 117   3  zero
// 120   4  drive type, little-endian
// 124   4  volume serial number, little-endian
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quindelo {

struct DriveDescription {
  static constexpr std::size_t kSize = 128;
  static constexpr std::size_t kRootOffset = 0, kRootSize = 3;
  static constexpr std::size_t kRemoteOffset = 3, kRemoteSize = 81;
  static constexpr std::size_t kLabelOffset = 84, kLabelSize = 33;
  static constexpr std::size_t kTypeOffset = 120;
  static constexpr std::size_t kSerialOffset = 124;

  std::array<std::uint8_t, kSize> bytes{};

  void Clear() { bytes.fill(0); }

  std::string root_text() const { return Text(kRootOffset, kRootSize); }
  std::string remote_name() const { return Text(kRemoteOffset, kRemoteSize); }
  std::string label() const { return Text(kLabelOffset, kLabelSize); }
  std::uint32_t type() const { return U32(kTypeOffset); }
  std::uint32_t serial() const { return U32(kSerialOffset); }

  // Setters cut the text so that the field keeps its terminating NUL.
  void set_root_text(std::string_view t) { SetText(kRootOffset, kRootSize, t); }
  void set_remote_name(std::string_view t) { SetText(kRemoteOffset, kRemoteSize, t); }
  void set_label(std::string_view t) { SetText(kLabelOffset, kLabelSize, t); }
  void set_type(std::uint32_t v) { SetU32(kTypeOffset, v); }
  void set_serial(std::uint32_t v) { SetU32(kSerialOffset, v); }

 private:
  std::string Text(std::size_t off, std::size_t size) const {
    std::size_t n = 0;
    while (n < size && bytes[off + n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(bytes.data() + off), n);
  }
  void SetText(std::size_t off, std::size_t size, std::string_view t) {
    std::memset(bytes.data() + off, 0, size);
    std::size_t n = t.size() < size - 1 ? t.size() : size - 1;
    if (n) std::memcpy(bytes.data() + off, t.data(), n);
  }
  std::uint32_t U32(std::size_t off) const {
    return std::uint32_t{bytes[off]} | std::uint32_t{bytes[off + 1]} << 8 |
           std::uint32_t{bytes[off + 2]} << 16 | std::uint32_t{bytes[off + 3]} << 24;
  }
  void SetU32(std::size_t off, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
};

}  // namespace quindelo
