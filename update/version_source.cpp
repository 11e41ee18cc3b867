#include "update/version_source.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <string>

namespace update {
namespace {

// Random reads from a file with every offset checked against the file's size.
class FileReader {
 public:
  explicit FileReader(const std::filesystem::path& path) : stream_(path, std::ios::binary) {
    if (!stream_) return;
    stream_.seekg(0, std::ios::end);
    std::streamoff end = stream_.tellg();
    if (end < 0) return;
    size_ = static_cast<uint64_t>(end);
    ok_ = true;
  }

  bool ok() const { return ok_; }
  uint64_t size() const { return size_; }

  // Reads `count` bytes at `offset` into `out`; false when they do not all lie in the file.
  bool Read(uint64_t offset, size_t count, uint8_t* out) {
    if (!ok_ || offset > size_ || count > size_ - offset) return false;
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(count));
    return static_cast<size_t>(stream_.gcount()) == count;
  }

  std::optional<std::vector<uint8_t>> ReadBytes(uint64_t offset, size_t count) {
    std::vector<uint8_t> bytes(count);
    if (!Read(offset, count, bytes.data())) return std::nullopt;
    return bytes;
  }

  // Little- or big-endian unsigned integers of 2, 4 or 8 bytes.
  std::optional<uint64_t> Uint(uint64_t offset, size_t width, bool big_endian = false) {
    std::array<uint8_t, 8> b{};
    if (!Read(offset, width, b.data())) return std::nullopt;
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) {
      size_t index = big_endian ? i : width - 1 - i;
      v = (v << 8) | b[index];
    }
    return v;
  }

 private:
  std::ifstream stream_;
  uint64_t size_ = 0;
  bool ok_ = false;
};

uint32_t LoadU32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

std::vector<uint8_t> ReadCapped(FileReader& file, uint64_t offset, uint64_t size) {
  size_t count = static_cast<size_t>(std::min<uint64_t>(size, kMaxVersionBlockSize));
  std::optional<std::vector<uint8_t>> bytes = file.ReadBytes(offset, count);
  return bytes ? std::move(*bytes) : std::vector<uint8_t>{};
}

// ---- ELF ----
// File header fields used (32-bit / 64-bit offsets):
//   e_ident[4] class (1 = 32-bit, 2 = 64-bit), e_ident[5] data (1 = little, 2 = big endian)
//   e_shoff      0x20 u32 / 0x28 u64   section header table
//   e_shentsize  0x2E     / 0x3A u16
//   e_shnum      0x30     / 0x3C u16   0: the count is in section 0's sh_size
//   e_shstrndx   0x32     / 0x3E u16   0xFFFF: the index is in section 0's sh_link
// Section header fields: sh_name 0 u32, sh_type 4 u32, sh_offset 0x10 u32 / 0x18 u64,
//   sh_size 0x14 u32 / 0x20 u64, sh_link 0x18 u32 / 0x28 u32.

constexpr uint32_t kShtNobits = 8;
constexpr uint16_t kShnXindex = 0xFFFF;

struct ElfSection {
  uint32_t name = 0;
  uint32_t type = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint32_t link = 0;
};

