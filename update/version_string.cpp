#include "update/version_string.h"

#include <cstdio>
#include <vector>

#include "platform/error.h"
#include "platform/text.h"
#include "update/version_block.h"
#include "update/version_source.h"

namespace update {
namespace {

constexpr size_t kTranslationEntrySize = 4;

std::u16string Hex4(uint16_t value) {
  char digits[5];
  std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(value));
  return std::u16string(digits, digits + 4);
}

}  // namespace

std::u16string GetVersionString(std::u16string_view file_path, uint8_t key_index) {
  std::vector<uint8_t> block = ReadVersionBlock(platform::ToPath(file_path));
  if (block.empty()) return {};

  // A translation value shorter than one entry cannot name a string table either.
  std::optional<VersionValue> translation = QueryVersionValue(block, u"\\VarFileInfo\\Translation");
  if (!translation || translation->length < kTranslationEntrySize) {
    throw platform::Error(std::u16string(kVersionInfoError));
  }
  const uint8_t* entry = translation->data;
  uint16_t language = static_cast<uint16_t>(entry[0] | (entry[1] << 8));
  uint16_t code_page = static_cast<uint16_t>(entry[2] | (entry[3] << 8));

  if (key_index >= kVersionKeys.size()) return {};
  std::u16string path = u"\\StringFileInfo\\" + Hex4(language) + Hex4(code_page) + u"\\";
  path += kVersionKeys[key_index];

  std::optional<VersionValue> value = QueryVersionValue(block, path);
  if (!value || value->length == 0) return {};

  // A string stored as a binary value reports bytes; its characters are half as many.
  size_t length = value->is_text ? value->length : value->length / 2;
  std::u16string text(length, u'\0');
  for (size_t i = 0; i < length; ++i) {
    char16_t c = static_cast<char16_t>(value->data[2 * i] | (value->data[2 * i + 1] << 8));
    if (c == u'\0') break;
    text[i] = c;
  }
  return text;
}

}  // namespace update
