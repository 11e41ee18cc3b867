#include "jet/format/corruption.h"

#include "jet/jet.h"

namespace jet::format {

std::u16string Number(uint64_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

void ThrowCorrupt(std::u16string_view detail, uint32_t page) {
  std::u16string message = u"データベース ファイルが壊れています (";
  if (page != kNoPage) message += u"ページ " + Number(page) + u": ";
  message += detail;
  message += u")";
  throw Error(std::move(message));
}

void ThrowOutOfBounds(uint32_t page, size_t offset, size_t length) {
  ThrowCorrupt(
      u"範囲外の位置 " + Number(offset) + u" から " + Number(length) + u" バイトを読もうとしました",
      page);
}

}  // namespace jet::format
