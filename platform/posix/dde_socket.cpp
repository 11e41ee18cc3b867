// The socket folder, endpoint names, peer check and wire form of DDE on POSIX.
#include "platform/posix/dde_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "base/fold.h"
#include "base/utf.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/system_error.h"
#include "platform/text.h"

namespace platform::dde {

std::filesystem::path EndpointDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') {
    return std::filesystem::path(runtime) / "dde";
  }
  return std::filesystem::path("/tmp") / ("dde-" + std::to_string(getuid()));
}

std::filesystem::path EndpointPath(std::u16string_view service, std::u16string_view topic) {
  // Names go to the code page first, as DDE string handles do, then to file-name bytes.
  const std::u16string s = FromCodePage932(ToCodePage932(service));
  const std::u16string t = FromCodePage932(ToCodePage932(topic));
  return EndpointDirectory() / base::AsciiLower(base::ToUtf8(s) + "." + base::ToUtf8(t));
}

void EnsureEndpointDirectory() {
  const std::filesystem::path dir = EndpointDirectory();
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    throw SystemError(u"DDE の通信用フォルダを作成できません: " + FromPath(dir), errno);
  }
  if (!DirectoryIsPrivate(dir)) {
    throw Error(u"DDE の通信用フォルダが安全ではありません: " + FromPath(dir));
  }
}

bool DirectoryIsPrivate(const std::filesystem::path& dir) {
  struct stat st {};
  if (lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool PeerIsSameUser(int fd) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) return false;
  return credentials.uid == getuid();
}

void PutU32(std::string& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

uint32_t GetU32(const char* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

std::string ExecuteFrame(std::string_view data, uint32_t format) {
  std::string frame;
  frame.reserve(kFrameHeader + data.size());
  frame.push_back(kExecuteTag);
  PutU32(frame, format);
  PutU32(frame, static_cast<uint32_t>(data.size()));
  frame.append(data);
  return frame;
}

}  // namespace platform::dde
