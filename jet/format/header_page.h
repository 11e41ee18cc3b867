// Page 0, the database header:
//   0x00  u8     page type (0)
//   0x04  char16 "Standard Jet DB\0" (ACCDB files say "Standard ACE DB")
//   0x14  u32    format version: 0 Jet 3, 1 Jet 4, 2 and up ACCDB
//   0x18  128    region masked with the RC4 keystream of the key C7 DA 39 6B; unmasked:
//     0x3C  u16  default code page
//     0x3E  u32  database key (non-zero: every other page is RC4-encoded)
//     0x42  40   database password (UCS-2, masked again with the creation date)
//     0x6E  u32  default sort order (LCID, 0, version)
//     0x72  f64  creation date (OLE date)
//   0x98  8      constant
//   0xE00        trailing pattern: 01 01, then 00 01 to the page end
#ifndef QUORVEL_JET_FORMAT_HEADER_PAGE_H_
#define QUORVEL_JET_FORMAT_HEADER_PAGE_H_

#include <array>
#include <cstdint>
#include <span>

#include "jet/format/constants.h"

namespace jet::format {

struct HeaderPage {
  uint32_t version = kJet4Version;
  uint16_t code_page = 0;
  uint32_t database_key = 0;
  uint32_t sort_order = 0;
  double creation_date = 0;
  uint32_t engine_build = 0;  // 0x6A: the build of the engine that made the file
};

// The 128-byte mask of the header region (the same for every file).
const std::array<uint8_t, kHeaderMaskLength>& HeaderMask();

// Decodes page 0 of a file of `file_size` bytes. Throws jet::Error with a message that says
// what the file is when it is not a Jet 4.0 database (empty, too short, another format,
// Jet 3, ACCDB).
HeaderPage DecodeHeaderPage(std::span<const uint8_t> bytes, uint64_t file_size);

// Encodes a header page for a file without password into `page` (kPageSize bytes): the
// fields of `header`, the constant parts every Jet 4.0 header carries, and the mask.
void EncodeHeaderPage(const HeaderPage& header, std::span<uint8_t> page);

// The key that encodes page `page` of a file whose header has a non-zero database key.
std::array<uint8_t, 4> PageKey(uint32_t database_key, uint32_t page);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_HEADER_PAGE_H_
