// JSON text of values: what the tools print and the comparisons with other readers rely on.
#include "jet/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using jet::Value;

TEST(JsonTest, TextsAreQuotedAsJavaScriptWritesThem) {
  struct Case {
    std::u16string text;
    std::string json;
  };
  const Case cases[] = {
      {u"", "\"\""},
      {u"plain", "\"plain\""},
      {u"東京都 河川区域", "\"東京都 河川区域\""},
      {u"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {u"\b\f\n\r\t", "\"\\b\\f\\n\\r\\t\""},
      {std::u16string(u"a\0b", 3) + u"\x01\x1f", "\"a\\u0000b\\u0001\\u001f\""},
      {u"𠮷x", "\"𠮷x\""},         // a pair is one character
      {u"\xD842", "\"\\ud842\""},  // a lone high surrogate at the end
      {u"\xDFB7"
       u"a\xD842"
       u"b",
       "\"\\udfb7a\\ud842b\""},  // lone halves amid text
      {u"\x7f\xA0€", "\"\x7f\u00A0€\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(jet::json::Quote(c.text), c.json);
    std::string appended = "[1,";
    jet::json::AppendQuoted(c.text, appended);
    EXPECT_EQ(appended, "[1," + c.json);
  }
}

TEST(JsonTest, ValuesAppendAsTheyPrintAlone) {
  const Value values[] = {Value(),
                          Value::Boolean(true),
                          Value::Integer(-9223372036854775807LL - 1),
                          Value::Integer(42),
                          Value::Double(0.1),
                          Value::Double(1e21),
                          Value::Text(u"a\"b"),
                          Value::Binary({0x00, 0xAB, 0xFF})};
  const char* const expected[] = {"null", "true",  "-9223372036854775808", "42",
                                  "0.1",  "1e+21", "\"a\\\"b\"",           "\"00abff\""};
  std::string row = "[";
  for (size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(jet::json::FromValue(values[i]), expected[i]);
    if (i) row += ',';
    jet::json::AppendValue(values[i], row);
  }
  EXPECT_EQ(row + "]", jet::json::Row(std::vector<Value>(std::begin(values), std::end(values))));
}

}  // namespace
