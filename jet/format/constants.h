// Constants of the Jet 4.0 file format, shared by the reader, the writer and the checker.
// Every number of the format is defined here once; the structure headers next to this one
// describe the layouts these numbers belong to. scripts/check-format-constants keeps other
// files from defining them again.
#ifndef QUORVEL_JET_FORMAT_CONSTANTS_H_
#define QUORVEL_JET_FORMAT_CONSTANTS_H_

#include <cstddef>
#include <cstdint>

#include "jet/jet.h"

namespace jet::format {

inline constexpr size_t kPageSize = 4096;

// Byte 0 of every page.
enum class PageType : uint8_t {
  kHeader = 0x00,
  kData = 0x01,
  kTableDefinition = 0x02,
  kIndexNode = 0x03,
  kIndexLeaf = 0x04,
  kUsageMap = 0x05,
};
inline constexpr uint8_t PageTypeByte(PageType type) { return static_cast<uint8_t>(type); }
// Byte 1 of data, definition, index and map pages.
inline constexpr uint8_t kPageMarker = 0x01;

// Page 1 holds the global usage map; page 2 always holds the definition of the catalogue
// table MSysObjects.
inline constexpr uint32_t kGlobalMapPage = 1;
inline constexpr uint32_t kCatalogPage = 2;
// Largest Jet 4.0 file: 2 GB of pages.
inline constexpr uint32_t kMaxDatabasePages = 524288;

// ---- Header page (page 0) ----
inline constexpr size_t kHeaderSignatureOffset = 4;
inline constexpr size_t kHeaderVersionOffset = 0x14;
inline constexpr size_t kHeaderMaskOffset = 0x18;
inline constexpr size_t kHeaderMaskLength = 128;
// The RC4 key of the header mask, as the four bytes it is used as.
inline constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
inline constexpr uint32_t kJet4Version = 1;
// Offsets of the fields inside the masked region (counted from the page start).
inline constexpr size_t kHeaderCodePageOffset = 0x3C;
inline constexpr size_t kHeaderDatabaseKeyOffset = 0x3E;
inline constexpr size_t kHeaderPasswordOffset = 0x42;
inline constexpr size_t kHeaderPasswordLength = 40;
inline constexpr size_t kHeaderEngineBuildOffset = 0x6A;
inline constexpr size_t kHeaderSortOrderOffset = 0x6E;
inline constexpr size_t kHeaderCreationDateOffset = 0x72;
inline constexpr size_t kHeaderConstantOffset = 0x98;
inline constexpr size_t kHeaderTrailerOffset = 0xE00;

// ---- Data pages (type 1) ----
inline constexpr size_t kDataPageFreeSpaceOffset = 2;
inline constexpr size_t kDataPageOwnerOffset = 4;
inline constexpr size_t kDataPageRowCountOffset = 12;
inline constexpr size_t kDataPageSlotsOffset = 14;
inline constexpr size_t kMaxRowsPerPage = 255;
// The owner field of a long-value page: "LVAL" read as a little-endian u32.
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;

// Row-offset flags in a data page's slot table.
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowOverflow = 0x4000;
inline constexpr uint16_t kRowFlags = kRowDeleted | kRowOverflow;

// A row pointer: row number in the low byte, page number in the upper three bytes.
inline constexpr uint32_t kRowPointerRowBits = 8;

// ---- Table definitions (type 2) ----
// The magic number found in table definitions, column descriptors and logical indexes, and
// the one that starts a real index block.
inline constexpr uint32_t kTdefMagic = 0x659;
inline constexpr uint32_t kRealIndexMagic = 0x783;

inline constexpr size_t kTdefFreeSpaceOffset = 2;
inline constexpr size_t kTdefNextPageOffset = 4;
inline constexpr size_t kTdefContinuationHeader = 8;
inline constexpr size_t kTdefLengthOffset = 8;
inline constexpr size_t kTdefMagicOffset = 12;
inline constexpr size_t kTdefRowCountOffset = 16;
inline constexpr size_t kTdefAutoNumberOffset = 20;
inline constexpr size_t kTdefAutoNumberFlagOffset = 24;
inline constexpr size_t kTdefTableTypeOffset = 40;
inline constexpr size_t kTdefMaxColumnsOffset = 41;
inline constexpr size_t kTdefVariableColumnsOffset = 43;
inline constexpr size_t kTdefColumnCountOffset = 45;
inline constexpr size_t kTdefLogicalIndexCountOffset = 47;
inline constexpr size_t kTdefRealIndexCountOffset = 51;
inline constexpr size_t kTdefOwnedMapOffset = 55;
inline constexpr size_t kTdefFreeMapOffset = 59;
inline constexpr size_t kTdefRealIndexCountersOffset = 63;
inline constexpr size_t kRealIndexCounterSize = 12;
inline constexpr size_t kColumnDescriptorSize = 25;
inline constexpr size_t kRealIndexSize = 52;
inline constexpr size_t kLogicalIndexSize = 28;
inline constexpr size_t kIndexColumnSlots = 10;
inline constexpr size_t kLongValueColumnEntrySize = 10;
// Ends the long-value column list; also marks an unused index column slot.
inline constexpr uint16_t kNoColumn = 0xFFFF;

// Table types (TDEF offset 40).
inline constexpr uint8_t kUserTable = 0x4E;
inline constexpr uint8_t kSystemTable = 0x53;

// Column flags (column descriptor offset 15).
inline constexpr uint8_t kColumnFixed = 0x01;
inline constexpr uint8_t kColumnNullable = 0x02;
inline constexpr uint8_t kColumnAutoLong = 0x04;
inline constexpr uint8_t kColumnSystem = 0x10;
inline constexpr uint8_t kColumnSid = 0x20;
inline constexpr uint8_t kColumnAutoGuid = 0x40;
inline constexpr uint8_t kColumnHyperlink = 0x80;
// Extra column flags (offset 16).
inline constexpr uint8_t kColumnCompressible = 0x01;
// Sort order of a text column's descriptor (offsets 11 and 12): General, LCID 1033.
inline constexpr uint8_t kGeneralSortOrder[2] = {0x09, 0x04};

// Real index flags (real index block offset 46).
inline constexpr uint8_t kIndexUnique = 0x01;
inline constexpr uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexRequired = 0x08;
inline constexpr uint8_t kIndexJet4 = 0x80;
// Logical index types (logical index block offset 23).
inline constexpr uint8_t kLogicalIndexPrimaryKey = 1;
inline constexpr uint8_t kLogicalIndexForeignKey = 2;
// Offsets 21 and 22 of a logical index that is not a foreign key.
inline constexpr uint8_t kLogicalIndexNoRelation = 0x04;
// Offset 13 of a logical index that is not a foreign key: no related index.
inline constexpr uint32_t kLogicalIndexNoRelatedIndex = 0xFFFFFFFF;

// The bytes a fixed-length type takes in a row's fixed area; 0 for variable-length types
// and for Yes/No, whose value is its bit in the null mask.
constexpr size_t FixedAreaSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte:
      return 1;
    case ColumnType::kInteger:
      return 2;
    case ColumnType::kLong:
    case ColumnType::kSingle:
      return 4;
    case ColumnType::kCurrency:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
      return 8;
    case ColumnType::kGuid:
      return 16;
    case ColumnType::kNumeric:
      return 17;
    default:
      return 0;
  }
}
// Whether a type is stored with the fixed-length flag.
constexpr bool IsFixedLengthType(ColumnType type) {
  return type == ColumnType::kBoolean || FixedAreaSize(type) != 0;
}
// The length a column descriptor records for a fixed-length type (Yes/No records 1);
// 0 for variable-length types.
constexpr uint16_t FixedColumnLength(ColumnType type) {
  return type == ColumnType::kBoolean ? 1 : static_cast<uint16_t>(FixedAreaSize(type));
}

