#include "platform/text.h"

#include "jet/utf.h"

namespace platform {

// The engine's converter is the one converter of the program; the engine depends on nothing
// of ours, so the conversion lives there.
std::string ToUtf8(std::u16string_view text) { return jet::Utf16ToUtf8(text); }

std::u16string FromUtf8(std::string_view text) { return jet::Utf8ToUtf16(text); }

std::filesystem::path ToPath(std::u16string_view text) {
  return std::filesystem::path(ToUtf8(text));
}

std::u16string FromPath(const std::filesystem::path& path) { return FromUtf8(path.native()); }

}  // namespace platform
