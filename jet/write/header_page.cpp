#include "jet/write/header_page.h"

#include <cmath>
#include <cstring>

#include "jet/write/bytes.h"

namespace jet::write {
namespace {
constexpr size_t kMaskedStart = 0x18;
constexpr size_t kMaskedLength = 128;
constexpr uint32_t kMaskKey = 0x6B39DAC7;
constexpr uint16_t kCodePage = 1252;
constexpr uint32_t kEngineBuild = 0x261C;       // 4.0.9756, the engine build of the layout
constexpr uint32_t kSortOrderGeneral = 0x0409;  // LCID 1033, version 0
}  // namespace

std::array<uint8_t, 128> HeaderMask() {
  uint8_t key[4];
  PutU32(key, kMaskKey);
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::array<uint8_t, 128> out{};
  for (size_t n = 0, i = 0, j = 0; n < kMaskedLength; ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    out[n] = s[(s[i] + s[j]) & 0xFF];
  }
  return out;
}

void WriteHeaderPage(uint8_t* page) {
  std::memset(page, 0, kPageSize);
  page[1] = 0x01;
  std::memcpy(page + 4, "Standard Jet DB", 16);
  PutU32(page + 0x14, 1);
  // Region start: the numbers 0x100, 0x101, 2, 3, 4, 5 (present in every Jet 4.0 file).
  const uint32_t start[] = {0x100, 0x101, 2, 3, 4, 5};
  for (int i = 0; i < 6; ++i) PutU32(page + 0x18 + 4 * i, start[i]);
  PutU16(page + 0x3C, kCodePage);
  PutU32(page + 0x3E, 0);
  double date;
  std::memcpy(&date, &kHeaderDateBits, 8);
  // Empty password: 20 zero characters XOR the date's integer part, repeated.
  uint32_t password_mask = static_cast<uint32_t>(static_cast<int64_t>(std::floor(date)));
  for (int i = 0; i < 10; ++i) PutU32(page + 0x42 + 4 * i, password_mask);
  PutU32(page + 0x6A, kEngineBuild);
  PutU32(page + 0x6E, kSortOrderGeneral);
  PutU64(page + 0x72, kHeaderDateBits);
  auto mask = HeaderMask();
  for (size_t i = 0; i < kMaskedLength; ++i) page[kMaskedStart + i] ^= mask[i];
  const uint8_t tail[] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
  std::memcpy(page + 0x98, tail, sizeof tail);
  page[0xE00] = 0x01;
  page[0xE01] = 0x01;
  for (int at = 0xE02; at < kPageSize; at += 2) page[at + 1] = 0x01;
}

}  // namespace jet::write
