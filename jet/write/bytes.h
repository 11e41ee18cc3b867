// Little- and big-endian stores and loads for building pages. The writer only ever touches
// buffers it sized itself, so these are plain inline helpers; callers keep offsets in range.
#ifndef QUORVEL_JET_WRITE_BYTES_H_
#define QUORVEL_JET_WRITE_BYTES_H_

#include <cstdint>
#include <cstring>
#include <string>

namespace jet::write {

inline constexpr int kPageSize = 4096;

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

// Appending to a byte string (index keys and entries are built as std::string so that they
// compare with plain unsigned byte order).
inline void AppendU8(std::string& s, uint8_t v) { s.push_back(static_cast<char>(v)); }
inline void AppendU32Be(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A row pointer: row number in the low byte, page number above it.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  uint32_t Encode() const { return (page << 8) | row; }
  static RowPointer Decode(uint32_t v) { return {v >> 8, static_cast<uint8_t>(v & 0xFF)}; }
  bool operator==(const RowPointer&) const = default;
};

}  // namespace jet::write

#endif  // QUORVEL_JET_WRITE_BYTES_H_
