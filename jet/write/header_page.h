// Page 0 of a Jet 4.0 file, the database header:
//   0x00  00 01 00 00, "Standard Jet DB\0", u32 format version (1 = Jet 4.0)
//   0x18  128 bytes XOR-masked with the RC4 keystream of the key 0x6B39DAC7:
//         0x3C code page, 0x3E database key (0 = pages not encoded), 0x42 password
//         (20 UCS-2 characters XOR the creation date's integer part), 0x6E sort order,
//         0x72 creation date
//   0x98  constant 54 06 00 00 34 2E 30 00, then zeros; 0xE00 the trailing pattern
#ifndef QUORVEL_JET_WRITE_HEADER_PAGE_H_
#define QUORVEL_JET_WRITE_HEADER_PAGE_H_

#include <array>
#include <cstdint>

namespace jet::write {

// The creation date kept in the header. The security IDs in the catalogue belong to the
// date they were made with, so the header carries the date of the Jet-made layout we follow
// (2015-11-21 22:40:30.98) and the real creation time goes into the catalogue rows only.
inline constexpr uint64_t kHeaderDateBits = 0x40E4AB3E3BD3853EULL;

// The 128-byte mask of the header's protected region.
std::array<uint8_t, 128> HeaderMask();

// Fills `page` (4096 bytes) with a header for a new database without password.
void WriteHeaderPage(uint8_t* page);

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_HEADER_PAGE_H_
