// UTF-8 <-> UTF-16, the one converter of the program. Conversion never fails: an ill-formed
// sequence (an unpaired surrogate, a stray or truncated UTF-8 byte sequence, an overlong form,
// a code point above U+10FFFF) becomes U+FFFD.
#ifndef QUORVEL_BASE_UTF_H_
#define QUORVEL_BASE_UTF_H_

#include <filesystem>
#include <string>
#include <string_view>

namespace base {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// The same conversions appending to `out`, for callers that keep one buffer across many
// texts so that its capacity is reused.
void AppendUtf8(std::u16string_view text, std::string& out);
void AppendUtf16(std::string_view text, std::u16string& out);

// A path named by UTF-8 text. It goes through char8_t: a plain narrow string would be read in
// the ANSI code page on Windows and lose every name outside it.
std::filesystem::path PathFromUtf8(std::string_view text);

}  // namespace base

#endif  // QUORVEL_BASE_UTF_H_
