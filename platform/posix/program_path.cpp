// The running executable's path from /proc/self/exe.
#include "platform/program_path.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "base/utf.h"
#include "platform/error.h"

namespace platform {

std::u16string ProgramPath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) throw Error(u"実行ファイルのパスを取得できません");
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      break;
    }
    path.resize(path.size() * 2);
  }
  // After the executable has been replaced on disk (an update), the link names the old file
  // with " (deleted)" behind it; the program still lives under the original name.
  constexpr std::string_view kDeleted = " (deleted)";
  struct stat info;
  if (path.ends_with(kDeleted) && ::stat(path.c_str(), &info) != 0) {
    path.resize(path.size() - kDeleted.size());
  }
  return base::FromUtf8(path);
}

std::u16string ProgramDirectory() {
  const std::u16string path = ProgramPath();
  const size_t last = path.rfind(u'/');
  return last == std::u16string::npos ? std::u16string() : path.substr(0, last + 1);
}

}  // namespace platform
