// The program's one error type under all of its names.
#include "base/error.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace base {
namespace {

TEST(ErrorTest, CarriesTheMessageInUtf16AndUtf8) {
  try {
    throw Error(u"ファイルを開けません: a\u00E4");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "ファイルを開けません: a\xC3\xA4");
    const auto* error = dynamic_cast<const Error*>(&e);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message(), u"ファイルを開けません: a\u00E4");
  }
}

TEST(ErrorTest, AnUnpairedSurrogateStaysInTheMessage) {
  const std::u16string message = std::u16string(u"x") + char16_t{0xD800};
  const Error error(message);
  EXPECT_EQ(error.message(), message);
  EXPECT_STREQ(error.what(), "x\xEF\xBF\xBD");
}

}  // namespace
}  // namespace base
