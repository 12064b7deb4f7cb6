// On-disk format of an index file: the constants, sizes and field offsets of
// the file header, block headers, table pages and records, with explicit
// little-endian encoders and decoders. Everything that knows a byte position
// inside an index file takes it from here.
//
// File layout: a 192-byte header at offset 0, then a gapless sequence of
// blocks up to the end offset, each starting at a multiple of 8 with an
// 8-byte block header (length, record id, kind). A block occupies
// Round8(length) bytes.
//
// Two variants share this layout and differ only in the width of record ids:
//
//   narrow (version 0x00010001): 16-bit ids, at most 60 table pages, so at
//     most 61,377 folders. Every drive that fits is stored in it, byte for
//     byte as it always was.
//   wide (version 0x00020001): 24-bit ids, for drives with more folders.
//     Up to 16,383 table pages (16,776,192 ids). Besides the version, it
//     changes exactly the places that hold a record id:
//       block header  bits 16-23 of the id in byte 7; the kind is byte 6
//                     alone (bytes 4-5 keep bits 0-15)
//       drive record  root folder id 4 bytes at offset 20 (narrow: 2 bytes
//                     and 2 reserved zero bytes)
//       folder record parent id 3 bytes at offset 12, name length at 15,
//                     name at 16, fixed length 17 (narrow: 2 bytes, 14, 15, 16)
//       folder entry  0xFF, child id 3 bytes, length, name (narrow: 2 bytes)
//     Table pages, offsets, lengths, stamps and names are as in the narrow
//     variant. Its own version number makes a reader that knows only the
//     narrow variant refuse the file (and rebuild) instead of misreading
//     3-byte ids as 2-byte ones. An index switches to it when its ids run
//     out: the records are copied, ids unchanged, into a wide file that
//     replaces the narrow one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quindelo::index_format {

// ---- File header ----------------------------------------------------------
inline constexpr std::uint32_t kHeaderSize = 192;
inline constexpr std::uint32_t kBannerOffset = 0;
inline constexpr std::uint32_t kBannerSize = 128;  // NUL-terminated, at most 127 bytes of text
inline constexpr std::uint32_t kMagicOffset = 128;
inline constexpr std::uint32_t kVersionOffset = 132;
inline constexpr std::uint32_t kEndOffsetOffset = 136;
inline constexpr std::uint32_t kLiveBytesOffset = 140;
inline constexpr std::uint32_t kOpenFlagOffset = 144;
inline constexpr std::uint32_t kDamagedFlagOffset = 146;
inline constexpr std::uint32_t kReservedOffset = 148;
inline constexpr std::uint32_t kReservedSize = 44;

inline constexpr std::uint32_t kMagic = 0x43218765;
inline constexpr std::uint32_t kVersion = 0x00010001;      // narrow variant
inline constexpr std::uint32_t kWideVersion = 0x00020001;  // wide variant
inline constexpr char kBanner[] =
    "Quindelo File\r\n"
    "Index of folder and file names; rebuilt automatically when damaged.\r\n";

static_assert(kReservedOffset + kReservedSize == kHeaderSize);
static_assert(sizeof(kBanner) <= kBannerSize, "banner and its NUL fit the field");

// ---- Blocks -----------------------------------------------------------------
inline constexpr std::uint32_t kBlockHeaderSize = 8;
inline constexpr std::uint32_t kBlockLengthOffset = 0;
inline constexpr std::uint32_t kBlockIdOffset = 4;
inline constexpr std::uint32_t kBlockKindOffset = 6;

inline constexpr std::uint16_t kKindFree = 0;
inline constexpr std::uint16_t kKindTablePage = 1;
inline constexpr std::uint16_t kKindDriveRecord = 2;
inline constexpr std::uint16_t kKindFolderRecord = 3;

// A record id. Narrow files hold 16 bits of it, wide files 24.
using RecordId = std::uint32_t;

