#include "jet/format/header_page.h"

#include <cstring>

#include "jet/format/coding.h"
#include "jet/format/constants.h"
#include "jet/format/rc4.h"
#include "jet/jet.h"

namespace jet::format {
namespace {

constexpr char kJetSignature[] = "Standard Jet DB";
constexpr char kAceSignature[] = "Standard ACE DB";
constexpr size_t kSignatureOffset = 4;
constexpr size_t kVersionOffset = 0x14;

bool HasSignature(std::span<const uint8_t> bytes, const char* signature) {
  const size_t n = std::strlen(signature) + 1;  // with the terminating NUL
  return bytes.size() >= kSignatureOffset + n &&
         std::memcmp(bytes.data() + kSignatureOffset, signature, n) == 0;
}

}  // namespace

const std::array<uint8_t, kHeaderMaskLength>& HeaderMask() {
  static const std::array<uint8_t, kHeaderMaskLength> mask = [] {
    std::array<uint8_t, kHeaderMaskLength> m{};
    const uint8_t key[] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4Apply(key, m);
    return m;
  }();
  return mask;
}

HeaderPage DecodeHeaderPage(std::span<const uint8_t> bytes, uint64_t file_size) {
  if (file_size == 0) throw Error(u"データベース ファイルが空です (0 バイト)");
  const bool jet = HasSignature(bytes, kJetSignature);
  if (!jet && HasSignature(bytes, kAceSignature)) {
    throw Error(u"Access 2007 以降の形式 (ACCDB) のファイルには対応していません");
  }
  if (!jet || bytes.size() < kVersionOffset + 4 || bytes[0] != 0) {
    throw Error(u"Jet データベース (.mdb) のファイルではありません");
  }
  const ByteReader page(bytes, 0);
  const uint32_t version = page.U32(kVersionOffset);
  if (version == 0) {
    throw Error(u"Jet 3.x 形式 (Access 97 以前) のファイルには対応していません");
  }
  if (version != kJet4Version) {
    throw Error(u"対応していない形式のデータベース ファイルです (版 " + Number(version) + u")");
  }
  if (file_size < kPageSize || bytes.size() < kPageSize) {
    throw Error(u"データベース ファイルが途中で切れています (" + Number(file_size) +
                u" バイトしかありません)");
  }
  std::array<uint8_t, kHeaderMaskLength> region;
  std::memcpy(region.data(), bytes.data() + kHeaderMaskOffset, region.size());
  for (size_t i = 0; i < region.size(); ++i) region[i] ^= HeaderMask()[i];
  const ByteReader r(region, 0);
  HeaderPage header;
  header.version = version;
  header.code_page = r.U16(0x3C - kHeaderMaskOffset);
  header.database_key = r.U32(0x3E - kHeaderMaskOffset);
  header.sort_order = r.U32(0x6E - kHeaderMaskOffset);
  header.creation_date = r.F64(0x72 - kHeaderMaskOffset);
  return header;
}

std::array<uint8_t, 4> PageKey(uint32_t database_key, uint32_t page) {
  const uint32_t k = database_key ^ page;
  return {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k >> 16),
          static_cast<uint8_t>(k >> 24)};
}

}  // namespace jet::format
