#include "platform/error.h"

#include "platform/text.h"

namespace platform {

Error::Error(std::u16string message)
    : std::runtime_error(ToUtf8(message)), message_(std::move(message)) {}

}  // namespace platform
