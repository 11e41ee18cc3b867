// The program's error: a message for the user in UTF-16. "Raises an error" in this program
// means throwing one of these; the application's default error report shows the message.
#ifndef QUORVEL_PLATFORM_ERROR_H_
#define QUORVEL_PLATFORM_ERROR_H_

#include <stdexcept>
#include <string>

namespace platform {

class Error : public std::runtime_error {
 public:
  explicit Error(std::u16string message);
  const std::u16string& message() const noexcept { return message_; }

 private:
  std::u16string message_;
};

}  // namespace platform

#endif  // QUORVEL_PLATFORM_ERROR_H_