// ---- Long values ----
inline constexpr size_t kLongValueHeaderSize = 12;
inline constexpr uint32_t kLongValueLengthMask = 0x3FFFFFFF;
// The form, in the top byte of the header's length word.
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSingle = 0x40;
inline constexpr uint8_t kLongValueChain = 0x00;
// A chain piece starts with the row pointer of the next piece.
inline constexpr size_t kLongValueChainLinkSize = 4;

// ---- Usage maps ----
inline constexpr uint8_t kInlineMap = 0;
inline constexpr uint8_t kReferenceMap = 1;
// A map row as Jet makes it: the type byte and 68 bytes (inline: u32 start page and a
// 64-byte bitmap; reference: 17 map page numbers).
inline constexpr size_t kUsageMapRowLength = 69;
inline constexpr size_t kInlineMapBitmapOffset = 5;
inline constexpr uint32_t kInlineMapPages = (kUsageMapRowLength - kInlineMapBitmapOffset) * 8;
inline constexpr uint32_t kReferenceMapSlots = (kUsageMapRowLength - 1) / 4;
// A map page (type 5): u8 5, u8 1, u16 0, then the bitmap.
inline constexpr size_t kMapPageBitmapOffset = 4;
inline constexpr uint32_t kPagesPerMapPage = (kPageSize - kMapPageBitmapOffset) * 8;

