#include "base/error.h"

#include <utility>

#include "base/utf.h"

namespace base {

Error::Error(std::u16string message)
    : std::runtime_error(ToUtf8(message)), message_(std::move(message)) {}

}  // namespace base