std::vector<uint8_t> ReadElfBlock(FileReader& file) {
  std::array<uint8_t, 16> ident{};
  if (!file.Read(0, ident.size(), ident.data())) return {};
  const bool is64 = ident[4] == 2;
  if (ident[4] != 1 && !is64) return {};
  if (ident[5] != 1 && ident[5] != 2) return {};
  const bool be = ident[5] == 2;
  const size_t word = is64 ? 8 : 4;

  auto shoff = file.Uint(is64 ? 0x28 : 0x20, word, be);
  auto shentsize = file.Uint(is64 ? 0x3A : 0x2E, 2, be);
  auto shnum_field = file.Uint(is64 ? 0x3C : 0x30, 2, be);
  auto shstrndx_field = file.Uint(is64 ? 0x3E : 0x32, 2, be);
  if (!shoff || !shentsize || !shnum_field || !shstrndx_field || *shoff == 0) return {};
  const uint64_t entry_size = *shentsize;
  if (entry_size < (is64 ? 0x40u : 0x28u)) return {};

  auto field = [&](const uint8_t* p, size_t width) {
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = (v << 8) | p[be ? i : width - 1 - i];
    return v;
  };
  auto parse = [&](const uint8_t* h) {
    return ElfSection{static_cast<uint32_t>(field(h, 4)), static_cast<uint32_t>(field(h + 4, 4)),
                      field(h + (is64 ? 0x18 : 0x10), word), field(h + (is64 ? 0x20 : 0x14), word),
                      static_cast<uint32_t>(field(h + (is64 ? 0x28 : 0x18), 4))};
  };
  auto section = [&](uint64_t index) -> std::optional<ElfSection> {
    std::vector<uint8_t> h(static_cast<size_t>(entry_size));
    if (index > file.size() / entry_size ||
        !file.Read(*shoff + index * entry_size, h.size(), h.data())) {
      return std::nullopt;
    }
    return parse(h.data());
  };

  uint64_t count = *shnum_field;
  uint64_t strndx = *shstrndx_field;
  if (count == 0 || strndx == kShnXindex) {
    std::optional<ElfSection> first = section(0);
    if (!first) return {};
    if (count == 0) count = first->size;
    if (strndx == kShnXindex) strndx = first->link;
  }
  // Every header must lie in the file; this also bounds the work below.
  if (count > (file.size() - std::min(file.size(), *shoff)) / entry_size) return {};
  if (strndx >= count) return {};
  std::optional<std::vector<uint8_t>> table =
      file.ReadBytes(*shoff, static_cast<size_t>(count * entry_size));
  if (!table) return {};
  const ElfSection names = parse(table->data() + strndx * entry_size);
  if (names.type == kShtNobits) return {};

  const std::string_view wanted = kVersionSectionName;
  for (uint64_t i = 0; i < count; ++i) {
    const ElfSection s = parse(table->data() + i * entry_size);
    if (s.type == kShtNobits) continue;
    if (s.name > names.size || names.size - s.name < wanted.size() + 1) continue;
    std::string name(wanted.size() + 1, '\0');
    if (!file.Read(names.offset + s.name, name.size(), reinterpret_cast<uint8_t*>(name.data())))
      continue;
    if (name.compare(0, wanted.size(), wanted) != 0 || name.back() != '\0') continue;
    return ReadCapped(file, s.offset, s.size);
  }
  return {};
}

// ---- PE ----
//   0x00       "MZ"; 0x3C u32 offset of the PE signature "PE\0\0"
//   +4         COFF header: +2 u16 section count, +16 u16 optional header size
//   +24        optional header: u16 magic 0x10B (PE32) or 0x20B (PE32+); the count of data
//              directories at +92 / +108, the directories (u32 RVA, u32 size) from +96 / +112;
//              directory 2 is the resource section
//   after it   section table, 40 bytes each: +8 u32 virtual size, +12 u32 virtual address,
//              +16 u32 raw size, +20 u32 raw data offset
// Resource tree (offsets from the start of the resource directory): a directory is 16 bytes,
// +12 u16 named entries, +14 u16 id entries, then 8-byte entries (u32 name or id, u32 offset;
// the high bit of the offset marks a subdirectory). Level 1 type (16 = version), level 2 name
// (1 is the usual one), level 3 language. A data entry: u32 RVA of the data, u32 size.

constexpr uint32_t kResourceTypeVersion = 16;
constexpr uint32_t kHighBit = 0x80000000u;

struct PeSection {
  uint32_t virtual_size = 0;
  uint32_t virtual_address = 0;
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
};

class PeImage {
 public:
  explicit PeImage(FileReader& file) : file_(file) {}

  bool Load() {
    auto mz = file_.Uint(0, 2);
    if (!mz || *mz != 0x5A4D) return false;
    auto pe_offset = file_.Uint(0x3C, 4);
    if (!pe_offset) return false;
    auto signature = file_.Uint(*pe_offset, 4);
    if (!signature || *signature != 0x00004550) return false;
    uint64_t coff = *pe_offset + 4;
    auto section_count = file_.Uint(coff + 2, 2);
    auto optional_size = file_.Uint(coff + 16, 2);
    if (!section_count || !optional_size) return false;
    uint64_t opt = coff + 20;
    auto magic = file_.Uint(opt, 2);
    if (!magic || (*magic != 0x10B && *magic != 0x20B)) return false;
    const bool plus = *magic == 0x20B;
    uint64_t count_at = opt + (plus ? 108 : 92);
    uint64_t dirs_at = opt + (plus ? 112 : 96);
    auto dir_count = file_.Uint(count_at, 4);
    if (!dir_count || *dir_count <= 2) return false;
    if (dirs_at + 3 * 8 > opt + *optional_size) return false;
    auto rva = file_.Uint(dirs_at + 2 * 8, 4);
    auto size = file_.Uint(dirs_at + 2 * 8 + 4, 4);
    if (!rva || !size || *rva == 0) return false;
    resource_rva_ = static_cast<uint32_t>(*rva);
    uint64_t table = opt + *optional_size;
    auto headers = file_.ReadBytes(table, static_cast<size_t>(*section_count) * 40);
    if (!headers) return false;
    for (uint64_t i = 0; i < *section_count; ++i) {
      const uint8_t* h = headers->data() + i * 40;
      sections_.push_back({LoadU32(h + 8), LoadU32(h + 12), LoadU32(h + 16), LoadU32(h + 20)});
    }
    return true;
  }

