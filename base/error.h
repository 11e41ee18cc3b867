// The program's one error type: a message for the user in UTF-16 (Japanese). "Raises an
// error" in this program means throwing one of these; what() gives the same text in UTF-8.
// The engine and the platform layer name it jet::Error and platform::Error.
#ifndef QUORVEL_BASE_ERROR_H_
#define QUORVEL_BASE_ERROR_H_

#include <stdexcept>
#include <string>

namespace base {

class Error : public std::runtime_error {
 public:
  explicit Error(std::u16string message);
  const std::u16string& message() const noexcept { return message_; }

 private:
  std::u16string message_;
};

}  // namespace base

#endif  // QUORVEL_BASE_ERROR_H_