// ---- Record table and table pages -------------------------------------------
inline constexpr std::uint32_t kEntriesPerPage = 1024;
inline constexpr std::uint32_t kPageDataSize = kEntriesPerPage * 4;               // 4096
inline constexpr std::uint32_t kPageLength = kBlockHeaderSize + kPageDataSize;    // 4104
inline constexpr std::uint32_t kMaxPages = 60;
inline constexpr std::uint32_t kMaxTableLength = kMaxPages * kEntriesPerPage;     // 61440
inline constexpr RecordId kLargestId = kMaxTableLength - 1;                       // 61439
inline constexpr std::uint32_t kWideMaxPages = 16383;
inline constexpr std::uint32_t kWideMaxTableLength = kWideMaxPages * kEntriesPerPage;  // 16776192
inline constexpr std::uint32_t kFirstBlockOffset = kHeaderSize;                  // page 0
inline constexpr std::uint32_t kNewFileSize = kHeaderSize + kPageLength;          // 4296

// Reserved record ids: 0 none, 1 and 2 table pages 0 and 1, 3 the drive
// record, every multiple of 1024 a table page from page 2 on.
inline constexpr RecordId kNoId = 0;
inline constexpr RecordId kPage0Id = 1;
inline constexpr RecordId kPage1Id = 2;
inline constexpr RecordId kDriveRecordId = 3;
inline constexpr RecordId kFirstFreshId = 4;

static_assert(kPageLength == 4104);
static_assert(kMaxTableLength == 61440);
static_assert(kNewFileSize == 4296);

// Record id of table page k.
constexpr std::uint32_t PageRecordId(std::uint32_t page) {
  return page == 0 ? kPage0Id : page == 1 ? kPage1Id : kEntriesPerPage * (page - 1);
}
static_assert(PageRecordId(2) == 1024 && PageRecordId(59) == 59392);
static_assert(PageRecordId(kWideMaxPages - 1) < (1u << 24));

// ---- Compaction ---------------------------------------------------------------
inline constexpr std::uint32_t kCompactMinEndOffset = 16384;
inline constexpr std::uint32_t kCompactLivePercent = 75;  // compact below this share

// ---- Sequential read window ---------------------------------------------------
inline constexpr std::uint32_t kReadWindowSize = 8192;

// ---- Drive record (kind 2, id 3) ------------------------------------------------
inline constexpr std::uint32_t kDriveRecordLength = 192;
inline constexpr std::uint32_t kDriveCreatedOffset = 8;
inline constexpr std::uint32_t kDriveLastRefreshOffset = 12;
inline constexpr std::uint32_t kDriveLastSavedOffset = 16;
inline constexpr std::uint32_t kDriveRootFolderOffset = 20;
inline constexpr std::uint32_t kDriveDescriptionOffset = 24;
inline constexpr std::uint32_t kDriveDescriptionSize = 128;
// The first 4 of the 40 bytes after the description identify the drive's
// root folder: a 32-bit hash (never 0) of the root's canonical native path,
// so that a letter mapped to another folder of the same volume does not
// reuse the index. 0 means not recorded (an index written without it),
// which the drive index does not accept. The other 36 bytes stay zero.
inline constexpr std::uint32_t kDriveRootIdOffset = 152;
inline constexpr std::uint32_t kDriveReservedOffset = 156;
inline constexpr std::uint32_t kDriveReservedSize = 36;
static_assert(kDriveDescriptionOffset + kDriveDescriptionSize == kDriveRootIdOffset);
static_assert(kDriveRootIdOffset + 4 == kDriveReservedOffset);
static_assert(kDriveReservedOffset + kDriveReservedSize == kDriveRecordLength);

// ---- Folder record (kind 3) -------------------------------------------------------
inline constexpr std::uint32_t kFolderStampOffset = 8;
inline constexpr std::uint32_t kFolderParentOffset = 12;
inline constexpr std::uint32_t kFolderNameLengthOffset = 14;
inline constexpr std::uint32_t kFolderNameOffset = 15;
// Length of a folder record = kFolderFixedLength + n + entry bytes (the
// terminating 0 of the entry list is counted in the 16).
inline constexpr std::uint32_t kFolderFixedLength = 16;
inline constexpr std::uint8_t kFolderEntryMarker = 0xFF;
inline constexpr std::uint8_t kEntryListEnd = 0;
inline constexpr std::size_t kMaxFileNameLength = 254;    // 255 would read as the marker
inline constexpr std::size_t kMaxFolderNameLength = 255;

