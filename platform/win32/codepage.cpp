// PENDING: replaced by the MultiByteToWideChar/WideCharToMultiByte implementation.
#include "platform/codepage.h"

namespace platform {
std::string ToCodePage932(std::u16string_view) { return {}; }
std::u16string FromCodePage932(std::string_view) { return {}; }
}  // namespace platform
