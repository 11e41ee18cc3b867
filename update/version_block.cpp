#include "update/version_block.h"

#include <algorithm>
#include <stdexcept>

#include "base/fold.h"

namespace update {
namespace {

constexpr size_t kNodeHeaderSize = 6;
constexpr uint16_t kBinaryValue = 0;
constexpr uint16_t kTextValue = 1;

size_t AlignUp4(size_t offset) { return (offset + 3) & ~size_t{3}; }

// ---- building ----

class BlockWriter {
 public:
  void U16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(static_cast<uint16_t>(v));
    U16(static_cast<uint16_t>(v >> 16));
  }
  void Text(std::u16string_view text) {
    for (char16_t c : text) U16(static_cast<uint16_t>(c));
    U16(0);
  }
  void Pad() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  size_t size() const { return bytes_.size(); }
  void PatchU16(size_t at, size_t v) {
    if (v > 0xFFFF) throw std::length_error("version block node exceeds 65535 bytes");
    bytes_[at] = static_cast<uint8_t>(v);
    bytes_[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

  // Writes one node: header, key, the value written by `value`, then the children written by
  // `children`, each child preceded by padding. Returns nothing; wLength is patched at the end.
  template <typename ValueFn, typename ChildrenFn>
  void Node(std::u16string_view key, uint16_t type, size_t value_length, ValueFn value,
            ChildrenFn children) {
    Pad();
    size_t start = size();
    U16(0);  // wLength, patched below
    U16(0);
    PatchU16(start + 2, value_length);
    U16(type);
    Text(key);
    Pad();
    value();
    children();
    PatchU16(start, size() - start);
  }

 private:
  std::vector<uint8_t> bytes_;
};

void WriteFixed(BlockWriter& w, const FixedFileInfo& f) {
  w.U32(kFixedFileInfoSignature);
  w.U32(0x00010000);  // structure version 1.0
  w.U32(static_cast<uint32_t>(f.file_version >> 32));
  w.U32(static_cast<uint32_t>(f.file_version));
  w.U32(static_cast<uint32_t>(f.product_version >> 32));
  w.U32(static_cast<uint32_t>(f.product_version));
  w.U32(f.file_flags_mask);
  w.U32(f.file_flags);
  w.U32(f.file_os);
  w.U32(f.file_type);
  w.U32(f.file_subtype);
  w.U32(static_cast<uint32_t>(f.file_date >> 32));
  w.U32(static_cast<uint32_t>(f.file_date));
}

// ---- reading ----

class BlockReader {
 public:
  explicit BlockReader(std::span<const uint8_t> block) : block_(block) {}

  // One parsed node, all offsets from the start of the block.
  struct Node {
    size_t end = 0;  // one past the node's last byte, within the block
    uint16_t value_length = 0;
    uint16_t type = 0;
    size_t key_start = 0;
    size_t key_chars = 0;
    size_t value_start = 0;
    size_t children_start = 0;
  };

  // Parses the node at `offset` within a parent ending at `limit`. No value when the node does
  // not fit or its key has no NUL.
  std::optional<Node> ParseNode(size_t offset, size_t limit) const {
    if (limit > block_.size() || offset > limit || limit - offset < kNodeHeaderSize) {
      return std::nullopt;
    }
    uint16_t length = U16(offset);
    if (length < kNodeHeaderSize) return std::nullopt;
    Node node;
    node.end = offset + length <= limit ? offset + length : limit;
    node.value_length = U16(offset + 2);
    node.type = U16(offset + 4);
    node.key_start = offset + kNodeHeaderSize;
    size_t p = node.key_start;
    while (true) {
      if (p + 2 > node.end) return std::nullopt;
      if (U16(p) == 0) break;
      p += 2;
    }
    node.key_chars = (p - node.key_start) / 2;
    node.value_start = AlignUp4(p + 2);
    size_t value_bytes =
        node.type == kTextValue ? size_t{node.value_length} * 2 : size_t{node.value_length};
    node.children_start = AlignUp4(node.value_start + value_bytes);
    return node;
  }

  bool KeyEquals(const Node& node, std::u16string_view name) const {
    if (node.key_chars != name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
      if (base::AsciiUpper(U16(node.key_start + 2 * i)) != base::AsciiUpper(name[i])) return false;
    }
    return true;
  }

  // The child of `parent` named `name`, if any.
  std::optional<Node> FindChild(const Node& parent, std::u16string_view name) const {
    size_t offset = parent.children_start;
    while (offset < parent.end) {
      std::optional<Node> child = ParseNode(offset, parent.end);
      if (!child) return std::nullopt;
      if (KeyEquals(*child, name)) return child;
      offset = AlignUp4(child->end);
    }
    return std::nullopt;
  }

  VersionValue ValueOf(const Node& node) const {
    VersionValue value;
    value.is_text = node.type == kTextValue;
    size_t available = node.value_start < node.end ? node.end - node.value_start : 0;
    if (value.is_text) {
      value.length = std::min<size_t>(node.value_length, available / 2);
    } else {
      value.length = std::min<size_t>(node.value_length, available);
    }
    value.data = block_.data() + std::min(node.value_start, block_.size());
    return value;
  }

  uint16_t U16(size_t at) const {
    return static_cast<uint16_t>(block_[at] | (block_[at + 1] << 8));
  }

 private:
  std::span<const uint8_t> block_;
};

}  // namespace

std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info) {
  BlockWriter w;
  auto no_value = [] {};
  w.Node(
      u"VS_VERSION_INFO", kBinaryValue, kFixedFileInfoSize, [&] { WriteFixed(w, info.fixed); },
      [&] {
        if (!info.string_tables.empty()) {
          w.Node(u"StringFileInfo", kTextValue, 0, no_value, [&] {
            for (const StringTable& table : info.string_tables) {
              w.Node(table.key, kTextValue, 0, no_value, [&] {
                for (const VersionString& s : table.strings) {
                  size_t stored = s.value.size() + (s.length_counts_nul ? 1 : 0);
                  w.Node(
                      s.key, kTextValue, stored, [&] { w.Text(s.value); }, no_value);
                }
              });
            }
          });
        }
        if (info.translations) {
          w.Node(u"VarFileInfo", kTextValue, 0, no_value, [&] {
            w.Node(
                u"Translation", kBinaryValue, info.translations->size() * 4,
                [&] {
                  for (uint32_t entry : *info.translations) w.U32(entry);
                },
                no_value);
          });
        }
      });
  return w.Take();
}

VersionInfo ProgramVersionInfo(std::u16string_view archive_url, std::u16string_view version) {
  VersionInfo info;
  info.fixed.file_version = PackVersion(1, 0, 0, 0);
  info.fixed.product_version = PackVersion(1, 0, 0, 0);
  StringTable table;
  table.key = u"040904E4";
  table.strings = {
      {u"CompanyName", u"ProjectQuorvel developers"},
      {u"FileDescription", u"ProjectQuorvel"},
      {u"FileVersion", std::u16string(version)},
      {u"InternalName", std::u16string(archive_url)},
      {u"LegalCopyright", u"Copyright (C) ProjectQuorvel developers"},
      {u"OriginalFilename", u"ProjectQuorvel.exe"},
      {u"ProductName", u"ProjectQuorvel"},
      {u"ProductVersion", std::u16string(version)},
      {u"ProgramID", u"ProjectQuorvel"},
  };
  info.string_tables.push_back(std::move(table));
  info.translations = std::vector<uint32_t>{0x04E40409};
  return info;
}

std::optional<VersionValue> QueryVersionValue(std::span<const uint8_t> block,
                                              std::u16string_view path) {
  BlockReader reader(block);
  std::optional<BlockReader::Node> node = reader.ParseNode(0, block.size());
  if (!node) return std::nullopt;
  size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] == u'\\') {
      ++pos;
      continue;
    }
    size_t next = path.find(u'\\', pos);
    if (next == std::u16string_view::npos) next = path.size();
    node = reader.FindChild(*node, path.substr(pos, next - pos));
    if (!node) return std::nullopt;
    pos = next;
  }
  return reader.ValueOf(*node);
}

}  // namespace update
