// Helpers for index tests that look at or tamper with an index file's raw
// bytes, and build record blocks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "index/index_format.h"

namespace quindelo::test {

inline std::vector<std::uint8_t> ReadRaw(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteRaw(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good());
}

inline std::uint32_t RawU32(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  EXPECT_LE(offset + 4, bytes.size());
  return offset + 4 <= bytes.size() ? index_format::GetU32(bytes.data() + offset) : 0;
}
inline std::uint16_t RawU16(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  EXPECT_LE(offset + 2, bytes.size());
  return offset + 2 <= bytes.size() ? index_format::GetU16(bytes.data() + offset) : 0;
}

// Overwrites bytes at offset in the file (the file keeps its size unless the
// patch reaches past its end).
inline void PatchRawU32(const std::string& path, std::size_t offset, std::uint32_t value) {
  auto bytes = ReadRaw(path);
  ASSERT_LE(offset + 4, bytes.size());
  index_format::PutU32(bytes.data() + offset, value);
  WriteRaw(path, bytes);
}
inline void PatchRawU16(const std::string& path, std::size_t offset, std::uint16_t value) {
  auto bytes = ReadRaw(path);
  ASSERT_LE(offset + 2, bytes.size());
  index_format::PutU16(bytes.data() + offset, value);
  WriteRaw(path, bytes);
}

inline std::uint64_t FileSize(const std::string& path) {
  return std::filesystem::file_size(path);
}

// A record block of the given id, kind and length whose body bytes are
// fill, fill + 1, ... (so that moved or cut records show), padded to 8.
inline std::vector<std::uint8_t> MakeBlock(std::uint16_t id, std::uint32_t length,
                                           std::uint8_t fill = 0x40,
                                           std::uint16_t kind = index_format::kKindFolderRecord) {
  std::vector<std::uint8_t> block(index_format::Round8(length), 0);
  index_format::EncodeBlockHeader(block.data(), {length, id, kind});
  for (std::uint32_t i = 8; i < length; ++i) block[i] = static_cast<std::uint8_t>(fill + i);
  return block;
}

}  // namespace quindelo::test
