// Japanese reasons for Win32 error codes: the codes that mean what an errno value means read
// the same as that value, the ones with no errno counterpart have their own text, and an
// unknown code keeps its number.
#include "base/system_error_text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include <gtest/gtest.h>

namespace {

TEST(Win32ErrorReason, WordsCommonCodesLikeTheirErrnoValues) {
  const struct {
    uint32_t code;
    std::errc same_as;
  } cases[] = {
      {2, std::errc::no_such_file_or_directory},  // ERROR_FILE_NOT_FOUND
      {3, std::errc::no_such_file_or_directory},  // ERROR_PATH_NOT_FOUND
      {5, std::errc::permission_denied},          // ERROR_ACCESS_DENIED
      {39, std::errc::no_space_on_device},        // ERROR_HANDLE_DISK_FULL
      {112, std::errc::no_space_on_device},       // ERROR_DISK_FULL
      {80, std::errc::file_exists},               // ERROR_FILE_EXISTS
      {183, std::errc::file_exists},              // ERROR_ALREADY_EXISTS
      {19, std::errc::read_only_file_system},     // ERROR_WRITE_PROTECT
      {206, std::errc::filename_too_long},        // ERROR_FILENAME_EXCED_RANGE
      {32, std::errc::device_or_resource_busy},   // ERROR_SHARING_VIOLATION
      {123, std::errc::invalid_argument},         // ERROR_INVALID_NAME
  };
  for (const auto& c : cases) {
    EXPECT_EQ(base::Win32ErrorCondition(c.code), c.same_as) << c.code;
    EXPECT_EQ(base::Win32ErrorReason(c.code),
              base::SystemErrorReason(std::make_error_code(c.same_as)))
        << c.code;
  }
  EXPECT_EQ(base::Win32ErrorReason(5), u"アクセスが拒否されました");
}

TEST(Win32ErrorReason, GivesCodesWithoutErrnoCounterpartTheirOwnText) {
  const struct {
    uint32_t code;
    std::u16string text;
  } cases[] = {
      {33, u"ファイルの一部が別のプログラムによってロックされています"},
      {38, u"ファイルの終わりを越えています"},
      {4294967295u, u"システム エラーが発生しました (コード 4294967295)"},
      {1234, u"システム エラーが発生しました (コード 1234)"},
  };
  for (const auto& c : cases) EXPECT_EQ(base::Win32ErrorReason(c.code), c.text) << c.code;
  EXPECT_EQ(base::Win32ErrorCondition(38), std::nullopt);
  EXPECT_EQ(base::Win32ErrorCondition(1234), std::nullopt);
}

}  // namespace
