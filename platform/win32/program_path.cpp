// The running executable's path from GetModuleFileNameW.
#include "platform/program_path.h"

#include <windows.h>

#include <string>

#include "platform/error.h"

namespace platform {

std::u16string ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) throw Error(u"実行ファイルのパスを取得できません");
    // A full buffer means the name may have been cut: try again with more room.
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  return std::u16string(path.begin(), path.end());
}

std::u16string ProgramDirectory() {
  const std::u16string path = ProgramPath();
  const size_t last = path.find_last_of(u"\\/");
  return last == std::u16string::npos ? std::u16string() : path.substr(0, last + 1);
}

}  // namespace platform
