// Byte access for the on-disk structures, with bounds checks.
//
// Jet stores its integers little-endian, except index keys and the page numbers inside index
// entries, which are big-endian. `ByteReader` reads both from a span and throws a jet::Error
// naming the page for any access outside the span, so a damaged offset can never make the
// engine read outside a page. The Put* functions encode into a buffer (for writers), also
// bounds-checked.
#ifndef QUORVEL_JET_FORMAT_CODING_H_
#define QUORVEL_JET_FORMAT_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "jet/format/constants.h"
#include "jet/format/corruption.h"

namespace jet::format {

class ByteReader {
 public:
  // `page` names the page in error messages (kNoPage: not a page, for example a TDEF that
  // spans several pages).
  explicit ByteReader(std::span<const uint8_t> bytes, uint32_t page = kNoPage)
      : bytes_(bytes), page_(page) {}

  size_t size() const { return bytes_.size(); }
  uint32_t page() const { return page_; }
  std::span<const uint8_t> bytes() const { return bytes_; }
  bool Contains(size_t offset, size_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }

  // The `length` bytes at `offset`; throws when they are not all inside.
  std::span<const uint8_t> Slice(size_t offset, size_t length) const {
    Check(offset, length);
    return bytes_.subspan(offset, length);
  }
  ByteReader Sub(size_t offset, size_t length) const {
    return ByteReader(Slice(offset, length), page_);
  }

  uint8_t U8(size_t offset) const {
    Check(offset, 1);
    return bytes_[offset];
  }
  uint16_t U16(size_t offset) const { return static_cast<uint16_t>(Le(offset, 2)); }
  uint32_t U24(size_t offset) const { return static_cast<uint32_t>(Le(offset, 3)); }
  uint32_t U32(size_t offset) const { return static_cast<uint32_t>(Le(offset, 4)); }
  uint64_t U64(size_t offset) const { return Le(offset, 8); }
  int16_t I16(size_t offset) const { return static_cast<int16_t>(U16(offset)); }
  int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }
  int64_t I64(size_t offset) const { return static_cast<int64_t>(U64(offset)); }
  float F32(size_t offset) const {
    const uint32_t bits = U32(offset);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  double F64(size_t offset) const {
    const uint64_t bits = U64(offset);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  uint32_t U24Be(size_t offset) const { return static_cast<uint32_t>(Be(offset, 3)); }
  uint32_t U32Be(size_t offset) const { return static_cast<uint32_t>(Be(offset, 4)); }

 private:
  void Check(size_t offset, size_t length) const {
    if (!Contains(offset, length)) ThrowOutOfBounds(page_, offset, length);
  }
  uint64_t Le(size_t offset, size_t n) const {
    Check(offset, n);
    uint64_t v = 0;
    for (size_t i = n; i-- > 0;) v = (v << 8) | bytes_[offset + i];
    return v;
  }
  uint64_t Be(size_t offset, size_t n) const {
    Check(offset, n);
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v = (v << 8) | bytes_[offset + i];
    return v;
  }

  std::span<const uint8_t> bytes_;
  uint32_t page_;
};

// Encoders for writers. Each throws like ByteReader when the bytes do not fit.
inline void PutLe(std::span<uint8_t> out, size_t offset, uint64_t value, size_t n) {
  if (offset > out.size() || n > out.size() - offset) ThrowOutOfBounds(kNoPage, offset, n);
  for (size_t i = 0; i < n; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}
inline void PutBe(std::span<uint8_t> out, size_t offset, uint64_t value, size_t n) {
  if (offset > out.size() || n > out.size() - offset) ThrowOutOfBounds(kNoPage, offset, n);
  for (size_t i = 0; i < n; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * (n - 1 - i)));
}
inline void PutU8(std::span<uint8_t> out, size_t offset, uint8_t v) { PutLe(out, offset, v, 1); }
inline void PutU16(std::span<uint8_t> out, size_t offset, uint16_t v) { PutLe(out, offset, v, 2); }
inline void PutU24(std::span<uint8_t> out, size_t offset, uint32_t v) { PutLe(out, offset, v, 3); }
inline void PutU32(std::span<uint8_t> out, size_t offset, uint32_t v) { PutLe(out, offset, v, 4); }
inline void PutU64(std::span<uint8_t> out, size_t offset, uint64_t v) { PutLe(out, offset, v, 8); }
inline void PutF64(std::span<uint8_t> out, size_t offset, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  PutU64(out, offset, bits);
}

// Stores and loads at a raw position, for buffers the caller sized itself (the writer's
// pages and rows, the checker's pages after it checked the bounds). Little-endian unless
// the name ends in Be.
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutDouble(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  PutU64(p, bits);
}
inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t GetU64(const uint8_t* p) {
  return static_cast<uint64_t>(GetU32(p)) | (static_cast<uint64_t>(GetU32(p + 4)) << 32);
}
inline double GetDouble(const uint8_t* p) {
  uint64_t bits = GetU64(p);
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}
inline uint32_t GetU24Be(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
}
inline uint32_t GetU32Be(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

// Appends a big-endian u32 to a byte string (index keys and entries are built as std::string
// so that they compare with plain unsigned byte order).
inline void AppendU32Be(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A row pointer: row number in the low byte, page number in the upper three bytes.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  static RowPointer FromU32(uint32_t v) {
    return {v >> kRowPointerRowBits, static_cast<uint8_t>(v & 0xFF)};
  }
  uint32_t ToU32() const { return (page << kRowPointerRowBits) | row; }
  bool operator==(const RowPointer&) const = default;
};

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_CODING_H_
