// Stored texts as other writers leave them: compressed texts that switch between one-byte and
// two-byte characters, odd lengths, and a mode switch as the last byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/format/text.h"

namespace {

TEST(TextDecodeTest, CompressedTextsSwitchModesAtZeroBytes) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::u16string text;
  };
  const Case cases[] = {
      {"empty", {}, u""},
      {"one odd byte", {0x41}, u""},
      {"two-byte text", {0x41, 0x00, 0x42, 0x30}, u"A\x3042"},
      {"two-byte text with an odd tail", {0x41, 0x00, 0x42}, u"A"},
      {"just the marker", {0xFF, 0xFE}, u"\xFEFF"},
      {"compressed", {0xFF, 0xFE, 'a', 'b', 'c'}, u"abc"},
      {"Latin-1 bytes", {0xFF, 0xFE, 0xE4, 0xFC}, u"\xE4\xFC"},
      {"switch to two bytes and back",
       {0xFF, 0xFE, 'a', 0x00, 0x42, 0x30, 0x44, 0x30, 0x00, 'b', 'c'},
       u"a\x3042\x3044"
       u"bc"},
      {"starts in two bytes", {0xFF, 0xFE, 0x00, 0x42, 0x30}, u"\x3042"},
      {"switch as the last byte", {0xFF, 0xFE, 'a', 'b', 0x00}, u"ab"},
      {"two-byte mode cut in a character", {0xFF, 0xFE, 'a', 0x00, 0x42}, u"a"},
      {"switches back to back", {0xFF, 0xFE, 0x00, 0x00, 'x', 0x00, 0x00, 'y'}, u"xy"},
  };
  std::u16string reused = u"left from an earlier row, longer than any case";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::span<const uint8_t> bytes(c.bytes);
    EXPECT_EQ(jet::format::DecodeText(bytes), c.text);
    jet::format::DecodeTextInto(bytes, reused);
    EXPECT_EQ(reused, c.text);
  }
}

}  // namespace
