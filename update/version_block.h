// The binary version block (VS_VERSIONINFO) that a Windows executable carries as its version
// resource: building one, and looking up values in one the way the system's version functions
// do. The same block travels in our ELF executables (section ".qvversion") and in the resource
// section of PE files; this one parser serves both.
//
// Every node of the block, all numbers little-endian:
//    0  u16  wLength       bytes of the node, its children included
//    2  u16  wValueLength  length of the value: bytes for a binary value, UTF-16 characters
//                          for a text value (as stored; it may or may not count a final NUL)
//    4  u16  wType         1 text value, 0 binary value
//    6  key  UTF-16 text ended by a NUL, then zero bytes up to a 4-byte boundary
//       the value, then zero bytes up to a 4-byte boundary
//       the children, each starting on a 4-byte boundary
// Boundaries count from the start of the block. The root "VS_VERSION_INFO" holds a
// VS_FIXEDFILEINFO (52 bytes) and the children "StringFileInfo" (string tables named by eight
// hexadecimal digits, language then code page, each holding text values) and "VarFileInfo"
// (the binary value "Translation": 32-bit entries, language in the low half, code page in the
// high half).
#ifndef QUORVEL_UPDATE_VERSION_BLOCK_H_
#define QUORVEL_UPDATE_VERSION_BLOCK_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace update {

// VS_FIXEDFILEINFO, without its signature and structure version, which the builder writes.
struct FixedFileInfo {
  uint64_t file_version = 0;     // four 16-bit parts, the most significant first
  uint64_t product_version = 0;  // the same
  uint32_t file_flags_mask = 0x3F;
  uint32_t file_flags = 0;
  uint32_t file_os = 0x4;    // VOS__WINDOWS32
  uint32_t file_type = 0x1;  // VFT_APP
  uint32_t file_subtype = 0;
  uint64_t file_date = 0;
};

inline constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
inline constexpr size_t kFixedFileInfoSize = 52;

// Packs "a.b.c.d" parts into the 64-bit form of the fixed part.
constexpr uint64_t PackVersion(uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  return (uint64_t{a} << 48) | (uint64_t{b} << 32) | (uint64_t{c} << 16) | uint64_t{d};
}

// One text value. The builder always stores a NUL after the value; whether the stored length
// counts it is chosen here (resource compilers differ, and readers must keep what is stored).
struct VersionString {
  std::u16string key;
  std::u16string value;
  bool length_counts_nul = true;
};

struct StringTable {
  std::u16string key;  // eight hexadecimal digits, e.g. u"040904E4"
  std::vector<VersionString> strings;
};

struct VersionInfo {
  FixedFileInfo fixed;
  std::vector<StringTable> string_tables;
  // The translation entries; no value leaves the VarFileInfo node out altogether.
  std::optional<std::vector<uint32_t>> translations;
};

// The block for `info`. Throws std::length_error when a node would exceed 65535 bytes.
std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info);

// The program's own version information: one string table 040904E4, which is also the only
// translation, every stored length counting the closing NUL, `archive_url` as InternalName.
VersionInfo ProgramVersionInfo(std::u16string_view archive_url, std::u16string_view version);

// A value found in a block. `length` is reported as the system's query does: bytes for a
// binary value, UTF-16 characters for a text value, as stored, but never past the end of its
// node or of the block (`data` holds at least that much).
struct VersionValue {
  const uint8_t* data = nullptr;
  size_t length = 0;
  bool is_text = false;
};

// Looks up `path` ("\" for the fixed part, "\VarFileInfo\Translation",
// "\StringFileInfo\040904E4\InternalName") in `block`. Names compare without regard to ASCII
// letter case. No value when the path leads nowhere or the block is malformed there; a
// malformed block is never read outside its bounds.
std::optional<VersionValue> QueryVersionValue(std::span<const uint8_t> block,
                                              std::u16string_view path);

}  // namespace update

#endif  // QUORVEL_UPDATE_VERSION_BLOCK_H_
