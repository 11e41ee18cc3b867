// Small PE files for the version-block tests, built byte by byte: a DOS header, the PE
// signature, a COFF header, a PE32 or PE32+ optional header whose data directory 2 points at
// a ".rsrc" section, and a resource tree (type, name, language) holding the given resources.
#ifndef QUORVEL_TESTS_UPDATE_PE_BUILDER_H_
#define QUORVEL_TESTS_UPDATE_PE_BUILDER_H_

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace update_test {

struct PeResource {
  uint32_t type = 16;  // 16 = version
  uint32_t name = 1;   // an id
  uint32_t language = 0x0409;
  std::vector<uint8_t> data;
};

struct PeOptions {
  bool pe32_plus = false;
  bool with_resource_directory = true;
  uint32_t section_rva = 0x2000;
  uint32_t file_alignment = 0x200;
};

class ByteWriter {
 public:
  void U8(uint8_t v) { bytes.push_back(v); }
  void U16(uint16_t v) {
    U8(static_cast<uint8_t>(v));
    U8(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
  void PadTo(size_t size) {
    if (bytes.size() < size) Zeros(size - bytes.size());
  }
  void Bytes(const std::vector<uint8_t>& b) { bytes.insert(bytes.end(), b.begin(), b.end()); }
  void PatchU32(size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  std::vector<uint8_t> bytes;
};

// The resource section's content for resources at virtual address `rva`. Resources are
// grouped by type and name in the order given (ids only).
inline std::vector<uint8_t> BuildResourceSection(const std::vector<PeResource>& resources,
                                                 uint32_t rva) {
  // Layout: root directory, one type directory per type, one name directory per (type, name),
  // then the data entries, then the data.
  struct NameGroup {
    uint32_t name;
    std::vector<size_t> items;
  };
  struct TypeGroup {
    uint32_t type;
    std::vector<NameGroup> names;
  };
  std::vector<TypeGroup> types;
  for (size_t i = 0; i < resources.size(); ++i) {
    const PeResource& r = resources[i];
    TypeGroup* t = nullptr;
    for (TypeGroup& g : types) t = g.type == r.type ? &g : t;
    if (!t) t = &types.emplace_back(TypeGroup{r.type, {}});
    NameGroup* n = nullptr;
    for (NameGroup& g : t->names) n = g.name == r.name ? &g : n;
    if (!n) n = &t->names.emplace_back(NameGroup{r.name, {}});
    n->items.push_back(i);
  }
  auto dir_size = [](size_t entries) { return 16 + 8 * entries; };
  size_t offset = dir_size(types.size());
  std::vector<size_t> type_dir_at;
  for (const TypeGroup& t : types) {
    type_dir_at.push_back(offset);
    offset += dir_size(t.names.size());
  }
  std::vector<std::vector<size_t>> name_dir_at(types.size());
  for (size_t ti = 0; ti < types.size(); ++ti) {
    for (const NameGroup& n : types[ti].names) {
      name_dir_at[ti].push_back(offset);
      offset += dir_size(n.items.size());
    }
  }
  std::vector<size_t> data_entry_at(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    data_entry_at[i] = offset;
    offset += 16;
  }
  std::vector<size_t> data_at(resources.size());
  for (size_t i = 0; i < resources.size(); ++i) {
    offset = (offset + 3) & ~size_t{3};
    data_at[i] = offset;
    offset += resources[i].data.size();
  }

  ByteWriter w;
  auto directory = [&](size_t entries) {
    w.U32(0);  // characteristics
    w.U32(0);  // time stamp
    w.U16(4);  // version
    w.U16(0);
    w.U16(0);  // named entries
    w.U16(static_cast<uint16_t>(entries));
  };
  directory(types.size());
  for (size_t ti = 0; ti < types.size(); ++ti) {
    w.U32(types[ti].type);
    w.U32(0x80000000u | static_cast<uint32_t>(type_dir_at[ti]));
  }
  for (size_t ti = 0; ti < types.size(); ++ti) {
    directory(types[ti].names.size());
    for (size_t ni = 0; ni < types[ti].names.size(); ++ni) {
      w.U32(types[ti].names[ni].name);
      w.U32(0x80000000u | static_cast<uint32_t>(name_dir_at[ti][ni]));
    }
  }
  for (size_t ti = 0; ti < types.size(); ++ti) {
    for (const NameGroup& n : types[ti].names) {
      directory(n.items.size());
      for (size_t i : n.items) {
        w.U32(resources[i].language);
        w.U32(static_cast<uint32_t>(data_entry_at[i]));
      }
    }
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    w.U32(rva + static_cast<uint32_t>(data_at[i]));
    w.U32(static_cast<uint32_t>(resources[i].data.size()));
    w.U32(0);  // code page
    w.U32(0);
  }
  for (size_t i = 0; i < resources.size(); ++i) {
    w.PadTo(data_at[i]);
    w.Bytes(resources[i].data);
  }
  return w.bytes;
}

inline std::vector<uint8_t> BuildPe(const std::vector<PeResource>& resources,
                                    const PeOptions& options = {}) {
  const std::vector<uint8_t> section = BuildResourceSection(resources, options.section_rva);
  const uint32_t raw_size = static_cast<uint32_t>((section.size() + options.file_alignment - 1) /
                                                  options.file_alignment * options.file_alignment);
  const uint16_t optional_size = options.pe32_plus ? 240 : 224;
  ByteWriter w;
  // DOS header: "MZ", then the offset of the PE signature at 0x3C.
  w.U16(0x5A4D);
  w.PadTo(0x3C);
  w.U32(0x80);
  w.PadTo(0x80);
  w.U32(0x00004550);  // "PE\0\0"
  // COFF header
  w.U16(options.pe32_plus ? 0x8664 : 0x014C);
  w.U16(1);  // sections
  w.U32(0);  // time stamp
  w.U32(0);  // symbol table
  w.U32(0);  // symbols
  w.U16(optional_size);
  w.U16(0x0102);  // executable image, 32-bit machine
  // Optional header
  const size_t opt = w.bytes.size();
  w.U16(options.pe32_plus ? 0x20B : 0x10B);
  w.PadTo(opt + 16);
  w.U32(0x1000);  // entry point
  if (options.pe32_plus) {
    w.PadTo(opt + 24);
    w.U64(0x140000000ull);  // image base
  } else {
    w.PadTo(opt + 28);
    w.U32(0x400000);  // image base
  }
  w.U32(0x1000);                  // section alignment
  w.U32(options.file_alignment);  // file alignment
  const size_t count_at = opt + (options.pe32_plus ? 108 : 92);
  w.PadTo(count_at);
  w.U32(16);  // data directories
  for (uint32_t i = 0; i < 16; ++i) {
    if (i == 2 && options.with_resource_directory) {
      w.U32(options.section_rva);
      w.U32(static_cast<uint32_t>(section.size()));
    } else {
      w.U64(0);
    }
  }
  w.PadTo(opt + optional_size);
  // Section table: ".rsrc"
  const uint32_t raw_offset = options.file_alignment;
  for (char c : std::string_view(".rsrc\0\0\0", 8)) w.U8(static_cast<uint8_t>(c));
  w.U32(static_cast<uint32_t>(section.size()));  // virtual size
  w.U32(options.section_rva);
  w.U32(raw_size);
  w.U32(raw_offset);
  w.U32(0);
  w.U32(0);
  w.U16(0);
  w.U16(0);
  w.U32(0x40000040);  // initialised data, readable
  w.PadTo(raw_offset);
  w.Bytes(section);
  w.PadTo(raw_offset + raw_size);
  return w.bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

}  // namespace update_test

#endif  // QUORVEL_TESTS_UPDATE_PE_BUILDER_H_
