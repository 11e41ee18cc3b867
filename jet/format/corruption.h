// The errors a damaged or foreign file raises. Every message is Japanese, for the user, and
// names the page where that helps whoever looks at the file.
#ifndef QUORVEL_JET_FORMAT_CORRUPTION_H_
#define QUORVEL_JET_FORMAT_CORRUPTION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace jet::format {

inline constexpr uint32_t kNoPage = 0xFFFFFFFF;

// "データベース ファイルが壊れています (<detail>)", with the page when it is known.
[[noreturn]] void ThrowCorrupt(std::u16string_view detail, uint32_t page = kNoPage);
[[noreturn]] void ThrowOutOfBounds(uint32_t page, size_t offset, size_t length);

// Decimal digits of a number, for messages.
std::u16string Number(uint64_t value);

}  // namespace jet::format

#endif  // QUORVEL_JET_FORMAT_CORRUPTION_H_
