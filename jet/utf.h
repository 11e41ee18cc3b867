// UTF-16 <-> UTF-8 for the engine's messages and file names (the engine depends on nothing
// else of ours, so it carries its own small converter).
#ifndef QUORVEL_JET_UTF_H_
#define QUORVEL_JET_UTF_H_

#include <string>
#include <string_view>

namespace jet {

std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace jet

#endif  // QUORVEL_JET_UTF_H_