  // The file offset of `count` bytes at `rva`, when they all lie in one section's raw data.
  std::optional<uint64_t> RvaToOffset(uint64_t rva, uint64_t count) const {
    for (const PeSection& s : sections_) {
      if (rva < s.virtual_address) continue;
      uint64_t delta = rva - s.virtual_address;
      if (delta > s.raw_size || count > s.raw_size - delta) continue;
      return uint64_t{s.raw_offset} + delta;
    }
    return std::nullopt;
  }

  std::optional<uint64_t> ResourceU32(uint64_t offset_in_resources) {
    auto at = RvaToOffset(uint64_t{resource_rva_} + offset_in_resources, 4);
    if (!at) return std::nullopt;
    return file_.Uint(*at, 4);
  }
  std::optional<uint64_t> ResourceU16(uint64_t offset_in_resources) {
    auto at = RvaToOffset(uint64_t{resource_rva_} + offset_in_resources, 2);
    if (!at) return std::nullopt;
    return file_.Uint(*at, 2);
  }

  // The offset field of the chosen entry of the directory at `dir`: the entry with id `id`
  // when given, else the first id entry, else the first entry of all.
  std::optional<uint32_t> EntryOffset(uint64_t dir, std::optional<uint32_t> id, bool wants_dir,
                                      bool id_required) {
    auto named = ResourceU16(dir + 12);
    auto ids = ResourceU16(dir + 14);
    if (!named || !ids) return std::nullopt;
    uint64_t total = *named + *ids;
    auto at = RvaToOffset(uint64_t{resource_rva_} + dir + 16, total * 8);
    if (!at) return std::nullopt;
    auto entries = file_.ReadBytes(*at, static_cast<size_t>(total * 8));
    if (!entries) return std::nullopt;
    std::optional<uint32_t> fallback;
    for (uint64_t i = 0; i < total; ++i) {
      const uint32_t name = LoadU32(entries->data() + i * 8);
      const uint32_t offset = LoadU32(entries->data() + i * 8 + 4);
      bool is_dir = (offset & kHighBit) != 0;
      if (is_dir != wants_dir) continue;
      bool is_id = (name & kHighBit) == 0;
      uint32_t value = offset & ~kHighBit;
      if (id && is_id && name == *id) return value;
      if (!fallback && (!id_required || is_id)) fallback = value;
    }
    if (id_required && id) return std::nullopt;
    return fallback;
  }

  std::vector<uint8_t> VersionBlock() {
    auto types = EntryOffset(0, kResourceTypeVersion, true, true);
    if (!types) return {};
    auto names = EntryOffset(*types, 1u, true, false);
    if (!names) return {};
    auto data_entry = EntryOffset(*names, std::nullopt, false, false);
    if (!data_entry) return {};
    auto rva = ResourceU32(*data_entry);
    auto size = ResourceU32(uint64_t{*data_entry} + 4);
    if (!rva || !size || *size == 0) return {};
    uint64_t count = std::min<uint64_t>(*size, kMaxVersionBlockSize);
    auto at = RvaToOffset(*rva, count);
    if (!at) return {};
    return ReadCapped(file_, *at, count);
  }

 private:
  FileReader& file_;
  uint32_t resource_rva_ = 0;
  std::vector<PeSection> sections_;
};

}  // namespace

std::vector<uint8_t> ReadVersionBlockFromFile(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return {};
  FileReader reader(file);
  if (!reader.ok()) return {};
  std::array<uint8_t, 4> magic{};
  if (!reader.Read(0, magic.size(), magic.data())) return {};
  if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') {
    return ReadElfBlock(reader);
  }
  if (magic[0] == 'M' && magic[1] == 'Z') {
    PeImage image(reader);
    if (!image.Load()) return {};
    return image.VersionBlock();
  }
  return {};
}

}  // namespace update
