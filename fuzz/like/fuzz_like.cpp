// LIKE on a pattern and a text taken from the input, both of which may be long: matching must
// stay within the time of the pattern's length times the text's, whatever the pattern holds
// (long character lists, runs of "[" never closed, many "%").
//
// Input: byte 0 and byte 1 give how many times (1 to 16) the pattern and the text are
// repeated, so that short inputs can make long patterns; the rest is UTF-8, the pattern up to
// the first line break and the text after it (the pattern itself when there is none). The
// text is cut so that the product of the two lengths stays at most kMaxWork.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/utf.h"
#include "jet/sql.h"

namespace {

constexpr size_t kMaxWork = size_t{1} << 22;

std::u16string Repeated(std::u16string_view piece, size_t times) {
  std::u16string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t pattern_times = 1 + data[0] % 16u;
  const size_t text_times = 1 + data[1] % 16u;
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const size_t line_break = rest.find('\n');
  const std::u16string pattern_piece = base::FromUtf8(rest.substr(0, line_break));
  const std::u16string text_piece = line_break == std::string_view::npos
                                        ? pattern_piece
                                        : base::FromUtf8(rest.substr(line_break + 1));
  const std::u16string pattern = Repeated(pattern_piece, pattern_times);
  std::u16string text = Repeated(text_piece, text_times);
  const size_t most = kMaxWork / (pattern.size() + 1);
  if (text.size() > most) text.resize(most);

  const jet::sql::LikePattern compiled(pattern);
  const bool matched = compiled.Matches(text);
  // The one-off form compiles the same pattern the same way.
  if (jet::sql::Like(text, pattern) != matched) __builtin_trap();
  // A text without wildcards or lists, taken as a pattern, matches itself.
  if (text.find_first_of(u"%_[") == std::u16string::npos &&
      !jet::sql::LikePattern(text).Matches(text)) {
    __builtin_trap();
  }
  return 0;
}
