#include "jet/format/header_page.h"

#include <cmath>
#include <cstring>
#include <iterator>

#include "jet/format/coding.h"
#include "jet/format/constants.h"
#include "jet/format/rc4.h"
#include "jet/jet.h"

namespace jet::format {
namespace {

constexpr char kJetSignature[] = "Standard Jet DB";
constexpr char kAceSignature[] = "Standard ACE DB";

bool HasSignature(std::span<const uint8_t> bytes, const char* signature) {
  const size_t n = std::strlen(signature) + 1;  // with the terminating NUL
  return bytes.size() >= kHeaderSignatureOffset + n &&
         std::memcmp(bytes.data() + kHeaderSignatureOffset, signature, n) == 0;
}

}  // namespace

const std::array<uint8_t, kHeaderMaskLength>& HeaderMask() {
  static const std::array<uint8_t, kHeaderMaskLength> mask = [] {
    std::array<uint8_t, kHeaderMaskLength> m{};
    Rc4Apply(kHeaderMaskKey, m);
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
  if (!jet || bytes.size() < kHeaderVersionOffset + 4 || bytes[0] != 0) {
    throw Error(u"Jet データベース (.mdb) のファイルではありません");
  }
  const ByteReader page(bytes, 0);
  const uint32_t version = page.U32(kHeaderVersionOffset);
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
  header.code_page = r.U16(kHeaderCodePageOffset - kHeaderMaskOffset);
  header.database_key = r.U32(kHeaderDatabaseKeyOffset - kHeaderMaskOffset);
  header.sort_order = r.U32(kHeaderSortOrderOffset - kHeaderMaskOffset);
  header.creation_date = r.F64(kHeaderCreationDateOffset - kHeaderMaskOffset);
  header.engine_build = r.U32(kHeaderEngineBuildOffset - kHeaderMaskOffset);
  return header;
}

void EncodeHeaderPage(const HeaderPage& header, std::span<uint8_t> page) {
  if (page.size() < kPageSize) ThrowOutOfBounds(kNoPage, 0, kPageSize);
  uint8_t* p = page.data();
  std::memset(p, 0, kPageSize);
  p[0] = PageTypeByte(PageType::kHeader);
  p[1] = kPageMarker;
  std::memcpy(p + kHeaderSignatureOffset, kJetSignature, sizeof kJetSignature);
  PutU32(p + kHeaderVersionOffset, header.version);
  // The masked region starts with the numbers 0x100, 0x101, 2, 3, 4, 5 in every Jet 4.0 file.
  const uint32_t region_start[] = {0x100, 0x101, 2, 3, 4, 5};
  for (size_t i = 0; i < std::size(region_start); ++i) {
    PutU32(p + kHeaderMaskOffset + 4 * i, region_start[i]);
  }
  PutU16(p + kHeaderCodePageOffset, header.code_page);
  PutU32(p + kHeaderDatabaseKeyOffset, header.database_key);
  // An empty password: 20 zero characters XOR the creation date's integer part, repeated.
  const auto password_mask =
      static_cast<uint32_t>(static_cast<int64_t>(std::floor(header.creation_date)));
  for (size_t at = 0; at < kHeaderPasswordLength; at += 4) {
    PutU32(p + kHeaderPasswordOffset + at, password_mask);
  }
  PutU32(p + kHeaderEngineBuildOffset, header.engine_build);
  PutU32(p + kHeaderSortOrderOffset, header.sort_order);
  PutDouble(p + kHeaderCreationDateOffset, header.creation_date);
  const auto& mask = HeaderMask();
  for (size_t i = 0; i < kHeaderMaskLength; ++i) p[kHeaderMaskOffset + i] ^= mask[i];
  const uint8_t constant[] = {0x54, 0x06, 0x00, 0x00, 0x34, 0x2E, 0x30, 0x00};
  std::memcpy(p + kHeaderConstantOffset, constant, sizeof constant);
  p[kHeaderTrailerOffset] = 0x01;
  p[kHeaderTrailerOffset + 1] = 0x01;
  for (size_t at = kHeaderTrailerOffset + 2; at < kPageSize; at += 2) p[at + 1] = 0x01;
}

std::array<uint8_t, 4> PageKey(uint32_t database_key, uint32_t page) {
  const uint32_t k = database_key ^ page;
  return {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k >> 16),
          static_cast<uint8_t>(k >> 24)};
}

}  // namespace jet::format
