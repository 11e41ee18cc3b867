// Constants of the Jet 4.0 file format shared by the readers and the writer.
#ifndef QUORVEL_JET_FORMAT_CONSTANTS_H_
#define QUORVEL_JET_FORMAT_CONSTANTS_H_

#include <cstddef>
#include <cstdint>

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

// Page 2 always holds the definition of the catalogue table MSysObjects.
inline constexpr uint32_t kCatalogPage = 2;

// The magic number found in table definitions, column descriptors and logical indexes.
inline constexpr uint32_t kTdefMagic = 0x659;

// Table types (TDEF offset 40).
inline constexpr uint8_t kUserTable = 0x4E;
inline constexpr uint8_t kSystemTable = 0x53;

// Column flags (column descriptor offset 15).
inline constexpr uint8_t kColumnFixed = 0x01;
inline constexpr uint8_t kColumnNullable = 0x02;
inline constexpr uint8_t kColumnAutoLong = 0x04;
inline constexpr uint8_t kColumnAutoGuid = 0x40;
inline constexpr uint8_t kColumnHyperlink = 0x80;
// Extra column flags (offset 16).
inline constexpr uint8_t kColumnCompressible = 0x01;

// Row-offset flags in a data page's slot table.
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowOverflow = 0x4000;

// Catalogue (MSysObjects) values.
inline constexpr int16_t kObjectTypeTable = 1;
inline constexpr uint32_t kSystemObjectFlags = 0x80000002;
inline constexpr int32_t kTablesContainerId = 0x0F000001;

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_CONSTANTS_H_
