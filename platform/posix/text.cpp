#include "platform/text.h"

#include "base/utf.h"

namespace platform {

std::filesystem::path ToPath(std::u16string_view text) {
  return std::filesystem::path(base::ToUtf8(text));
}

std::u16string FromPath(const std::filesystem::path& path) { return base::FromUtf8(path.native()); }

}  // namespace platform