// ---- Index pages (types 3 and 4) ----
inline constexpr size_t kIndexPageFreeSpaceOffset = 2;
inline constexpr size_t kIndexPageTdefOffset = 4;
inline constexpr size_t kIndexPagePrevOffset = 12;
inline constexpr size_t kIndexPageNextOffset = 16;
inline constexpr size_t kIndexPageTailOffset = 20;
inline constexpr size_t kIndexPagePrefixOffset = 24;
inline constexpr size_t kIndexPageBitmapOffset = 27;
inline constexpr size_t kIndexEntriesStart = 0x1E0;
inline constexpr size_t kIndexEntryCapacity = kPageSize - kIndexEntriesStart;

// An index entry: a leaf entry is the key and the row pointer (u24 page big-endian, u8 row);
// a node entry is the last entry below a child and the child's page (u32 big-endian).
inline constexpr size_t kLeafEntryRowSize = 4;
inline constexpr size_t kNodeEntryChildSize = 4;

// ---- Index keys (General sort order, version 0) ----
// The first byte of each column's piece of a key.
inline constexpr uint8_t kKeyNullAscending = 0x00;
inline constexpr uint8_t kKeyNullDescending = 0xFF;
inline constexpr uint8_t kKeyValueAscending = 0x7F;
inline constexpr uint8_t kKeyValueDescending = 0x80;
// A Yes/No piece's value byte (ascending form).
inline constexpr uint8_t kKeyYes = 0x00;
inline constexpr uint8_t kKeyNo = 0xFF;
// The characters of a text that take part in its key.
inline constexpr size_t kMaxKeyCharacters = 255;
// A text piece (ascending form): sort codes, kTextKeyCodesEnd, then, when the text has
// ignorable characters, kTextKeyTrailerStart three times and per such character
// u16 big-endian (kTextKeyTrailerFlag | position code), kTextKeyTrailerMark and the
// character's code; kTextKeyEnd closes the piece. The position code of an ignorable
// character after N inline-coded ones is kTextKeyPositionBase + kTextKeyPositionStep * N.
inline constexpr uint8_t kTextKeyCodesEnd = 0x01;
inline constexpr uint8_t kTextKeyTrailerStart = 0x01;
inline constexpr uint8_t kTextKeyTrailerMark = 0x06;
inline constexpr uint16_t kTextKeyTrailerFlag = 0x8000;
inline constexpr uint16_t kTextKeyPositionBase = 7;
inline constexpr uint16_t kTextKeyPositionStep = 4;
inline constexpr uint8_t kTextKeyEnd = 0x00;
// A descending text piece is the ascending one with every byte inverted, then one more
// kTextKeyEnd.

// ---- Catalogue (MSysObjects) values ----
inline constexpr int16_t kObjectTypeTable = 1;
inline constexpr int16_t kObjectTypeDatabase = 2;
inline constexpr int16_t kObjectTypeContainer = 3;
// Either bit marks a system object; Jet writes the high one for the objects it makes.
inline constexpr uint32_t kSystemObjectFlags = 0x80000002;
inline constexpr uint32_t kSystemObjectFlag = 0x80000000;
// The root the containers hang from, the containers, the database object.
inline constexpr int32_t kRootContainerId = 0x0F000000;
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kDatabaseObjectId = 0x10000000;

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_CONSTANTS_H_
