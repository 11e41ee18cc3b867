// Paths are UTF-16 on Windows, as the program's texts are: the conversion only checks them.
#include "platform/text.h"

#include <string>

#include "base/utf.h"

namespace platform {

std::filesystem::path ToPath(std::u16string_view text) {
  // A lone surrogate cannot name a file; it becomes U+FFFD as on POSIX.
  const std::u16string checked = base::FromUtf8(base::ToUtf8(text));
  return std::filesystem::path(std::wstring(checked.begin(), checked.end()));
}

std::u16string FromPath(const std::filesystem::path& path) {
  const std::wstring& native = path.native();
  return std::u16string(native.begin(), native.end());
}

}  // namespace platform
