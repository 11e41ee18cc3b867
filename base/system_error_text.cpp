#include "base/system_error_text.h"

#include <array>
#include <string_view>

namespace base {
namespace {

struct Reason {
  std::errc condition;
  std::u16string_view text;
};

constexpr std::array<Reason, 16> kReasons = {{
    {std::errc::no_such_file_or_directory, u"ファイルまたはフォルダーが見つかりません"},
    {std::errc::permission_denied, u"アクセスが拒否されました"},
    {std::errc::operation_not_permitted, u"アクセスが拒否されました"},
    {std::errc::no_space_on_device, u"ディスクの空き領域が足りません"},
    {std::errc::read_only_file_system, u"読み取り専用のドライブです"},
    {std::errc::is_a_directory, u"フォルダーです"},
    {std::errc::not_a_directory, u"パスの途中がフォルダーではありません"},
    {std::errc::file_exists, u"同じ名前のファイルまたはフォルダーが既にあります"},
    {std::errc::too_many_files_open, u"開いているファイルが多すぎます"},
    {std::errc::too_many_files_open_in_system, u"開いているファイルが多すぎます"},
    {std::errc::io_error, u"入出力エラーが発生しました"},
    {std::errc::filename_too_long, u"名前が長すぎます"},
    {std::errc::file_too_large, u"ファイルが大きすぎます"},
    {std::errc::invalid_argument, u"通常のファイルではないか、指定が正しくありません"},
    {std::errc::device_or_resource_busy, u"ほかのプログラムが使用中です"},
    {std::errc::text_file_busy, u"ほかのプログラムが使用中です"},
}};

std::u16string AsciiNumber(int value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

std::u16string SystemErrorReason(std::error_code code) {
  const std::error_condition condition = code.default_error_condition();
  for (const Reason& reason : kReasons) {
    if (condition == reason.condition) return std::u16string(reason.text);
  }
  return u"システム エラーが発生しました (コード " + AsciiNumber(code.value()) + u")";
}

std::u16string SystemErrorMessage(std::u16string_view what, std::error_code code) {
  std::u16string message(what);
  message += u": ";
  message += SystemErrorReason(code);
  return message;
}

}  // namespace base
