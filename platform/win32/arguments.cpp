#include "platform/arguments.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>

#include "base/utf.h"

namespace platform {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  arguments.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    const std::wstring_view argument(wide[i]);
    arguments.push_back(base::ToUtf8(std::u16string(argument.begin(), argument.end())));
  }
  ::LocalFree(wide);
  return arguments;
}

}  // namespace platform