// ---- Variant layouts ----------------------------------------------------------------
// Where the two variants place what depends on the width of record ids.
struct Layout {
  bool wide;
  std::uint32_t version;
  std::uint32_t max_pages;
  std::uint32_t max_table_length;
  std::uint32_t id_bytes;                  // parent and child ids in folder records
  std::uint32_t folder_parent_offset;      // 12
  std::uint32_t folder_name_length_offset;
  std::uint32_t folder_name_offset;
  std::uint32_t folder_fixed_length;       // 16 + n + entry bytes, or 17 + ...
  std::uint32_t folder_entry_header;       // marker, child id and length
};
inline constexpr Layout kNarrow{false, kVersion, kMaxPages, kMaxTableLength, 2,
                                kFolderParentOffset, kFolderNameLengthOffset,
                                kFolderNameOffset, kFolderFixedLength, 4};
inline constexpr Layout kWide{true, kWideVersion, kWideMaxPages, kWideMaxTableLength, 3,
                              12, 15, 16, 17, 5};

// A record id of id_bytes bytes, little-endian.
inline RecordId GetId(const std::uint8_t* p, const Layout& layout) {
  RecordId id = static_cast<RecordId>(p[0] | (p[1] << 8));
  if (layout.id_bytes == 3) id |= RecordId{p[2]} << 16;
  return id;
}
inline void PutId(std::uint8_t* p, RecordId id, const Layout& layout) {
  p[0] = static_cast<std::uint8_t>(id);
  p[1] = static_cast<std::uint8_t>(id >> 8);
  if (layout.id_bytes == 3) p[2] = static_cast<std::uint8_t>(id >> 16);
}

// ---- Size limits ------------------------------------------------------------------
// Offsets and lengths are 32-bit. The largest record length leaves room to
// round it up to a multiple of 8; the largest end offset is the last multiple
// of 8 a 32-bit offset holds, so a file grows no further than that.
inline constexpr std::uint32_t kMaxRecordLength = 0xFFFFFFF0u;
inline constexpr std::uint32_t kMaxEndOffset = 0xFFFFFFF8u;

// ---- Helpers --------------------------------------------------------------------
constexpr std::uint32_t Round8(std::uint32_t n) { return (n + 7u) & ~7u; }
constexpr std::uint64_t Round8Wide(std::uint64_t n) { return (n + 7u) & ~std::uint64_t{7}; }

inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The 8-byte header that starts every block.
struct BlockHeader {
  std::uint32_t length = 0;
  RecordId id = 0;
  std::uint16_t kind = 0;
};

inline BlockHeader DecodeBlockHeader(const std::uint8_t* p, const Layout& layout = kNarrow) {
  if (layout.wide) {
    return BlockHeader{GetU32(p + kBlockLengthOffset),
                       GetU16(p + kBlockIdOffset) | RecordId{p[kBlockKindOffset + 1]} << 16,
                       p[kBlockKindOffset]};
  }
  return BlockHeader{GetU32(p + kBlockLengthOffset), GetU16(p + kBlockIdOffset),
                     GetU16(p + kBlockKindOffset)};
}
inline void EncodeBlockHeader(std::uint8_t* p, const BlockHeader& h,
                              const Layout& layout = kNarrow) {
  PutU32(p + kBlockLengthOffset, h.length);
  PutU16(p + kBlockIdOffset, static_cast<std::uint16_t>(h.id));
  if (layout.wide) {
    p[kBlockKindOffset] = static_cast<std::uint8_t>(h.kind);
    p[kBlockKindOffset + 1] = static_cast<std::uint8_t>(h.id >> 16);
  } else {
    PutU16(p + kBlockKindOffset, h.kind);
  }
}

}  // namespace quindelo::index_format
